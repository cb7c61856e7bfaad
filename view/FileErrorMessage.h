#pragma once
// The messages of failed file operations: one text per cause, with "%1"
// where the file's full path goes.

#include <string>

// The message for a system error number (errno); the generic message when
// no cause fits, 0 included.
const char* FileErrorMessage(int error);

// The message with `path` in place of "%1".
std::string FileErrorText(int error, const std::string& path);
