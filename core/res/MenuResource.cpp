#include "core/res/MenuResource.h"

#include "core/res/Resource.h"

namespace {

constexpr MenuEntry kSeparator{nullptr, 0, {}};

const MenuEntry kFileMenu[] = {
    {"結果をファイルへ保存(&S)", ID_SAVE_RESULTS, {}},
    kSeparator,
    {"アプリケーションの終了(&X)", ID_APP_EXIT, {}},
};
const MenuEntry kOperationMenu[] = {
    {"実行(&E)", ID_SCAN_START, {}},
    {"前回との比較(&D)", ID_SHOW_CHANGES, {}},
};
const MenuEntry kViewMenu[] = {
    {"ツールバー(&T)", ID_VIEW_TOOLBAR, {}},
    {"ステータスバー(&S)", ID_VIEW_STATUS_BAR, {}},
    kSeparator,
    {"オプション(&O)", ID_OPTIONS, {}},
};
const MenuEntry kHelpMenu[] = {
    {"ホームページへ接続(&W)", ID_HOME_PAGE, {}},
    kSeparator,
    {"バージョン情報(&A)...", ID_APP_ABOUT, {}},
    {"ヘルプ(&H)", ID_HELP_TOPICS, {}},
};
const MenuEntry kMainMenu[] = {
    {"ファイル(&F)", 0, kFileMenu},
    {"操作(&S)", 0, kOperationMenu},
    {"表示(&V)", 0, kViewMenu},
    {"ヘルプ(&H)", 0, kHelpMenu},
};

const MenuEntry kCopyMenu[] = {
    {"IPアドレス(&I)", ID_COPY_ADDRESS, {}},
    {"コンピュータ名(&C)", ID_COPY_COMPUTER_NAME, {}},
    {"ドメイン名(&W)", ID_COPY_DOMAIN_NAME, {}},
    {"MACアドレス(&M)", ID_COPY_MAC_ADDRESS, {}},
    {"NICベンダーID(&N)", ID_COPY_VENDOR, {}},
    {"メッセンジャ(&S)", ID_COPY_MESSENGER, {}},
};
const MenuEntry kContextPopup[] = {
    {"コピー", 0, kCopyMenu},
    {"反応しないアドレスを削除(&D)", ID_DELETE_SILENT_ROWS, {}},
    {"検索(&F)", ID_SEARCH, {}},
    {"診断(&A)", ID_DIAGNOSE, {}},
    {"Net コマンド発行(&N)", ID_NET_COMMAND, {}},
    {"履歴(&H)", ID_HOST_HISTORY, {}},
};
const MenuEntry kContextMenu[] = {
    {"_Popup", 0, kContextPopup},
};

} // namespace

std::span<const MenuEntry> FindMenu(int id) {
    switch (id) {
    case IDR_MAINFRAME:
        return kMainMenu;
    case IDR_CONTEXT_MENU:
        return kContextMenu;
    default:
        return {};
    }
}
