#include "platform/win32/AdapterStatus.h"

#include <cstring>

namespace {

std::uint16_t Read16(const unsigned char* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

std::uint32_t Read32(const unsigned char* p) {
    return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
           (static_cast<std::uint32_t>(p[2]) << 8) | p[3];
}

ADAPTER_STATUS HeaderOf(const NodeStatusAnswer& answer, unsigned stored) {
    const unsigned char* stats = answer.statistics.data();
    // A field counts only when all of its bytes came.
    const auto has = [&answer](std::size_t offset, std::size_t size) {
        return offset + size <= answer.statisticsLength;
    };
    const auto field16 = [&](std::size_t offset) -> WORD {
        return has(offset, 2) ? Read16(stats + offset) : 0;
    };
    const auto field32 = [&](std::size_t offset) -> DWORD {
        return has(offset, 4) ? Read32(stats + offset) : 0;
    };
    ADAPTER_STATUS status{};
    std::memcpy(status.adapter_address, answer.unitId.data(), 6);
    if (has(8, 2)) {
        status.rev_major = stats[8];
        status.rev_minor = stats[9];
    }
    status.duration = field16(10);
    status.xmit_aborts = field16(18);
    status.xmit_success = field32(20);
    status.recv_success = field32(24);
    status.recv_buff_unavail = field16(30);
    status.free_ncbs = field16(32);
    status.max_cfg_ncbs = field16(34);
    status.max_ncbs = field16(36);
    status.pending_sess = field16(38);
    status.max_cfg_sess = field16(40);
    status.max_sess = field16(42);
    status.max_sess_pkt_size = field16(44);
    status.name_count = static_cast<WORD>(stored);
    return status;
}

} // namespace

UCHAR NameFlagsFromReply(std::uint16_t replyFlags) {
    using Name = NodeStatusAnswer::Name;
    UCHAR flags = (replyFlags & Name::kGroup) ? GROUP_NAME : UNIQUE_NAME;
    const bool deregistering = replyFlags & Name::kDeregistering;
    const bool conflict = replyFlags & Name::kConflict;
    if (conflict && deregistering)
        flags |= DUPLICATE_DEREG;
    else if (conflict)
        flags |= DUPLICATE;
    else if (deregistering)
        flags |= DEREGISTERED;
    else if (replyFlags & Name::kActive)
        flags |= REGISTERED;
    else
        flags |= REGISTERING;
    return flags;
}

UCHAR LayOutAdapterStatus(const NodeStatusAnswer& answer, unsigned char* buffer,
                          std::size_t length, unsigned& stored) {
    stored = 0;
    if (buffer == nullptr || length < kAdapterStatusSize)
        return NRC_BUFLEN;
    const std::size_t room = (length - kAdapterStatusSize) / kNameBufferSize;
    const std::size_t names = answer.names.size();
    stored = static_cast<unsigned>(names <= room ? names : room);

    std::memset(buffer, 0, length);
    const ADAPTER_STATUS status = HeaderOf(answer, stored);
    std::memcpy(buffer, &status, sizeof status);
    for (unsigned i = 0; i < stored; ++i) {
        NAME_BUFFER name{};
        std::memcpy(name.name, answer.names[i].bytes.data(), NCBNAMSZ);
        name.name_num = static_cast<UCHAR>(i + 1);
        name.name_flags = NameFlagsFromReply(answer.names[i].flags);
        std::memcpy(buffer + kAdapterStatusSize + i * kNameBufferSize, &name, sizeof name);
    }
    return names <= room ? NRC_GOODRET : NRC_INCOMP;
}

AdapterStatusVerdict DecodeNodeStatusReply(const unsigned char* datagram, std::size_t length,
                                           std::uint16_t expectedId, unsigned char* buffer,
                                           std::size_t bufferLength) {
    AdapterStatusVerdict verdict;
    NodeStatusAnswer answer;
    const NodeStatusVerdict decoded = DecodeNodeStatusAnswer(datagram, length, expectedId, answer);
    verdict.check = decoded.check;
    if (!decoded.accepted())
        return verdict;
    verdict.namesInReply = decoded.namesInReply;
    verdict.retcode = LayOutAdapterStatus(answer, buffer, bufferLength, verdict.namesStored);
    return verdict;
}
