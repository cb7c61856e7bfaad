#pragma once
// What a directory holds, entry by entry, to compare a whole tree before and
// after a step: each path (relative to the directory) with its kind, mode,
// owner and link count, and the bytes of a file or the target of a link.
// FIFOs and devices are only looked at, never opened. Long contents are
// shown by their length, start and a hash, so that a failing comparison
// stays readable.

#include <map>
#include <string>
#include <utility>

using FileTree = std::map<std::string, std::pair<std::string, std::string>>;

FileTree DescribeFileTree(const std::string& directory);

// How the tree shows a file holding `bytes`.
std::string DescribeFileBytes(const std::string& bytes);
