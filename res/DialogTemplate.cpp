#include "res/DialogTemplate.h"

#include "res/Resource.h"

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

const DialogTemplate kTemplates[] = {
    {IDD_ABOUTBOX, "Kestrune DURVANE のバージョン情報", 223, 66, kDialogFont, 9, true,
     kAboutControls},
    {IDD_SCAN_START, "情報取得の開始", 315, 220, kDialogFont, 9, false, kScanStartControls},
    {IDD_LIST_FILE_NAME, "IPリストファイル名の指定", 231, 96, kDialogFont, 9, false,
     kListFileNameControls},
};

} // namespace

const DialogTemplate* FindDialogTemplate(int id) {
    for (const DialogTemplate& t : kTemplates)
        if (t.id == id)
            return &t;
    return nullptr;
}
