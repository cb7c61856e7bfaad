// The test LAN's LLMNR responder: which queries it answers and how, read by
// the program's own PTR reader, and the program itself asked on loopback in
// a network namespace of the test's own.

#include "tests/lan/LlmnrResponder.h"
#include "platform/wire/PtrQuery.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/DnsAnswerBuilder.h"
#include "tests/support/ReadyChild.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <functional>
#include <memory>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;
using Behaviour = LlmnrResponder::Behaviour;
using Builder = DnsAnswerBuilder;

constexpr std::uint32_t kHost = 0xC6120014;   // 198.18.0.20
constexpr std::uint32_t kSecond = 0xC6120015; // 198.18.0.21
constexpr std::uint16_t kId = 0x2B2B;
// Guards against a responder that never comes up or answers; not a measure.
constexpr int kPatienceMs = 10000;

// A query as an LLMNR sender makes it, after `change`.
Bytes Query(Builder::Labels name, std::uint16_t type,
            const std::function<void(Builder&)>& change = nullptr) {
    Builder b;
    b.id = kId;
    b.flags = 0;
    b.question = std::move(name);
    b.qtype = type;
    if (change)
        change(b);
    return b.bytes();
}

std::optional<Bytes> Ask(const LlmnrResponder& responder, const Bytes& query) {
    return responder.Reply(query.data(), query.size());
}

TEST(LlmnrResponder, AnswersQueriesForItsAddressesAndNameOnly) {
    const LlmnrResponder responder("pc-20", {kHost, kSecond});
    const Builder::Labels reverse = Builder::ReverseLabels(kHost);
    Bytes compressed = BuildPtrQuery(kHost, kId);
    compressed.resize(12);
    compressed.insert(compressed.end(), {0xC0, 0x0C, 0x00, 0x0C, 0x00, 0x01});
    const struct {
        const char* what;
        Bytes query;
        std::optional<std::uint32_t> named; // the address it names, if answered
    } cases[] = {
        {"its address", BuildPtrQuery(kHost, kId), kHost},
        {"its second address", BuildPtrQuery(kSecond, kId), kSecond},
        {"its address in capitals", Query(Builder::LabelsOf("20.0.18.198.IN-ADDR.ARPA"), 12),
         kHost},
        {"another address", BuildPtrQuery(kHost + 2, kId), std::nullopt},
        {"a response", Query(reverse, 12, [](Builder& b) { b.flags = 0x8000; }), std::nullopt},
        {"opcode 2", Query(reverse, 12, [](Builder& b) { b.flags = 2 << 11; }), std::nullopt},
        {"two questions", Query(reverse, 12, [](Builder& b) { b.qdcount = 2; }), std::nullopt},
        {"an answer beside the question",
         Query(reverse, 12, [](Builder& b) { b.answers.push_back(Builder::Ptr(kHost, "x")); }),
         std::nullopt},
        {"class CH", Query(reverse, 12, [](Builder& b) { b.qclass = 3; }), std::nullopt},
        {"a compressed name", compressed, std::nullopt},
        {"AAAA for its name", Query({"PC-20"}, 28), std::nullopt},
        {"A for another name", Query({"pc-21"}, 1), std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::optional<Bytes> reply = Ask(responder, c.query);
        ASSERT_EQ(reply.has_value(), c.named.has_value());
        if (!reply)
            continue;
        const PtrAnswer answer =
            ReadPtrAnswer(reply->data(), reply->size(), kId, *c.named, PtrProtocol::Llmnr);
        EXPECT_EQ(answer.check, PtrAnswerCheck::Accepted) << PtrAnswerCheckName(answer.check);
        EXPECT_EQ(answer.names, std::vector<std::string>{"pc-20"});
    }

    const Bytes query = BuildPtrQuery(kHost, kId);
    for (std::size_t length = 0; length < query.size(); ++length)
        EXPECT_FALSE(responder.Reply(query.data(), length)) << "length " << length;

    // An A query for its name, in any case, gets each of its addresses.
    Builder expected;
    expected.id = kId;
    expected.question = {"PC-20"};
    expected.qtype = 1;
    for (const Bytes& address : {Bytes{198, 18, 0, 20}, Bytes{198, 18, 0, 21}}) {
        DnsRecord a;
        a.owner = {"PC-20"};
        a.type = 1;
        a.rdata = [address](std::size_t) { return address; };
        expected.answers.push_back(a);
    }
    EXPECT_EQ(Ask(responder, Query({"PC-20"}, 1)), expected.bytes());
}

struct HostileCase {
    const char* word;
    Behaviour behaviour;
    PtrAnswerCheck check;
    std::vector<std::string> names;
    unsigned inAnswer;
};

const std::vector<HostileCase>& HostileCases() {
    static const std::vector<HostileCase> cases = {
        {"honest", Behaviour::Honest, PtrAnswerCheck::Accepted, {"pc-20"}, 1},
        {"other-address", Behaviour::OtherAddress, PtrAnswerCheck::ForeignAnswer, {}, 0},
        {"thousand",
         Behaviour::ThousandNames,
         PtrAnswerCheck::Accepted,
         {"pc-20-0", "pc-20-1", "pc-20-2", "pc-20-3", "pc-20-4", "pc-20-5", "pc-20-6", "pc-20-7"},
         1000},
        {"loop", Behaviour::PointerLoop, PtrAnswerCheck::BadName, {}, 0},
        {"long-name", Behaviour::LongName, PtrAnswerCheck::BadName, {}, 0},
        {"control",
         Behaviour::ControlCharacters,
         PtrAnswerCheck::Accepted,
         {"pc-20\\007\\027[2J\\010"},
         1},
    };
    return cases;
}

void ExpectAnswer(const HostileCase& c, const PtrAnswer& answer) {
    EXPECT_EQ(answer.check, c.check) << PtrAnswerCheckName(answer.check);
    EXPECT_EQ(answer.names, c.names);
    EXPECT_EQ(answer.namesInAnswer, c.inAnswer);
}

TEST(LlmnrResponder, HostileAnswersMeetTheReadersRefusals) {
    for (const HostileCase& c : HostileCases()) {
        SCOPED_TRACE(c.word);
        ASSERT_EQ(LlmnrResponder::BehaviourNamed(c.word), c.behaviour);
        const LlmnrResponder responder("pc-20", {kHost}, c.behaviour);
        const std::optional<Bytes> reply = Ask(responder, BuildPtrQuery(kHost, kId));
        ASSERT_TRUE(reply);
        ExpectAnswer(c,
                     ReadPtrAnswer(reply->data(), reply->size(), kId, kHost, PtrProtocol::Llmnr));
    }
    EXPECT_FALSE(LlmnrResponder::BehaviourNamed("friendly"));
}

// Sends the PTR query for `address` to its port 5355 from 127.0.0.1 and
// reads the reply as LLMNR.
std::optional<PtrAnswer> AskOnLoopback(std::uint32_t address) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return std::nullopt;
    sockaddr_in local{}, target{};
    local.sin_family = target.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    target.sin_addr.s_addr = htonl(address);
    target.sin_port = htons(kLlmnrPort);
    const Bytes query = BuildPtrQuery(address, kId);
    std::optional<PtrAnswer> answer;
    Bytes reply(65536);
    pollfd ready{fd, POLLIN, 0};
    if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 &&
        sendto(fd, query.data(), query.size(), 0, reinterpret_cast<sockaddr*>(&target),
               sizeof target) == static_cast<ssize_t>(query.size()) &&
        poll(&ready, 1, kPatienceMs) == 1) {
        const ssize_t length = recv(fd, reply.data(), reply.size(), 0);
        if (length >= 0)
            answer = ReadPtrAnswer(reply.data(), static_cast<std::size_t>(length), kId, address,
                                   PtrProtocol::Llmnr);
    }
    close(fd);
    return answer;
}

