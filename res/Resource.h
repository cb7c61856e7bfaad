#pragma once
// Control and command ids shared by the window layer and the engine.

// Scan start dialog (resource 130).
constexpr int IDD_SCAN_START = 130;
constexpr int IDC_CLOSE = 1; // the dialog's OK button, "閉じる(&E)"
constexpr int IDC_START_ADDRESS = 1000;
constexpr int IDC_END_ADDRESS = 1001;
constexpr int IDC_START = 1002;
constexpr int IDC_STOP = 1003;
constexpr int IDC_RANGE_LIST = 1006;
constexpr int IDC_ADD = 1007;
constexpr int IDC_DELETE = 1008;
constexpr int IDC_COPY = 1016;
constexpr int IDC_CHANGE_LIST_FILE = 1030;
constexpr int IDC_DONT_SAVE_ON_CLOSE = 1032;
constexpr int IDC_SAVE = 1033;
