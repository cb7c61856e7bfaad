#include "app/ScanSettings.h"

ScanSettingsRecord ScanSettings;
