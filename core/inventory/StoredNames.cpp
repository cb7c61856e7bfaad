#include "core/inventory/StoredNames.h"

#include "core/inventory/InventoryReport.h"

#include <nlohmann/json.hpp>

#include <cstdint>

namespace {

using Json = nlohmann::json;

// Bytes that are no UTF-8 are replaced rather than refused: the row must
// not be lost for one name.
std::string Dump(const Json& value) {
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

// Parsed, or a value that is no array.
Json Parse(std::string_view text) {
    if (text.empty())
        return nullptr;
    return Json::parse(text, nullptr, false);
}

// The name of the entry's fields from `first` on (source, text), if it is
// one that a store may hold.
bool TakeName(const Json& entry, std::size_t first, HostRecord::Name& name) {
    if (!entry.is_array() || entry.size() != first + 2 || !entry[first].is_string() ||
        !entry[first + 1].is_string())
        return false;
    if (!HostRecord::SourceOf(entry[first].get_ref<const std::string&>(), name.source) ||
        name.source == HostRecord::NameSource::Netbios)
        return false;
    name.text = PlainText(entry[first + 1].get_ref<const std::string&>());
    return !name.text.empty();
}

} // namespace

std::string NamesText(const std::vector<HostRecord::Name>& names) {
    if (names.empty())
        return {};
    Json list = Json::array();
    for (const HostRecord::Name& name : names)
        list.push_back({HostRecord::SourceText(name.source), name.text});
    return Dump(list);
}

std::vector<HostRecord::Name> NamesOfText(std::string_view text) {
    std::vector<HostRecord::Name> names;
    const Json list = Parse(text);
    if (!list.is_array())
        return names;
    for (const Json& entry : list)
        if (HostRecord::Name name; TakeName(entry, 0, name))
            names.push_back(std::move(name));
    return names;
}

std::string LearntNamesText(const std::vector<LearntName>& names) {
    if (names.empty())
        return {};
    Json list = Json::array();
    for (const LearntName& learnt : names)
        list.push_back(
            {learnt.address, HostRecord::SourceText(learnt.name.source), learnt.name.text});
    return Dump(list);
}

std::vector<LearntName> LearntNamesOfText(std::string_view text) {
    std::vector<LearntName> names;
    const Json list = Parse(text);
    if (!list.is_array())
        return names;
    for (const Json& entry : list) {
        LearntName learnt;
        if (!entry.is_array() || entry.empty() || !entry[0].is_number_unsigned() ||
            entry[0].get<std::uint64_t>() > UINT32_MAX || !TakeName(entry, 1, learnt.name))
            continue;
        learnt.address = static_cast<std::uint32_t>(entry[0].get<std::uint64_t>());
        names.push_back(std::move(learnt));
    }
    return names;
}
