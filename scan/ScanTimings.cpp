#include "scan/ScanTimings.h"

ScanTimings g_scanTimings;
