// Feeds arbitrary datagrams to the node-status reply decoder with several
// buffer sizes and expected ids, and checks what the caller relies on: a
// datagram that is not accepted leaves the buffer alone, an accepted one never
// writes past the buffer and lays out only whole entries.

#include "platform/wire/NodeStatusPacket.h"
#include "platform/win32/AdapterStatus.h"

#include <cstdint>
#include <cstring>

namespace {

constexpr std::size_t kLargest = 60 + 18 * 255;
constexpr unsigned char kMark = 0xA5;

void Check(bool condition) {
    if (!condition)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static unsigned char buffer[kLargest + 1];
    const std::uint16_t ownId =
        size >= 2 ? static_cast<std::uint16_t>((data[0] << 8) | data[1]) : 0;
    const std::uint16_t ids[] = {ownId, static_cast<std::uint16_t>(ownId ^ 1)};
    const std::size_t lengths[] = {0, 59, 60, 77, 78, 600, kLargest};

    for (std::uint16_t id : ids) {
        for (std::size_t length : lengths) {
            std::memset(buffer, kMark, sizeof buffer);
            const AdapterStatusVerdict verdict =
                DecodeNodeStatusReply(size ? data : nullptr, size, id, buffer, length);
            Check(buffer[length] == kMark);
            if (!verdict.accepted() || verdict.retcode == NRC_BUFLEN) {
                Check(!verdict.accepted() || length < 60);
                for (std::size_t i = 0; i < length; ++i)
                    Check(buffer[i] == kMark);
                continue;
            }
            Check(length >= 60 && id == ownId);
            const std::size_t stored = verdict.namesStored;
            Check(60 + 18 * stored <= length);
            Check(stored <= verdict.namesInReply && verdict.namesInReply <= 255);
            Check((verdict.retcode == NRC_INCOMP) == (stored < verdict.namesInReply));
            Check(verdict.retcode == NRC_GOODRET || verdict.retcode == NRC_INCOMP);
            ADAPTER_STATUS status;
            std::memcpy(&status, buffer, sizeof status);
            Check(status.name_count == stored);
            for (std::size_t i = 0; i < stored; ++i) {
                NAME_BUFFER name;
                std::memcpy(&name, buffer + 60 + 18 * i, sizeof name);
                Check(name.name_num == i + 1);
                Check((name.name_flags & ~NAME_FLAGS_MASK) == 0);
            }
            for (std::size_t i = 60 + 18 * stored; i < length; ++i)
                Check(buffer[i] == 0);
        }
    }

    // Read straight from the datagram, an answer says what the layout says:
    // the same verdict, unit id, names and flags.
    NodeStatusAnswer answer;
    const NodeStatusVerdict direct = DecodeNodeStatusAnswer(size ? data : nullptr, size, ownId, answer);
    std::memset(buffer, kMark, sizeof buffer);
    const AdapterStatusVerdict laid =
        DecodeNodeStatusReply(size ? data : nullptr, size, ownId, buffer, kLargest);
    Check(direct.check == laid.check);
    if (direct.accepted()) {
        Check(answer.names.size() == laid.namesStored && laid.retcode == NRC_GOODRET);
        Check(std::memcmp(answer.unitId.data(), buffer, 6) == 0);
        for (std::size_t i = 0; i < answer.names.size(); ++i) {
            NAME_BUFFER name;
            std::memcpy(&name, buffer + 60 + 18 * i, sizeof name);
            Check(std::memcmp(name.name, answer.names[i].bytes.data(), 16) == 0);
            Check(name.name_flags == NameFlagsFromReply(answer.names[i].flags));
        }
    }
    return 0;
}
