#include "core/res/DialogTemplate.h"

#include "core/res/Resource.h"

namespace {

constexpr const char* kDialogFont = "ＭＳ Ｐゴシック";

using K = ControlKind;

const ControlTemplate kAboutControls[] = {
    {IDC_STATIC, K::Label, "Kestrune Durvane Ver.030128", 5, 10, 88, 8, SS_NOPREFIX_STYLE},
    {IDC_STATIC, K::Label, "Copyright (C) 2003 Kestrune", 5, 35, 120, 8},
    {IDOK_BUTTON, K::DefaultPushButton, "OK", 165, 45, 50, 14},
    {IDC_HOME_PAGE_LINK, K::Link, "ホームページで最新版を確認", 5, 50, 87, 8},
};

const ControlTemplate kScanStartControls[] = {
    {IDC_START_ADDRESS, K::IpAddress, "", 5, 20, 104, 16},
    {IDC_END_ADDRESS, K::IpAddress, "", 5, 74, 104, 16},
    {IDC_COPY, K::PushButton, "コピー↓", 5, 40, 55, 15},
    {IDC_ADD, K::PushButton, "追加(&A)", 125, 25, 55, 20},
    {IDC_DELETE, K::PushButton, "削除(&D)", 125, 55, 55, 20},
    {IDC_SAVE, K::PushButton, "保存(&B)", 125, 145, 55, 20},
    {IDC_CHANGE_LIST_FILE, K::PushButton, "IPリストファイルの変更(&I)", 5, 105, 80, 20},
    {IDC_START, K::DefaultPushButton, "開始(&S)", 7, 175, 53, 20},
    {IDC_STOP, K::PushButton, "中止(&C)", 65, 175, 55, 20},
    {IDC_CLOSE, K::PushButton, "閉じる(&E)", 125, 175, 55, 20},
    {IDC_DONT_SAVE_ON_CLOSE, K::CheckBox, "閉じる時にIPリストファイルを保存しない", 50, 205, 129, 10},
    {IDC_RANGE_LIST, K::ListControl, "", 185, 10, 120, 205},
    {IDC_STATIC, K::Label, "開始アドレス", 6, 5, 38, 8},
    {IDC_STATIC, K::Label, "終了アドレス", 6, 60, 38, 8},
};

const ControlTemplate kListFileNameControls[] = {
    {IDC_LIST_FILE_NAME, K::Edit, "", 10, 15, 110, 15},
    {IDC_BROWSE, K::PushButton, "参照", 125, 15, 35, 15},
    {IDOK_BUTTON, K::DefaultPushButton, "OK", 175, 10, 50, 14},
    {IDCANCEL_BUTTON, K::PushButton, "ｷｬﾝｾﾙ", 175, 27, 50, 14},
    {IDC_STATIC, K::Label, "既存のファイル、あるいは新規ファイルを指定してください。", 10, 50, 190, 10},
    {IDC_STATIC, K::Label,
     "(注)IPアドレスを追加あるいは削除した場合にはこのファイルへ保存されます。", 10, 65, 195, 20},
};

const ControlTemplate kSearchControls[] = {
    {IDC_SEARCH_TEXT, K::Edit, "", 7, 10, 169, 14},
    {IDC_SEARCH, K::DefaultPushButton, "検索(&S)", 70, 40, 50, 14},
    {IDCANCEL_BUTTON, K::PushButton, "ｷｬﾝｾﾙ", 126, 40, 50, 14},
};

const ControlTemplate kOptionsControls[] = {
    {IDC_DONT_DELETE_UNRESOLVED, K::CheckBox, "失敗したアドレスを削除しない", 5, 10, 101, 10},
    {IDC_IGNORE_WORKSTATION_SERVICE, K::CheckBox, "ワークステーションサービスは無視", 5, 25, 117,
     10},
    {IDC_IGNORE_NIC_VENDOR, K::CheckBox, "NICベンダー名は表示しない", 5, 40, 97, 10},
    {IDC_STATIC, K::Label, "スレッド数", 5, 61, 30, 10},
    {IDC_MAX_THREAD, K::Edit, "", 45, 55, 25, 15, ES_NUMBER_STYLE},
    {IDC_STATIC, K::Label, "ピングタイムアウト値", 5, 85, 60, 8},
    {IDC_PING_TIMEOUT, K::Edit, "", 75, 80, 35, 15},
    {IDC_STATIC, K::Label, "ms", 115, 85, 10, 8},
    {IDC_STATIC, K::GroupBox, "", 5, 100, 135, 65},
    {IDC_STATIC, K::Label, "番号", 10, 120, 15, 10},
    {IDC_LANA_NUMBER, K::Edit, "", 35, 115, 30, 15, ES_NUMBER_STYLE},
    {IDC_TEST_LANA, K::PushButton, "テスト(&T)", 80, 110, 50, 20},
    {IDC_SAFE_MODE, K::CheckBox, "セーフモード", 15, 140, 53, 10},
    // Below the LANA frame, and in the tab order after the last switch above it.
    {IDC_FAST_SCAN, K::CheckBox, "高速スキャン(&F)", 5, 172, 70, 10},
    {IDC_RECORD_SCANS, K::CheckBox, "スキャン結果を記録する(&R)", 5, 187, 110, 10},
    {IDOK_BUTTON, K::DefaultPushButton, "OK", 180, 5, 50, 14},
    {IDCANCEL_BUTTON, K::PushButton, "ｷｬﾝｾﾙ", 180, 25, 50, 14},
};

const ControlTemplate kDiagnoseControls[] = {
    {IDC_DIAGNOSE_ADDRESS, K::Edit, "", 60, 10, 95, 20},
    {IDC_DIAGNOSE_RUN, K::DefaultPushButton, "実行(&S)", 165, 10, 65, 20},
    {IDCANCEL_BUTTON, K::PushButton, "閉じる", 165, 35, 65, 20},
    {IDC_DIAGNOSE_DOMAIN, K::Edit, "", 60, 40, 95, 20},
    {IDC_DIAGNOSE_COMPUTER, K::Edit, "", 60, 70, 95, 20},
    {IDC_DIAGNOSE_MAC, K::Edit, "", 60, 100, 95, 20},
    {IDC_DIAGNOSE_VENDOR, K::Edit, "", 60, 130, 95, 20},
    {IDC_DIAGNOSE_MESSENGER, K::Edit, "", 60, 160, 95, 20},
    {IDC_DIAGNOSE_RESULT, K::MultiLineEdit, "", 5, 190, 225, 42},
    {IDC_STATIC, K::Label, "IPアドレス", 5, 20, 50, 8},
    {IDC_STATIC, K::Label, "ドメイン名", 5, 50, 50, 8},
    {IDC_STATIC, K::Label, "コンピュータ名", 5, 80, 50, 8},
    {IDC_STATIC, K::Label, "MACアドレス", 5, 110, 50, 8},
    {IDC_STATIC, K::Label, "NICベンダー名", 5, 140, 50, 8},
    {IDC_DIAGNOSE_MESSENGER_LABEL, K::Label, "メッセンジャ", 5, 170, 50, 8},
};

// The changes of the newest recorded scan, and one host's recorded history:
// a line that says what is shown, the list, and the buttons below it.
const ControlTemplate kChangesControls[] = {
    {IDC_INVENTORY_SUMMARY, K::Label, "", 5, 5, 430, 10},
    {IDC_INVENTORY_LIST, K::ListControl, "", 5, 18, 430, 180},
    {IDC_INVENTORY_SAVE, K::PushButton, "CSVで保存(&S)", 325, 203, 55, 14},
    {IDCANCEL_BUTTON, K::PushButton, "閉じる(&C)", 385, 203, 50, 14},
};

const ControlTemplate kHistoryControls[] = {
    {IDC_INVENTORY_SUMMARY, K::Label, "", 5, 5, 510, 10},
    {IDC_INVENTORY_LIST, K::ListControl, "", 5, 18, 510, 180},
    {IDCANCEL_BUTTON, K::PushButton, "閉じる(&C)", 465, 203, 50, 14},
};

const DialogTemplate kTemplates[] = {
    {IDD_OPTIONS, "オプション", 235, 202, kDialogFont, 9, true, kOptionsControls},
    {IDD_DIAGNOSE, "診断", 235, 239, kDialogFont, 9, true, kDiagnoseControls},
    {IDD_ABOUTBOX, "Kestrune DURVANE のバージョン情報", 223, 66, kDialogFont, 9, true,
     kAboutControls},
    {IDD_SCAN_START, "情報取得の開始", 315, 220, kDialogFont, 9, false, kScanStartControls},
    {IDD_SEARCH, "検索", 183, 65, kDialogFont, 9, true, kSearchControls},
    {IDD_LIST_FILE_NAME, "IPリストファイル名の指定", 231, 96, kDialogFont, 9, false,
     kListFileNameControls},
    {IDD_CHANGES, "前回との比較", 440, 222, kDialogFont, 9, true, kChangesControls},
    {IDD_HISTORY, "履歴", 520, 222, kDialogFont, 9, true, kHistoryControls},
};

} // namespace

const DialogTemplate* FindDialogTemplate(int id) {
    for (const DialogTemplate& t : kTemplates)
        if (t.id == id)
            return &t;
    return nullptr;
}
