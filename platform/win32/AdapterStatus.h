#pragma once
// A node-status answer laid out as NCBASTAT's caller expects it: a 60-byte
// ADAPTER_STATUS (the unit id first) followed by 18-byte NAME_BUFFER entries.
// Built from the typed answer; nothing reads the layout back but the callers
// of the NetBIOS API.

#include "platform/win32/Netbios.h"
#include "platform/wire/NodeStatusPacket.h"

#include <cstddef>
#include <cstdint>

constexpr std::size_t kAdapterStatusSize = sizeof(ADAPTER_STATUS); // 60
constexpr std::size_t kNameBufferSize = sizeof(NAME_BUFFER);       // 18

// The NAME_BUFFER name_flags for the 16-bit NAME_FLAGS of a reply entry:
// GROUP_NAME from the G bit, the registration state from DRG, CNF and ACT.
UCHAR NameFlagsFromReply(std::uint16_t replyFlags);

// Lays `answer` out in `buffer`, zero-filled to `length`: adapter_address =
// the unit id, the statistics the reply carried, name_count = entries stored,
// each name's bytes as received with name_num counting from 1. NRC_GOODRET;
// NRC_BUFLEN when the buffer is shorter than the header (left untouched);
// NRC_INCOMP when more names came than fit (the header and as many whole
// entries as fit). `stored`: the entries laid out.
UCHAR LayOutAdapterStatus(const NodeStatusAnswer& answer, unsigned char* buffer,
                          std::size_t length, unsigned& stored);

struct AdapterStatusVerdict {
    NodeStatusReplyCheck check = NodeStatusReplyCheck::Truncated;
    UCHAR retcode = NRC_GOODRET; // Accepted only: as LayOutAdapterStatus returns it
    unsigned namesInReply = 0;
    unsigned namesStored = 0;

    bool accepted() const { return check == NodeStatusReplyCheck::Accepted; }
};

// Checks the datagram (DecodeNodeStatusAnswer) and, when it is a valid
// answer, lays it out in `buffer`; the buffer is not touched otherwise.
AdapterStatusVerdict DecodeNodeStatusReply(const unsigned char* datagram, std::size_t length,
                                           std::uint16_t expectedId, unsigned char* buffer,
                                           std::size_t bufferLength);
