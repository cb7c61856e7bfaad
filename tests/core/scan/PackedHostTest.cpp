// A packed host unpacks to the very value that was packed: absent and empty
// names stay apart, empty messenger names and long texts come back whole.

#include "core/scan/PackedHost.h"

#include <gtest/gtest.h>

namespace {

HostRecord Named() {
    HostRecord host;
    host.address = 0xC6120007;
    host.response = HostRecord::Response::Answered;
    host.reasons = HostRecord::kReasonEcho | HostRecord::kReasonNbstat | HostRecord::kReasonArp |
                   HostRecord::kReasonPortUnreachable;
    host.rttMs = 12;
    host.nodeStatus = host.hasMac = true;
    host.computer = "経理PC";
    host.workgroup = "WORKGROUP";
    host.mac = {0x00, 0xA0, 0xC9, 0x01, 0x02, 0xFF};
    host.vendor = "Intel Corporation";
    host.messengers = {"経理PC", "ADMINISTRATOR"};
    return host;
}

TEST(PackedHost, UnpacksToTheValuePacked) {
    const struct {
        const char* what;
        void (*change)(HostRecord&);
    } cases[] = {
        {"a named host", [](HostRecord&) {}},
        {"a row before its result", [](HostRecord& h) { h = HostRecord{}; h.address = 1; }},
        {"a silent host",
         [](HostRecord& h) {
             h = HostRecord{};
             h.response = HostRecord::Response::Silent;
         }},
        {"empty names that are there",
         [](HostRecord& h) {
             h.computer = "";
             h.workgroup = "";
             h.vendor.clear();
             h.messengers.clear();
         }},
        {"an empty computer name beside others", [](HostRecord& h) { h.computer = ""; }},
        {"no workgroup", [](HostRecord& h) { h.workgroup.reset(); }},
        {"no computer name, only messengers",
         [](HostRecord& h) {
             h.computer.reset();
             h.workgroup.reset();
             h.vendor.clear();
         }},
        {"empty messenger names", [](HostRecord& h) { h.messengers = {"", "A", ""}; }},
        {"texts longer than one length byte",
         [](HostRecord& h) {
             h.vendor = std::string(300, 'v');
             h.messengers.assign(200, "M");
         }},
        {"a MAC of zeros", [](HostRecord& h) { h.mac = {}; }},
        {"names from other sources, an empty one among them",
         [](HostRecord& h) {
             h.names = {{"keiri.local", HostRecord::NameSource::Mdns},
                        {"", HostRecord::NameSource::Llmnr},
                        {"keiri.example.jp", HostRecord::NameSource::Dns}};
         }},
        {"only another source's name",
         [](HostRecord& h) {
             h = HostRecord{};
             h.response = HostRecord::Response::Answered;
             h.names = {{"printer.local", HostRecord::NameSource::Mdns}};
         }},
        {"no round trip, no reasons",
         [](HostRecord& h) {
             h.rttMs = -1;
             h.reasons = 0;
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        HostRecord host = Named();
        c.change(host);
        const PackedHost packed(host);
        EXPECT_EQ(packed.Unpack(), host);
        EXPECT_EQ(packed.Address(), host.address);
        EXPECT_EQ(packed.Response(), host.response);
    }
}

} // namespace
