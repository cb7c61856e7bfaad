#pragma once
// Base of the LAN test fixtures: loads the test LAN's layout once and refuses
// to run anywhere but inside the client namespace, so that no test address is
// ever probed from elsewhere.

#include "tests/lan/TestLan.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>

class LanTest : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    void SetUp() override;

    static const TestLan& lan() { return *s_lan; }

    // Changes the test LAN with scripts/testlan.sh (e.g. "unplug ADDRESS",
    // "rename ADDRESS NAME"); its exit status. The LAN is built afresh for
    // each test program.
    static int ChangeLan(const std::string& command);

    // A change of the LAN for the object's life: `on` when made, `off` when
    // it goes, also when a test fails half-way.
    class Change {
    public:
        Change(const std::string& on, std::string off)
            : m_off(std::move(off)), m_on(ChangeLan(on) == 0) {}
        ~Change() {
            if (m_on)
                ChangeLan(m_off);
        }
        Change(const Change&) = delete;
        Change& operator=(const Change&) = delete;
        bool on() const { return m_on; }

    private:
        std::string m_off;
        bool m_on;
    };

private:
    static std::optional<TestLan> s_lan;
    static std::string s_loadError;
};
