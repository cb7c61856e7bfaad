#include "platform/os/DescriptorLimit.h"
#include "platform/win32/ShortageReport.h"

#include "platform/win32/IcmpEcho.h"
#include "platform/win32/Netbios.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/MessageBoxRecorder.h"
#include "tests/support/MessagePrinters.h"
#include "tests/support/ProbeNoticeRecorder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sys/resource.h>
#include <unistd.h>

namespace {

using namespace IcmpEchoInternal;

UCHAR AskLoopback() {
    NetbiosTransport loopback;
    loopback.lanas = NetbiosLanaList({"127.0.0.1"});
    UCHAR buffer[600];
    NCB ncb{};
    ncb.ncb_command = NCBASTAT;
    ncb.ncb_buffer = buffer;
    ncb.ncb_length = sizeof buffer;
    std::memset(ncb.ncb_callname, ' ', NCBNAMSZ);
    std::memcpy(ncb.ncb_callname, "127.0.0.1", 9);
    return Netbios(&ncb, nullptr, nullptr, loopback);
}

// One notice, for the prober to show; no box of the probe's own.
void ExpectToldOnce(const ProbeNoticeRecorder& notices, const MessageBoxRecorder& boxes) {
    const auto told = notices.notices();
    ASSERT_EQ(told.size(), 1u);
    EXPECT_NE(told[0].text.find("ulimit -n"), std::string::npos);
    EXPECT_EQ(told[0].caption, "エラー");
    EXPECT_EQ(told[0].type, MB_OK | MB_ICONERROR);
    EXPECT_EQ(told[0], ResourceShortageMessage());
    EXPECT_EQ(boxes.count(), 0u);
}

// Both probes with no descriptor to spare; then the limit raised, and the echo
// again. Run in a child: it gives up its descriptors, and the user is told
// only once per process.
int ProbeWithoutDescriptors(bool echoFirst) {
    MessageBoxRecorder boxes;
    ProbeNoticeRecorder notices;
    IcmpEchoService echo;
    if (echoFirst)
        echo.SocketKind(); // else the echo's kind is chosen only once a socket opens
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    const int lowestFree = dup(0);
    close(lowestFree);
    limit.rlim_cur = static_cast<rlim_t>(lowestFree);
    setrlimit(RLIMIT_NOFILE, &limit);
    EXPECT_EQ(FreeDescriptorCount(), 0);
    for (const bool echoNow : {echoFirst, !echoFirst}) {
        if (echoNow)
            EXPECT_FALSE(echo.Echo("127.0.0.1", 200));
        else
            EXPECT_EQ(AskLoopback(), NRC_NORESOURCES);
        ExpectToldOnce(notices, boxes);
    }
    EXPECT_EQ(RaiseDescriptorLimit(), static_cast<long>(limit.rlim_max));
    getrlimit(RLIMIT_NOFILE, &limit);
    EXPECT_EQ(limit.rlim_cur, limit.rlim_max);
    EXPECT_TRUE(echo.Echo("127.0.0.1", 2000));
    ExpectToldOnce(notices, boxes);
    return 0;
}

TEST(DescriptorLimit, ProbesWithoutADescriptorTellTheUserOnceUntilTheLimitIsRaised) {
    if (!CanOpenSocket(IcmpSocketKind::Datagram) && !CanOpenSocket(IcmpSocketKind::Raw))
        GTEST_SKIP() << "no ICMP socket can be opened here";
    EXPECT_EQ(ChildProcess::Run([] { return ProbeWithoutDescriptors(true); }), 0);
    EXPECT_EQ(ChildProcess::Run([] { return ProbeWithoutDescriptors(false); }), 0);
}

} // namespace

namespace {

// A shortage met while a lock is held (safe mode's node-status lock) is told
// only when the lock is given up, so that no other thread waits on the box.
TEST(DescriptorLimit, AShortageMetUnderALockIsToldAfterIt) {
    EXPECT_EQ(ChildProcess::Run([] {
                  ProbeNoticeRecorder notices;
                  {
                      const ProbeNoticeScope outer(ProbeNoticeScope::Hold{});
                      {
                          const ProbeNoticeScope inner(ProbeNoticeScope::Hold{});
                          ReportResourceShortage();
                      }
                      EXPECT_EQ(notices.count(), 0u) << "told inside the outer scope";
                  }
                  EXPECT_EQ(notices.count(), 1u);
                  ReportResourceShortage(); // once per process
                  EXPECT_EQ(notices.count(), 1u);
                  return 0;
              }),
              0);
}

} // namespace
