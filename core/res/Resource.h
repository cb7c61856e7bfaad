#pragma once
// Control, dialog, menu, string and command ids shared by the window layer
// and the engine.

// Framework-wide ids.
constexpr int IDOK_BUTTON = 1;     // a dialog's OK button
constexpr int IDCANCEL_BUTTON = 2; // a dialog's Cancel button
constexpr int IDC_STATIC = -1;     // labels nobody addresses

// Dialogs.
constexpr int IDD_ABOUTBOX = 100;
constexpr int IDD_SCAN_START = 130;
constexpr int IDD_OPTIONS = 131;
constexpr int IDD_DIAGNOSE = 136;
constexpr int IDD_SEARCH = 135;
constexpr int IDD_LIST_FILE_NAME = 137;
constexpr int IDD_CHANGES = 138;
constexpr int IDD_HISTORY = 139;

// Menus, accelerators, toolbar, icons and the document template.
constexpr int IDR_MAINFRAME = 128;
constexpr int IDR_TARNELTYPE = 129;
constexpr int IDR_CONTEXT_MENU = 133;

// Scan start dialog (130).
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

// List file name dialog (137).
constexpr int IDC_BROWSE = 1016;
constexpr int IDC_LIST_FILE_NAME = 1029;

// Search dialog (135).
constexpr int IDC_SEARCH = 1016;
constexpr int IDC_SEARCH_TEXT = 1017;

// About box (100).
constexpr int IDC_HOME_PAGE_LINK = 1005;

// Options dialog (131).
constexpr int IDC_IGNORE_WORKSTATION_SERVICE = 1009;
constexpr int IDC_DONT_DELETE_UNRESOLVED = 1010;
constexpr int IDC_LANA_NUMBER = 1011;
constexpr int IDC_IGNORE_NIC_VENDOR = 1012;
constexpr int IDC_TEST_LANA = 1015;
constexpr int IDC_MAX_THREAD = 1018;
constexpr int IDC_PING_TIMEOUT = 1027;
constexpr int IDC_SAFE_MODE = 1028;
constexpr int IDC_FAST_SCAN = 1034;
constexpr int IDC_RECORD_SCANS = 1035;

// Changes since the last scan (138) and a host's history (139).
constexpr int IDC_INVENTORY_SUMMARY = 1036;
constexpr int IDC_INVENTORY_LIST = 1037;
constexpr int IDC_INVENTORY_SAVE = 1038;

// Diagnose dialog (136).
constexpr int IDC_DIAGNOSE_RUN = 1016;
constexpr int IDC_DIAGNOSE_DOMAIN = 1019;
constexpr int IDC_DIAGNOSE_MAC = 1020;
constexpr int IDC_DIAGNOSE_COMPUTER = 1021;
constexpr int IDC_DIAGNOSE_VENDOR = 1022;
constexpr int IDC_DIAGNOSE_ADDRESS = 1023;
constexpr int IDC_DIAGNOSE_MESSENGER = 1024;
constexpr int IDC_DIAGNOSE_MESSENGER_LABEL = 1025;
constexpr int IDC_DIAGNOSE_RESULT = 1026;

// The program's own commands.
constexpr int ID_SCAN_START = 32771;
constexpr int ID_SAVE_RESULTS = 32773;
constexpr int ID_HOME_PAGE = 32774;
constexpr int ID_OPTIONS = 32779;
constexpr int ID_COPY_COMPUTER_NAME = 32783;
constexpr int ID_COPY_MAC_ADDRESS = 32784;
constexpr int ID_COPY_VENDOR = 32785;
constexpr int ID_COPY_ADDRESS = 32786;
constexpr int ID_COPY_DOMAIN_NAME = 32787;
constexpr int ID_COPY_MESSENGER = 32788;
constexpr int ID_DELETE_SILENT_ROWS = 32789;
constexpr int ID_SEARCH = 32791;
constexpr int ID_DIAGNOSE = 32792;
constexpr int ID_HELP_TOPICS = 32793;
constexpr int ID_NET_COMMAND = 32794;
constexpr int ID_SHOW_CHANGES = 32795;
constexpr int ID_HOST_HISTORY = 32796;

// The framework's standard commands.
constexpr int ID_FILE_NEW = 57600;
constexpr int ID_FILE_OPEN = 57601;
constexpr int ID_FILE_SAVE = 57603;
constexpr int ID_FILE_PRINT_SETUP = 57606;
constexpr int ID_FILE_PRINT = 57607;
constexpr int ID_EDIT_COPY = 57634;
constexpr int ID_EDIT_CUT = 57635;
constexpr int ID_EDIT_PASTE = 57637;
constexpr int ID_EDIT_UNDO = 57643;
constexpr int ID_APP_ABOUT = 57664;
constexpr int ID_APP_EXIT = 57665;
constexpr int ID_NEXT_PANE = 57680;
constexpr int ID_PREV_PANE = 57681;
constexpr int ID_VIEW_TOOLBAR = 59392;
constexpr int ID_VIEW_STATUS_BAR = 59393;
constexpr int AFX_IDW_REBAR = 59396;

// Strings of the framework.
constexpr int AFX_IDS_APP_TITLE = 57344;
constexpr int AFX_IDS_IDLEMESSAGE = 57345;
constexpr int ID_INDICATOR_KANA = 59142;
constexpr int ID_INDICATOR_CAPS = 59137;
constexpr int ID_INDICATOR_NUM = 59138;
constexpr int ID_INDICATOR_SCRL = 59139;
