// Saving the result list to a file from the main window: the save dialog's
// request, the bytes of the file, and the failures that keep the old file.

#include "platform/FileDialog.h"
#include "platform/MessageBox.h"
#include "platform/TextCodec.h"
#include "res/Resource.h"
#include "shell/CMainFrame.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/GuiHarness.h"
#include "tests/support/MessageBoxRecorder.h"
#include "tests/support/TempDir.h"
#include "view/CTarnelView.h"

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

std::string Cp932(const std::string& utf8) {
    std::string bytes;
    EXPECT_TRUE(Utf8ToCp932(utf8, bytes)) << utf8;
    return bytes;
}

const std::string kTitleLine =
    "IPアドレス,応答,コンピュータ名,ドメイン名,MACアドレス,NICベンダー名,メッセンジャ\r\n";

std::vector<std::string> Names(const std::string& directory) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class ExportTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(frame.OnCreate());
        ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
    }
    // Runs the command with a save dialog that answers `chosen`, or is
    // cancelled when `chosen` is empty.
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

    TempDir dir;
    CMainFrame frame;
    MessageBoxRecorder boxes;
    std::vector<FileDialogRequest> requests;
};

TEST_F(ExportTest, WritesTheTitlesAndRowsAsCp932WithCrLfAndAsksTheWayItShould) {
    const std::string path = dir.file("result.lst");
    Export(path);
    EXPECT_EQ(TempDir::ReadFile(path), Cp932(kTitleLine));
    ASSERT_EQ(requests.size(), 1u);
    const FileDialogRequest& request = requests.front();
    EXPECT_TRUE(request.save);
    EXPECT_EQ(request.fileName, "");
    EXPECT_EQ(request.defaultExtension, "lst");
    EXPECT_EQ(request.filter, "テキストファイル(*.txt)|*.txt|すべてのファイル(*.*)|*.*||");
    EXPECT_TRUE(request.overwritePrompt);
    EXPECT_EQ(request.owner, static_cast<void*>(&frame));

    // Saved again over the longer file: nothing of the old contents stays.
    TempDir::WriteFile(path, std::string(4000, 'x'));
    gui::AddRows(*frame.View(),
                 {{"192.168.1.10", "○", "PC01", "WORKGROUP", "001122334455", "不明", "PC01/USER1"},
                  {"192.168.1.11", "×"},
                  {"192.168.1.12", "○", "FILESRV", "OFFICE", "00A0C9123456"}});
    Export(path);
    const std::string written = TempDir::ReadFile(path);
    EXPECT_EQ(written,
              Cp932(kTitleLine + "192.168.1.10,○,PC01,WORKGROUP,001122334455,不明,PC01/USER1\r\n"
                                 "192.168.1.11,×,-,-,-,-,-\r\n"
                                 "192.168.1.12,○,FILESRV,OFFICE,00A0C9123456,-,-\r\n"));
    EXPECT_NE(written.find("192.168.1.11,\x81\x7E,-"), std::string::npos); // "×" in CP932
    EXPECT_EQ(boxes.count(), 0u);
    EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"result.lst"});
}

TEST_F(ExportTest, CancelOrAFailureKeepsTheOldFileAndTellsTheCause) {
    gui::AddRows(*frame.View(), {{"192.168.1.11", "×"}});
    ASSERT_EQ(mkdir(dir.file("fixed").c_str(), 0755), 0);
    const std::string old = "old contents\r\n";
    const struct {
        const char* what;
        std::string path;    // empty: the dialog is cancelled
        rlim_t sizeLimit;    // 0: none
        bool asNobody;       // so that permission bits apply to root too
        const char* message; // with %1; null: no box
    } cases[] = {
        {"cancelled", "", 0, false, nullptr},
        {"disk full", dir.file("old.lst"), 16, false,
         "%1 へのｱｸｾｽ中にﾃﾞｨｽｸがいっぱいになりました。"},
        {"read-only file", dir.file("readonly.lst"), 0, true, "%1 へのｱｸｾｽは拒否されました。"},
        {"read-only directory", dir.file("fixed/new.lst"), 0, true,
         "%1 へのｱｸｾｽは拒否されました。"},
        {"no such directory", dir.file("missing/new.lst"), 0, false,
         "%1 には無効なﾊﾟｽが含まれています。"},
    };
    TempDir::WriteFile(dir.file("old.lst"), old);
    TempDir::WriteFile(dir.file("readonly.lst"), old);
    ASSERT_EQ(chmod(dir.file("readonly.lst").c_str(), 0444), 0);
    const std::vector<std::string> before = Names(dir.path());
    for (const auto& c : cases) {
        boxes.clear();
        {
            std::optional<FileSizeLimit> limit;
            if (c.sizeLimit)
                limit.emplace(c.sizeLimit);
            const bool switched =
                c.asNobody && geteuid() == 0 && setegid(65534) == 0 && seteuid(65534) == 0;
            Export(c.path);
            ASSERT_TRUE(!switched || (seteuid(0) == 0 && setegid(0) == 0));
        }
        EXPECT_EQ(TempDir::ReadFile(dir.file("old.lst")), old) << c.what;
        EXPECT_EQ(TempDir::ReadFile(dir.file("readonly.lst")), old) << c.what;
        EXPECT_EQ(Names(dir.path()), before) << c.what;
        EXPECT_TRUE(Names(dir.file("fixed")).empty()) << c.what;
        if (!c.message) {
            EXPECT_EQ(boxes.count(), 0u) << c.what;
            continue;
        }
        ASSERT_EQ(boxes.count(), 1u) << c.what;
        const MessageBoxRequest box = boxes.boxes().front();
        std::string text = c.message;
        text.replace(text.find("%1"), 2, c.path);
        EXPECT_EQ(box.text, text);
        EXPECT_EQ(box.caption, kApplicationTitle);
        EXPECT_EQ(box.type, MB_OK | MB_ICONSTOP);
        EXPECT_EQ(box.owner, static_cast<void*>(&frame));
    }
}

} // namespace
