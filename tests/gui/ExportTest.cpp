// Saving the result list from the main window: the save dialog's request, the
// file's bytes, and the failures that keep the old file.

#include "platform/win32/FileDialog.h"
#include "platform/text/TextCodec.h"
#include "core/res/Resource.h"
#include "gui/shell/CMainFrame.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/FileTree.h"
#include "tests/support/GuiHarness.h"
#include "tests/support/MachineProbes.h"
#include "tests/support/MessageBoxRecorder.h"
#include "gui/view/CTarnelView.h"

#include <filesystem>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

const std::string kTitles =
    "IPアドレス,応答,コンピュータ名,ドメイン名,MACアドレス,NICベンダー名,メッセンジャ\r\n";

class ExportTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(frame.OnCreate());
        ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
    }
    // Runs the command; the save dialog answers `chosen`, or cancels if empty.
    void Export(const std::string& chosen) {
        FileDialogHandler previous =
            SetFileDialogHandler([&](const FileDialogRequest& request, std::string& path) {
                requests.push_back(request);
                path = chosen;
                return !chosen.empty();
            });
        frame.OnCommand(ID_SAVE_RESULTS);
        SetFileDialogHandler(std::move(previous));
    }
    std::string Names() {
        std::string names;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path()))
            names += entry.path().filename().string() + " ";
        return names;
    }

    TempDir dir;
    gui::SettingsSandbox sandbox;
    MachineProbes machine;
    CMainFrame frame{sandbox.settings, {}, machine.probes};
    MessageBoxRecorder boxes;
    std::vector<FileDialogRequest> requests;
};

TEST_F(ExportTest, WritesTheListAsCp932WithCrLfAndReplacesALongerFileWhole) {
    const std::string path = dir.file("result.lst");
    TempDir::WriteFile(path, std::string(4000, 'x'));
    gui::AddRows(*frame.View(),
                 {{"192.168.1.10", "○", "PC01", "WORKGROUP", "001122334455", "不明", "PC01/USER1"},
                  {"192.168.1.11", "×"}});
    Export(path);
    std::string cp932;
    ASSERT_TRUE(Utf8ToCp932(kTitles +
                                "192.168.1.10,○,PC01,WORKGROUP,001122334455,不明,PC01/USER1\r\n"
                                "192.168.1.11,×,-,-,-,-,-\r\n",
                            cp932));
    EXPECT_EQ(TempDir::ReadFile(path), cp932);
    EXPECT_NE(cp932.find("1.11,\x81\x7E,-"), std::string::npos); // "×" as CP932 bytes
    ASSERT_EQ(requests.size(), 1u);
    const FileDialogRequest& r = requests.front();
    EXPECT_EQ(std::tuple(r.save, r.overwritePrompt, r.fileName, r.defaultExtension, r.filter,
                         r.owner == &frame),
              std::tuple(true, true, "", "lst",
                         "テキストファイル(*.txt)|*.txt|すべてのファイル(*.*)|*.*||", true));
    EXPECT_EQ(boxes.count(), 0u);
    EXPECT_EQ(Names(), "result.lst ");
}

TEST_F(ExportTest, CancelOrAFailureKeepsTheOldFileAndTellsTheCause) {
    gui::AddRows(*frame.View(), {{"192.168.1.11", "×"}});
    const std::string old = "old contents\r\n";
    TempDir::WriteFile(dir.file("old.lst"), old);
    TempDir::WriteFile(dir.file("readonly.lst"), old);
    ASSERT_EQ(chmod(dir.file("readonly.lst").c_str(), 0444), 0);
    ASSERT_EQ(mkdir(dir.file("fixed").c_str(), 0755), 0);
    ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0666), 0);
    const FileTree before = DescribeFileTree(dir.path());
    const char* const notRegular = " は通常のﾌｧｲﾙではないため、書き込めませんでした。";
    // Path ("": cancel), file size limit, run as nobody so that permission
    // bits bind root too, and the box (null: none). What is no regular file
    // is never opened to be written: a FIFO would wait for a reader.
    const struct {
        std::string path;
        rlim_t sizeLimit;
        bool asNobody;
        const char* message;
    } cases[] = {
        {"", 0, false, nullptr},
        {dir.file("old.lst"), 16, false, " へのｱｸｾｽ中にﾃﾞｨｽｸがいっぱいになりました。"},
        {dir.file("readonly.lst"), 0, true, " へのｱｸｾｽは拒否されました。"},
        {dir.file("fixed/new.lst"), 0, true, " へのｱｸｾｽは拒否されました。"},
        {dir.file("missing/new.lst"), 0, false, " には無効なﾊﾟｽが含まれています。"},
        {dir.file("fifo"), 0, false, notRegular},
        {"/dev/null", 0, false, notRegular},
        {"/dev/full", 0, false, notRegular},
        {dir.path() + "fixed", 0, false, notRegular},
    };
    for (const auto& c : cases) {
        boxes.clear();
        std::optional<FileSizeLimit> limit;
        if (c.sizeLimit)
            limit.emplace(c.sizeLimit);
        const bool nobody =
            c.asNobody && geteuid() == 0 && setegid(65534) == 0 && seteuid(65534) == 0;
        Export(c.path);
        ASSERT_TRUE(!nobody || (seteuid(0) == 0 && setegid(0) == 0));
        limit.reset();
        EXPECT_EQ(DescribeFileTree(dir.path()), before) << c.path;
        ASSERT_EQ(boxes.count(), c.message ? 1u : 0u) << c.path;
        if (c.message) {
            const MessageBoxRequest b = boxes.boxes().front();
            EXPECT_EQ(std::tuple(b.text, b.caption, b.type, b.owner == &frame),
                      std::tuple(c.path + c.message, kApplicationTitle, MB_OK | MB_ICONSTOP, true));
        }
    }
}

} // namespace
