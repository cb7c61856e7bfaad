#include "core/scan/NodeStatusQuery.h"
#include "core/settings/RunLog.h"
#include "tests/support/MessageBoxRecorder.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <future>
#include <vector>

namespace {

// What the fake saw of one call.
struct Call {
    NCB ncb;            // a copy as it arrived
    const NCB* where;   // the record itself, to tell whether it is reused
    bool bufferWasZero; // every byte of ncb_buffer zero on arrival
    bool lockHeld;      // the test's lock was held during the call
};

std::vector<Call> g_calls;
std::vector<UCHAR> g_codes; // return code per LANA; missing LANAs answer NRC_BRIDGE
std::mutex* g_watchedLock = nullptr;

bool IsHeldElsewhere(std::mutex* lock) {
    // try_lock from the calling thread itself would be undefined.
    auto held = [lock] { return !std::unique_lock(*lock, std::try_to_lock).owns_lock(); };
    return std::async(std::launch::async, held).get();
}

UCHAR FakeNetbios(NCB* ncb, const StopSignal*, NodeStatusAnswer* answer) {
    Call call{*ncb, ncb, true, false};
    for (WORD i = 0; i < ncb->ncb_length && ncb->ncb_buffer; ++i)
        call.bufferWasZero = call.bufferWasZero && ncb->ncb_buffer[i] == 0;
    call.lockHeld = g_watchedLock && IsHeldElsewhere(g_watchedLock);
    g_calls.push_back(call);
    UCHAR code = ncb->ncb_lana_num < g_codes.size() ? g_codes[ncb->ncb_lana_num] : NRC_BRIDGE;
    if (ncb->ncb_command == NCBASTAT && code == NRC_GOODRET) {
        ncb->ncb_buffer[0] = 0x02; // something for the caller to find
        if (answer)
            answer->unitId[0] = 0x02;
    }
    ncb->ncb_retcode = code;
    return code;
}

class NodeStatusQueryTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_calls.clear();
        g_codes.clear();
        g_watchedLock = nullptr;
    }
    void TearDown() override { RunLog::Close(); }

    // Every field of a reset NCB, as the platform expects it.
    static void ExpectReset(const Call& c, int lana) {
        EXPECT_EQ(c.ncb.ncb_command, NCBRESET);
        EXPECT_EQ(c.ncb.ncb_lana_num, lana);
        EXPECT_NE(c.ncb.ncb_buffer, nullptr);
        EXPECT_EQ(c.ncb.ncb_length, 256);
        EXPECT_EQ(c.ncb.ncb_lsn, 0);
        EXPECT_EQ(c.ncb.ncb_num, 0);
        const UCHAR zeros[NCBNAMSZ] = {};
        EXPECT_EQ(std::memcmp(c.ncb.ncb_callname, zeros, NCBNAMSZ), 0);
        EXPECT_EQ(c.ncb.ncb_post, nullptr);
        EXPECT_EQ(c.ncb.ncb_event, nullptr);
    }
    // Resets of LANA 0, 1, ... in turn and nothing else.
    static void ExpectResetsUpTo(size_t last) {
        ASSERT_EQ(g_calls.size(), last + 1);
        for (size_t i = 0; i <= last; ++i)
            ExpectReset(g_calls[i], static_cast<int>(i));
    }

    UCHAR m_buffer[kNodeStatusBufferSize];
};

TEST_F(NodeStatusQueryTest, QueryBuildsTheAdapterStatusRecordAndSendsItOnce) {
    g_codes = {0, 0, NRC_GOODRET};
    std::memset(m_buffer, 0xAA, sizeof m_buffer);
    EXPECT_EQ(QueryNodeStatus("10.0.0.1", 258, m_buffer, nullptr, nullptr, nullptr, FakeNetbios),
              NRC_GOODRET);

    ASSERT_EQ(g_calls.size(), 1u);
    EXPECT_TRUE(g_calls[0].bufferWasZero) << "the buffer is cleared before the call";
    // Only the LANA's low byte is used; every field not set here is zero.
    NCB expected;
    std::memset(&expected, 0, sizeof expected);
    expected.ncb_command = NCBASTAT;
    expected.ncb_buffer = m_buffer;
    expected.ncb_length = 600;
    expected.ncb_lana_num = 2;
    std::memcpy(expected.ncb_callname, "10.0.0.1        ", NCBNAMSZ);
    EXPECT_EQ(std::memcmp(&g_calls[0].ncb, &expected, sizeof expected), 0);
    EXPECT_EQ(m_buffer[0], 0x02) << "the answer stays in the caller's buffer";
    // Asked for, the answer also comes as the value it was laid out from.
    NodeStatusAnswer answer;
    EXPECT_EQ(QueryNodeStatus("10.0.0.1", 2, m_buffer, nullptr, nullptr, &answer, FakeNetbios),
              NRC_GOODRET);
    EXPECT_EQ(answer.unitId[0], 0x02);
    g_calls.pop_back();

    // A failed call's code is the result; there is no retry.
    g_codes = {NRC_CMDTMO};
    EXPECT_EQ(QueryNodeStatus("198.18.0.30", 0, m_buffer, nullptr, nullptr, nullptr, FakeNetbios),
              NRC_CMDTMO);
    EXPECT_EQ(g_calls.size(), 2u);
}

