#include "tests/lan/LanTest.h"

#include <cstdlib>

std::optional<TestLan> LanTest::s_lan;
std::string LanTest::s_loadError;

void LanTest::SetUpTestSuite() {
    if (s_lan)
        return;
    s_lan = TestLan::Load(TestLan::DefaultPath(), s_loadError);
}

void LanTest::SetUp() {
    ASSERT_TRUE(s_lan) << s_loadError;
    ASSERT_TRUE(s_lan->InClientNamespace())
        << "not inside the client namespace; run through tests/lan/run-in-testlan.sh";
}

int LanTest::ChangeLan(const std::string& command) {
    return std::system((std::string("'") + KD_TESTLAN_SCRIPT + "' " + command).c_str());
}
