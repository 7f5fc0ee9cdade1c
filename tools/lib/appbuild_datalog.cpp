// Builder of the data-log configuration.
#include "tools/lib/appbuild_datalog.h"

#include "regs/regname.h"

#include <algorithm>

namespace appdatalog {
namespace {

using nlohmann::json;

struct Failure {
    std::string message;
};
[[noreturn]] void fail(const std::string &where, const std::string &what) {
    throw Failure{where + ": " + what};
}

void word(std::vector<uint8_t> &b, uint32_t v, int bytes = 4) {
    for (int i = 0; i < bytes; ++i)
        b.push_back(uint8_t(v >> (8 * i)));
}
void put(std::vector<uint8_t> &b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = uint8_t(v >> (8 * i));
}

void only_keys(const json &o, const std::string &where, std::initializer_list<const char *> keys) {
    if (!o.is_object()) fail(where, "expected an object");
    for (auto it = o.begin(); it != o.end(); ++it)
        if (std::find_if(keys.begin(), keys.end(), [&](const char *k) { return it.key() == k; }) ==
            keys.end()) {
            std::string valid;
            for (const char *k : keys)
                valid += (valid.empty() ? "" : ", ") + std::string(k);
            fail(where, "unknown key \"" + it.key() + "\" (keys: " + valid + ")");
        }
}

uint32_t number(const json &v, const std::string &where) {
    if (!v.is_number_unsigned() && !(v.is_number_integer() && v.get<int64_t>() >= 0))
        fail(where, "expected a whole number from 0");
    uint64_t n = v.get<uint64_t>();
    if (n > 0xFFFFFFFFu) fail(where, "number too large");
    return uint32_t(n);
}

uint32_t number_or(const json &o, const char *key, uint32_t dflt, const std::string &where) {
    return o.contains(key) ? number(o[key], where + "." + key) : dflt;
}

// A register name or a reference; 0 when left out.
uint32_t reg(const json &o, const char *key, const std::string &where) {
    if (!o.contains(key)) return 0;
    const json &v = o[key];
    if (!v.is_string()) return number(v, where + "." + key);
    uint32_t ref = 0, bits = 0;
    std::string error;
    if (!RegName_Parse(v.get<std::string>(), &ref, &bits, &error))
        fail(where + "." + key, error + ": \"" + v.get<std::string>() + "\"");
    return ref;
}

std::string text_or(const json &o, const char *key, const std::string &dflt,
                    const std::string &where) {
    if (!o.contains(key)) return dflt;
    if (!o[key].is_string()) fail(where + "." + key, "expected a text");
    return o[key].get<std::string>();
}

const char *const kTypeNames[13] = {"bit",  "binary", "int16",   "int32", "uint16", "uint32", "hex",
                                    "text", "float",  "address", "date",  "time",   "double"};

uint32_t type_of(const json &c, const std::string &where) {
    if (!c.contains("type")) fail(where, "a column needs \"type\"");
    const json &t = c["type"];
    if (!t.is_string()) return number(t, where + ".type");
    std::string name = t.get<std::string>();
    for (uint32_t i = 0; i < 13; ++i)
        if (name == kTypeNames[i]) return i;
    std::string valid;
    for (const char *n : kTypeNames)
        valid += (valid.empty() ? "" : ", ") + std::string(n);
    fail(where + ".type", "unknown type \"" + name + "\" (types: " + valid + ")");
}

// The strings behind the group records: each placed once, unterminated.
struct Pool {
    std::string bytes;
    std::pair<uint32_t, uint32_t> add(const std::string &s) {
        uint32_t at = uint32_t(bytes.size());
        bytes += s;
        return {at, uint32_t(s.size())};
    }
};

} // namespace

bool build(const json &desc, std::vector<uint8_t> *out, std::string *error) {
    try {
        const std::string where = "datalog";
        only_keys(desc, where, {"enable", "status", "groups"});
        const json groups = desc.contains("groups") ? desc["groups"] : json::array();
        if (!groups.is_array()) fail(where, "\"groups\" takes a list");
        if (groups.size() > 0xFFFF) fail(where, "too many groups");
        std::vector<uint8_t> b;
        word(b, 0); // size, below
        word(b, 0x444C4F47);
        word(b, 0);
        word(b, reg(desc, "enable", where));
        word(b, reg(desc, "status", where));
        word(b, 0, 2);
        word(b, uint32_t(groups.size()), 2);
        Pool pool;
        // String offsets are known once the records end: patch them after.
        std::vector<std::pair<size_t, std::pair<uint32_t, uint32_t>>> strings;
        for (size_t i = 0; i < groups.size(); ++i) {
            const std::string gw = where + ".groups[" + std::to_string(i) + "]";
            const json &g = groups[i];
            only_keys(g, gw,
                      {"folder", "base", "period", "unit", "trigger", "status", "date_style",
                       "time_style", "columns"});
            if (!g.contains("folder")) fail(gw, "a group needs \"folder\"");
            std::string unit = text_or(g, "unit", "seconds", gw);
            if (unit != "seconds" && unit != "minutes")
                fail(gw + ".unit", "\"seconds\" or \"minutes\", not \"" + unit + "\"");
            const json cols = g.contains("columns") ? g["columns"] : json::array();
            if (!cols.is_array()) fail(gw, "\"columns\" takes a list");
            size_t at = b.size();
            word(b, 0); // folder, below
            word(b, 0);
            word(b, reg(g, "trigger", gw));
            word(b, reg(g, "status", gw));
            word(b, number_or(g, "period", 0, gw));
            word(b, unit == "minutes" ? 1 : 0);
            word(b, 0); // base, below
            word(b, 0);
            word(b, number_or(g, "date_style", 0, gw));
            word(b, number_or(g, "time_style", 0, gw));
            word(b, uint32_t(cols.size()));
            strings.push_back({at, pool.add(text_or(g, "folder", "", gw))});
            strings.push_back({at + 24, pool.add(text_or(g, "base", "\\", gw))});
            for (size_t c = 0; c < cols.size(); ++c) {
                const std::string cw = gw + ".columns[" + std::to_string(c) + "]";
                only_keys(cols[c], cw, {"register", "type", "name"});
                size_t col_at = b.size();
                word(b, reg(cols[c], "register", cw));
                word(b, type_of(cols[c], cw));
                word(b, 0); // name, below
                word(b, 0);
                strings.push_back({col_at + 8, pool.add(text_or(cols[c], "name", "", cw))});
            }
        }
        for (auto &[at, s] : strings) {
            put(b, at, s.first);
            put(b, at + 4, s.second);
        }
        b.insert(b.end(), pool.bytes.begin(), pool.bytes.end());
        put(b, 0, uint32_t(b.size()));
        *out = std::move(b);
        return true;
    } catch (const Failure &f) {
        *error = f.message;
    } catch (const json::exception &e) {
        *error = e.what();
    }
    return false;
}

} // namespace appdatalog
