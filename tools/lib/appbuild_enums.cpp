// The application builder's enumerations: named tables of values and texts
// that enumeration fields show, written into the "text_table" part (u16
// marker 0, u16 count, then u32 value and u32 text offset per entry, values
// ascending); the texts go into the string table, so they follow the language.
#include "tools/lib/appbuild_int.h"

namespace appbuild::detail {

Bytes *g_text_table = nullptr;

void Enumerations::build(
    const nlohmann::json &e, const std::string &where,
    const std::function<uint32_t(const nlohmann::json &, const std::string &)> &text_offset) {
    if (!e.is_object()) fail(where, "expected an object of named tables");
    for (auto it = e.begin(); it != e.end(); ++it) {
        const std::string at = where + "." + it.key();
        const nlohmann::json &list = it.value();
        if (!list.is_array() || list.empty())
            fail(at, "an enumeration is a list of [value, text] pairs");
        if (list.size() > 0xFFFF) fail(at, "at most 65535 entries");
        offsets[it.key()] = uint32_t(table.size());
        append_le(table, 0, 2); // marker: the texts are string offsets
        append_le(table, list.size(), 2);
        int64_t previous = INT64_MIN;
        for (size_t i = 0; i < list.size(); ++i) {
            const std::string entry = at + "[" + std::to_string(i) + "]";
            const nlohmann::json &p = list[i];
            if (!p.is_array() || p.size() != 2 || !p[0].is_number_integer())
                fail(entry, "expected [value, text]");
            const int64_t v = p[0].get<int64_t>();
            if (v < INT32_MIN || v > INT32_MAX) fail(entry, "a value is a 32-bit signed number");
            if (v <= previous) fail(entry, "values must ascend");
            previous = v;
            append_le(table, uint32_t(int32_t(v)), 4);
            append_le(table, text_offset(p[1], entry), 4);
        }
    }
}

uint32_t Enumerations::offset(const nlohmann::json &v, const std::string &where) const {
    if (!v.is_string()) return uint32_t(number(v, where, 0xFFFFFFFFu));
    auto it = offsets.find(v.get<std::string>());
    if (it == offsets.end()) {
        std::vector<std::string> names;
        for (const auto &[name, at] : offsets)
            names.push_back(name);
        fail(where, "unknown enumeration \"" + v.get<std::string>() + "\"" +
                        (names.empty() ? std::string() : " (enumerations: " + listed(names) + ")"));
    }
    return it->second;
}

} // namespace appbuild::detail