TEST_F(NodeStatusQueryTest, CallNameIsTheAddressPaddedWithBlanks) {
    const std::pair<std::string, std::string> table[] = {
        {"255.255.255.255", "255.255.255.255 "},
        {"1.2.3.4", "1.2.3.4         "},
        {"", "                "},
    };
    for (const auto& [address, callName] : table) {
        UCHAR bytes[NCBNAMSZ];
        std::memset(bytes, 0, sizeof bytes);
        EXPECT_TRUE(MakeCallName(address, bytes)) << address;
        EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), NCBNAMSZ), callName);
    }
}

TEST_F(NodeStatusQueryTest, TextsThatCannotBeAnAddressAreNeverSent) {
    g_codes = {NRC_GOODRET};
    // 16 bytes would leave no blank; a zero byte would end the name early.
    for (const std::string& text :
         {std::string("255.255.255.2555"), std::string("10.0.0.1        x"),
          std::string("10.0.0.1\0"
                      "9",
                      10)}) {
        std::memset(m_buffer, 0xAA, sizeof m_buffer);
        EXPECT_EQ(QueryNodeStatus(text, 0, m_buffer, nullptr, nullptr, nullptr, FakeNetbios),
                  NRC_NOCALL);
        EXPECT_EQ(m_buffer[0], 0) << "no stale answer is left behind";
    }
    EXPECT_TRUE(g_calls.empty());
}

TEST_F(NodeStatusQueryTest, LockIsHeldExactlyAroundTheCall) {
    g_codes = {NRC_GOODRET};
    std::mutex lock;
    g_watchedLock = &lock;
    EXPECT_EQ(QueryNodeStatus("1.2.3.4", 0, m_buffer, &lock, nullptr, nullptr, FakeNetbios),
              NRC_GOODRET);
    ASSERT_EQ(g_calls.size(), 1u);
    EXPECT_TRUE(g_calls[0].lockHeld);
    EXPECT_TRUE(lock.try_lock()) << "released after the call";
    lock.unlock();

    EXPECT_EQ(QueryNodeStatus("1.2.3.4", 0, m_buffer, nullptr, nullptr, nullptr, FakeNetbios),
              NRC_GOODRET);
    EXPECT_FALSE(g_calls[1].lockHeld);
}

TEST_F(NodeStatusQueryTest, SelectLanaResetsInTurnUpToTheFirstThatAnswers) {
    const UCHAR B = NRC_BRIDGE;
    const struct {
        std::vector<UCHAR> codes;
        int lana;
        UCHAR code;
    } cases[] = {
        {{B, B, NRC_SYSTEM, NRC_GOODRET, NRC_GOODRET}, 3, NRC_GOODRET},
        // Without an answer eleven are tried, and LANA 10's code is the one reported.
        {{B, B, B, B, B, B, B, B, B, B, NRC_ENVNOTDEF}, 10, NRC_ENVNOTDEF},
    };
    for (const auto& c : cases) {
        g_calls.clear();
        g_codes = c.codes;
        const LanaSelection selection = SelectLana(FakeNetbios);
        EXPECT_EQ(selection.lana, c.lana);
        EXPECT_EQ(selection.code, c.code);
        ExpectResetsUpTo(c.lana);
        for (const Call& call : g_calls)
            EXPECT_EQ(call.where, g_calls[0].where) << "one record, built once";
    }
}

TEST_F(NodeStatusQueryTest, CountResponsiveLanasCountsZeroToNineAndLogsEach) {
    TempDir dir;
    ASSERT_TRUE(RunLog::Open(dir.path()));
    g_codes = {NRC_BRIDGE, NRC_GOODRET, NRC_BRIDGE, NRC_BRIDGE, NRC_GOODRET, NRC_SYSTEM,
               NRC_BRIDGE, NRC_BRIDGE,  NRC_BRIDGE, NRC_BRIDGE, NRC_GOODRET};
    EXPECT_EQ(CountResponsiveLanas(FakeNetbios), 2) << "LANA 10 is not counted";
    ExpectResetsUpTo(9);
    RunLog::Close();
    EXPECT_EQ(TempDir::ReadFile(dir.file(RunLog::kFileName)),
              std::string(RunLog::kHeader) + "1番のスロットが応答しました。\n"
                                             "4番のスロットが応答しました。\n");
}

TEST_F(NodeStatusQueryTest, TestLanaResetsTheTypedNumberAndSaysSo) {
    MessageBoxRecorder boxes;
    g_codes = std::vector<UCHAR>(256, NRC_BRIDGE);
    g_codes[0] = g_codes[12] = NRC_GOODRET;

    const std::pair<std::string, int> fields[] = {{"", 0},   {"12", 12}, {"7x", 7},  {"abc", 0},
                                                  {" 3", 3}, {"260", 4}, {"-1", 255}};
    for (const auto& [text, lana] : fields) {
        SCOPED_TRACE(text);
        g_calls.clear();
        const bool ok = g_codes[lana] == NRC_GOODRET;
        const Outcome tested = TestLana(text, FakeNetbios);
        EXPECT_EQ(tested.ok, ok);
        ASSERT_EQ(g_calls.size(), 1u);
        ExpectReset(g_calls[0], lana);
        // Either way a message for the dialog to show.
        ASSERT_TRUE(tested.message.has_value());
        const UserMessage& told = *tested.message;
        EXPECT_EQ(told.text, ok ? "テストは成功しました。" : "この番号は使用できません。");
        EXPECT_EQ(told.caption, "テスト結果");
        EXPECT_EQ(told.buttons(), MB_OK);
        EXPECT_EQ(told.icon(), ok ? 0u : MB_ICONWARNING);
    }
    EXPECT_EQ(boxes.count(), 0u);
}

} // namespace
