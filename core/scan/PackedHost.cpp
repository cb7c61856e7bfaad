#include "core/scan/PackedHost.h"

#include <string_view>

namespace {

void PutLength(std::string& out, std::size_t length) {
    while (length >= 0x80) {
        out.push_back(static_cast<char>(0x80 | (length & 0x7F)));
        length >>= 7;
    }
    out.push_back(static_cast<char>(length));
}

void PutText(std::string& out, std::string_view text) {
    PutLength(out, text.size());
    out.append(text);
}

// Reads back what PutLength and PutText wrote; the texts were written by this
// class alone, so they are whole.
class TextReader {
public:
    explicit TextReader(std::string_view texts) : m_texts(texts) {}

    std::size_t Length() {
        std::size_t length = 0;
        for (int shift = 0; m_at < m_texts.size(); shift += 7) {
            const auto byte = static_cast<unsigned char>(m_texts[m_at++]);
            length |= static_cast<std::size_t>(byte & 0x7F) << shift;
            if (!(byte & 0x80))
                break;
        }
        return length;
    }

    unsigned char Byte() {
        return m_at < m_texts.size() ? static_cast<unsigned char>(m_texts[m_at++]) : 0;
    }

    std::string Text() {
        const std::size_t length = Length();
        std::string text(m_texts.substr(m_at, length));
        m_at += text.size();
        return text;
    }

private:
    std::string_view m_texts;
    std::size_t m_at = 0;
};

} // namespace

PackedHost::PackedHost(const HostRecord& host)
    : m_address(host.address), m_rttMs(host.rttMs), m_reasons(host.reasons), m_mac(host.mac) {
    m_flags = static_cast<unsigned char>(static_cast<unsigned>(host.response) & kResponseMask);
    if (host.nodeStatus)
        m_flags |= kNodeStatus;
    if (host.hasMac)
        m_flags |= kHasMac;
    if (host.computer)
        m_flags |= kHasComputer;
    if (host.workgroup)
        m_flags |= kHasWorkgroup;
    const bool noText = (!host.computer || host.computer->empty()) &&
                        (!host.workgroup || host.workgroup->empty()) && host.vendor.empty() &&
                        host.messengers.empty() && host.names.empty();
    if (noText)
        return; // what the flags say is all there is; the texts read as empty

    std::size_t size = host.vendor.size() + 8;
    size += host.computer ? host.computer->size() : 0;
    size += host.workgroup ? host.workgroup->size() : 0;
    for (const std::string& name : host.messengers)
        size += name.size() + 1;
    for (const HostRecord::Name& name : host.names)
        size += name.text.size() + 2;
    m_texts.reserve(size);
    PutText(m_texts, host.computer ? *host.computer : std::string_view());
    PutText(m_texts, host.workgroup ? *host.workgroup : std::string_view());
    PutText(m_texts, host.vendor);
    PutLength(m_texts, host.messengers.size());
    for (const std::string& name : host.messengers)
        PutText(m_texts, name);
    PutLength(m_texts, host.names.size());
    for (const HostRecord::Name& name : host.names) {
        m_texts.push_back(static_cast<char>(name.source));
        PutText(m_texts, name.text);
    }
}

HostRecord PackedHost::Unpack() const {
    HostRecord host;
    host.address = m_address;
    host.response = Response();
    host.reasons = m_reasons;
    host.rttMs = m_rttMs;
    host.nodeStatus = (m_flags & kNodeStatus) != 0;
    host.hasMac = (m_flags & kHasMac) != 0;
    host.mac = m_mac;
    TextReader reader(m_texts);
    std::string computer = reader.Text();
    std::string workgroup = reader.Text();
    if (m_flags & kHasComputer)
        host.computer = std::move(computer);
    if (m_flags & kHasWorkgroup)
        host.workgroup = std::move(workgroup);
    host.vendor = reader.Text();
    const std::size_t messengers = reader.Length();
    host.messengers.reserve(messengers);
    for (std::size_t i = 0; i < messengers; ++i)
        host.messengers.push_back(reader.Text());
    const std::size_t names = reader.Length();
    host.names.reserve(names);
    for (std::size_t i = 0; i < names; ++i) {
        const auto source = static_cast<HostRecord::NameSource>(reader.Byte());
        host.names.push_back({reader.Text(), source});
    }
    return host;
}