TEST(LlmnrResponderProgram, AnswersOnLoopbackAsEachBehaviourSays) {
    const int code = ChildProcess::Run([] {
        if (!ChildProcess::EnterFreshNetwork())
            return ChildProcess::kCannotSetUp;
        std::vector<std::unique_ptr<ReadyChild>> running;
        for (std::size_t i = 0; i < HostileCases().size(); ++i) {
            const std::string address = "127.0.0." + std::to_string(10 + i);
            running.push_back(std::make_unique<ReadyChild>(
                KD_LLMNR_RESPONDER_PATH,
                std::vector<std::string>{"--name", "pc-20", "--address", address, "--listen",
                                         address, "--behave", HostileCases()[i].word},
                "llmnr_responder: answering", kPatienceMs));
            EXPECT_EQ(running.back()->Error(), "") << address;
        }
        for (std::size_t i = 0; i < HostileCases().size(); ++i) {
            SCOPED_TRACE(HostileCases()[i].word);
            const std::optional<PtrAnswer> answer =
                AskOnLoopback(static_cast<std::uint32_t>(0x7F00000A + i));
            EXPECT_TRUE(answer) << "no reply";
            if (answer)
                ExpectAnswer(HostileCases()[i], *answer);
        }
        return 0;
    });
    if (code == ChildProcess::kCannotSetUp)
        GTEST_SKIP() << "cannot create a network namespace here";
    EXPECT_EQ(code, 0) << "see the child's failures above";
}

} // namespace
