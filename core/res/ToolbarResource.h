#pragma once
// The main window's toolbar: its buttons in order, 0 for a separator.

#include <span>

constexpr int kToolbarButtonSize = 32; // pixels

std::span<const int> MainToolbarButtons();
