#include "core/scan/CNetProbe.h"
#include "core/settings/RunLog.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

namespace {

class NetbiosResultTextTest : public ::testing::Test {
protected:
    void TearDown() override { RunLog::Close(); }

    std::string LogAfterHeader() {
        RunLog::Close();
        std::string log = TempDir::ReadFile(dir.file(RunLog::kFileName));
        return log.substr(std::string(RunLog::kHeader).size());
    }

    TempDir dir;
    CNetProbe probe;
};

TEST_F(NetbiosResultTextTest, KnownCodes) {
    const std::pair<unsigned, const char*> table[] = {
        {0x00, "netbios:成功"},
        {0x01, "netbios:バッファの長さに誤りがあります"},
        {0x05, "netbios:タイムアウト"},
        {0x06, "netbios:メッセージが不完全です"},
        {0x14, "netbios:呼ばれた名前が見つかりませんでした"},
        {0x23, "netbios:ncb_lana_numが正しいネットワーク番号を指定していません"},
        {0x37, "netbios:SAPs はnetbois用に使用できません"},
        {0x3F, "netbios:デバイスドライバよりエラーが発生しましたが、このエラーはnetbios3."
               "0の仕様ではありません"},
        {0x40, "netbios:システムエラーが発生しました"},
        {0xFF, "netbios:同期処理はまだ終了していません"},
    };
    for (const auto& [code, text] : table)
        EXPECT_EQ(probe.NetbiosResultText(code), text) << code;
}

TEST_F(NetbiosResultTextTest, GapsInTheTableGetTheDefaultText) {
    for (unsigned code :
         {0x02u, 0x04u, 0x0Cu, 0x10u, 0x1Au, 0x20u, 0x25u, 0x33u, 0x3Au, 0x41u, 0xFEu})
        EXPECT_EQ(probe.NetbiosResultText(code), "netbios:エラーがマッピングできませんでした")
            << code;
}

TEST_F(NetbiosResultTextTest, OnlyTheLowByteCounts) {
    EXPECT_EQ(probe.NetbiosResultText(0x100), "netbios:成功");
    EXPECT_EQ(probe.NetbiosResultText(0x1205), "netbios:タイムアウト");
    EXPECT_EQ(probe.NetbiosResultText(0xFFFFFF23u),
              "netbios:ncb_lana_numが正しいネットワーク番号を指定していません");
}

TEST_F(NetbiosResultTextTest, EveryCallWritesOneLogLineSuccessIncluded) {
    ASSERT_TRUE(RunLog::Open(dir.path()));
    probe.NetbiosResultText(0x00);
    probe.NetbiosResultText(0x05);
    probe.NetbiosResultText(0x99);
    EXPECT_EQ(LogAfterHeader(), "netbiosのエラー：netbios:成功\n"
                                "netbiosのエラー：netbios:タイムアウト\n"
                                "netbiosのエラー：netbios:エラーがマッピングできませんでした\n");
}

} // namespace
