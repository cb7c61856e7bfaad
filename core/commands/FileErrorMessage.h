#pragma once
// The messages of failed file operations: one text per cause, with "%1"
// where the file's full path goes.

#include "platform/os/AtomicFile.h"

#include <string>

// The message for a system error number (errno); the generic message when
// no cause fits, 0 included.
const char* FileErrorMessage(int error);

// The message with `path` in place of "%1".
std::string FileErrorText(int error, const std::string& path);

// The message for a failed file write: its cause where the cause is more
// than an errno value (a path that is no regular file), else its errno's.
std::string FileErrorText(const AtomicWriteResult& result, const std::string& path);
