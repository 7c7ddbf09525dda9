// The engine's C call interface.
#include <searchdevice/SearchDeviceLib.h>
