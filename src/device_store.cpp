#include "device_store.h"
