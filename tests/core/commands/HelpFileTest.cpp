// The help file names every dialog caption and control, menu item and column.

#include "core/inventory/InventoryReport.h"
#include "core/res/DialogTemplate.h"
#include "core/res/MenuResource.h"
#include "core/res/Resource.h"
#include "core/scan/HostRecord.h"
#include "tests/support/TempDir.h"

#include <functional>

#include <gtest/gtest.h>

namespace {

std::string Unescaped(std::string html) {
    for (auto [entity, text] :
         {std::pair{"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&amp;", "&"}}) {
        for (std::size_t at = html.find(entity); at != std::string::npos;
             at = html.find(entity, at + 1))
            html.replace(at, std::string(entity).size(), text);
    }
    return html;
}

TEST(HelpFileTest, ExplainsEveryDialogMenuItemAndColumn) {
    const std::string help = Unescaped(TempDir::ReadFile(KD_HELP_FILE));
    ASSERT_NE(help.find("<html lang=\"ja\">"), std::string::npos);

    std::vector<std::string> texts;
    for (int id = IDD_ABOUTBOX; id <= IDD_HISTORY; ++id) {
        const DialogTemplate* dialog = FindDialogTemplate(id);
        if (!dialog)
            continue;
        texts.push_back(dialog->caption);
        for (const ControlTemplate& control : dialog->controls)
            if (control.text && *control.text)
                texts.push_back(control.text);
    }
    std::function<void(std::span<const MenuEntry>)> collect = [&](std::span<const MenuEntry> menu) {
        for (const MenuEntry& entry : menu) {
            if (entry.text && std::string(entry.text) != "_Popup")
                texts.push_back(entry.text);
            collect(entry.children);
        }
    };
    collect(FindMenu(IDR_MAINFRAME));
    collect(FindMenu(IDR_CONTEXT_MENU));
    for (const char* title : HostRecord::kTitles)
        texts.push_back(title);
    // The columns of the inventory's two dialogs and the kinds of change.
    texts.insert(texts.end(), std::begin(kChangeTitles), std::end(kChangeTitles));
    texts.insert(texts.end(), std::begin(kHistoryTitles), std::end(kHistoryTitles));
    for (ChangeKind kind : {ChangeKind::New, ChangeKind::Returned, ChangeKind::Gone,
                            ChangeKind::Renamed, ChangeKind::MacChanged, ChangeKind::Moved,
                            ChangeKind::Duplicate})
        texts.push_back(ChangeKindText(kind));

    for (const std::string& text : texts)
        EXPECT_NE(help.find(text), std::string::npos) << text;
}

TEST(HelpFileTest, NamesTheStoredEngineChoiceAndTheEngineOptionsOfVopalScan) {
    const std::string help = Unescaped(TempDir::ReadFile(KD_HELP_FILE));
    for (const char* text : {"<tr><td>FastScan</td>", "<h3 id=\"fastscan\">",
                             "<tr><td><code>--engine", "<tr><td><code>--rate",
                             "<tr><td>RecordScans</td>", "<h2 id=\"memory\">"})
        EXPECT_NE(help.find(text), std::string::npos) << text;
}

} // namespace
