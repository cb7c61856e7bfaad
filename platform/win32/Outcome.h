#pragma once
// What a step that may fail gives back instead of showing a box itself:
// whether it went well, and what its caller is to tell the user, if anything.

#include "platform/win32/UserMessage.h"

#include <optional>
#include <utility>

struct Outcome {
    bool ok = true;
    std::optional<UserMessage> message;

    static Outcome Done() { return {}; }
    static Outcome Failed(UserMessage message) { return {false, std::move(message)}; }
};
