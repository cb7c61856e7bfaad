#include "platform/win32/ShellOpen.h"

bool ShellOpen(const ShellOpenHandler& opener, const std::string& target) {
    return opener && !target.empty() && opener(target);
}
