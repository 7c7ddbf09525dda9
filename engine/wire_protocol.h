// For the programs that still reach into the engine's folder for the wire
// formats; everything else links searchdevice_wire.
#pragma once

#include "wire/wire_protocol.h"
