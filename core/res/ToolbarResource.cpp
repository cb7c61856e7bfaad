#include "core/res/ToolbarResource.h"

#include "core/res/Resource.h"

namespace {
const int kButtons[] = {ID_SCAN_START, 0, ID_SAVE_RESULTS, ID_OPTIONS, 0, ID_SEARCH, ID_HELP_TOPICS, ID_APP_EXIT};
}

std::span<const int> MainToolbarButtons() { return kButtons; }
