#include "core/res/StringTable.h"

#include "core/res/Resource.h"

const char* const kHomePageAddress = "https://kestrune.example/durvane/";

namespace {

struct Entry {
    int id;
    const char* text;
};

const Entry kStrings[] = {
    {IDR_MAINFRAME, "tarnel\n\nTarnel\n\n\nTarnel.Document\nTarnel Document"},
    {AFX_IDS_APP_TITLE, "Kestrune.A"},
    {AFX_IDS_IDLEMESSAGE, "ﾚﾃﾞｨ"},
    {ID_INDICATOR_KANA, "ｶﾅ"},
    {ID_INDICATOR_CAPS, "CAP"},
    {ID_INDICATOR_NUM, "NUM"},
    {ID_INDICATOR_SCRL, "SCRL"},
    {ID_SCAN_START, "ネットワーク情報収集の開始\nネットワーク情報収集の開始"},
    {ID_SAVE_RESULTS, "一覧をファイルへ保存\n一覧をファイルへ保存"},
    {ID_APP_ABOUT,
     "プログラムの情報、バージョンそして著作権を表示\nプログラムの情報、バージョンそして著作権を表示"},
    {ID_APP_EXIT, "プログラムの終了\nプログラムの終了"},
    {ID_SHOW_CHANGES, "前回のスキャンからの変化を表示\n前回との比較"},
    {ID_VIEW_TOOLBAR, "ﾂｰﾙ ﾊﾞｰの 表示/非表示\nﾂｰﾙ ﾊﾞｰの表示切り替え"},
    {ID_VIEW_STATUS_BAR, "ｽﾃｰﾀｽ ﾊﾞｰの 表示/非表示\nｽﾃｰﾀｽ ﾊﾞｰの表示切り替え"},
};

std::string Piece(int command, bool tip) {
    const char* text = LoadResourceString(command);
    if (!text)
        return {};
    std::string all = text;
    std::size_t newline = all.find('\n');
    if (newline == std::string::npos)
        return tip ? std::string() : all;
    return tip ? all.substr(newline + 1) : all.substr(0, newline);
}

} // namespace

const char* LoadResourceString(int id) {
    for (const Entry& e : kStrings)
        if (e.id == id)
            return e.text;
    return nullptr;
}

std::string CommandPrompt(int command) { return Piece(command, false); }
std::string CommandToolTip(int command) { return Piece(command, true); }
