// Builder of the user table: a header (user count, flags, time-out, in the
// extended form the counter register and the web flag) and 36-byte records.
#include "tools/lib/appbuild_users.h"

#include "base/le.h"
#include "regs/regname.h"

#include <algorithm>

namespace appusers {
namespace {

using nlohmann::json;

struct Failure {
    std::string message;
};
[[noreturn]] void fail(const std::string &where, const std::string &what) {
    throw Failure{where + ": " + what};
}

bool is_register(const json &v) {
    return v.is_string() && !v.get<std::string>().empty() && v.get<std::string>()[0] == '%';
}

uint32_t reference(const json &v, const std::string &where) {
    uint32_t ref = 0, bits = 0;
    std::string error;
    if (!RegName_Parse(v.get<std::string>(), &ref, &bits, &error)) fail(where, error);
    if (ref <= 1024) fail(where, "a register reference above 1024 is needed");
    return ref;
}

void only_keys(const json &o, const std::string &where, std::initializer_list<const char *> keys) {
    if (!o.is_object()) fail(where, "expected an object");
    for (auto it = o.begin(); it != o.end(); ++it)
        if (std::none_of(keys.begin(), keys.end(), [&](const char *k) { return it.key() == k; }))
            fail(where, "unknown key \"" + it.key() + "\"");
}

bool flag(const json &o, const char *key, bool dflt, const std::string &where) {
    if (!o.contains(key)) return dflt;
    if (!o[key].is_boolean()) fail(where + "." + key, "takes true or false");
    return o[key].get<bool>();
}

std::vector<uint8_t> build(const json &d) {
    const std::string where = "users";
    only_keys(d, where, {"login", "timeout", "counter", "web", "users"});
    const bool extended = d.contains("counter") || d.contains("web");
    const json users = d.contains("users") ? d["users"] : json::array();
    if (!users.is_array()) fail(where + ".users", "takes a list");
    if (users.size() > 255) fail(where + ".users", "at most 255 users");
    uint64_t timeout = 600;
    if (d.contains("timeout")) {
        const json &t = d["timeout"];
        if (!t.is_number_unsigned() || t.get<uint64_t>() > 0xFFFF)
            fail(where + ".timeout", "takes seconds, 0 to 65535");
        timeout = t.get<uint64_t>();
    }
    std::vector<uint8_t> b(extended ? 12 : 4, 0);
    b[0] = uint8_t(users.size());
    b[1] = uint8_t((flag(d, "login", true, where) ? 0x02 : 0) | (extended ? 0x10 : 0));
    put_le16(b.data() + 2, uint16_t(timeout));
    if (extended) {
        if (d.contains("counter")) {
            if (!is_register(d["counter"])) fail(where + ".counter", "takes a register name");
            put_le32(b.data() + 4, reference(d["counter"], where + ".counter"));
        }
        put_le32(b.data() + 8, flag(d, "web", false, where) ? 1 : 0);
    }
    for (size_t i = 0; i < users.size(); ++i) {
        const std::string at = where + ".users[" + std::to_string(i) + "]";
        const json &u = users[i];
        only_keys(u, at, {"name", "password", "level"});
        if (!u.contains("name") || !u["name"].is_string() || !u.contains("password") ||
            !u["password"].is_string())
            fail(at, "a user needs \"name\" and \"password\" texts");
        uint8_t r[36] = {};
        put_le16(r + 2, uint16_t(i));
        const bool regs = is_register(u["name"]);
        if (regs != is_register(u["password"]))
            fail(at, "name and password are both texts or both registers");
        const std::string name = u["name"].get<std::string>();
        const std::string password = u["password"].get<std::string>();
        if (regs) {
            put_le16(r, 1);
            put_le32(r + 8, reference(u["name"], at + ".name"));
            put_le32(r + 24, reference(u["password"], at + ".password"));
        } else {
            if (name.empty() || name.size() > 16) fail(at + ".name", "1 to 16 characters");
            if (password.empty() || password.size() > 10)
                fail(at + ".password", "1 to 10 characters");
            put_le16(r, 2);
            std::copy(name.begin(), name.end(), r + 8);
            std::copy(password.begin(), password.end(), r + 24);
        }
        if (u.contains("level")) {
            const json &l = u["level"];
            if (is_register(l))
                put_le32(r + 4, reference(l, at + ".level"));
            else if (l.is_number_unsigned() && l.get<uint64_t>() <= 7)
                put_le32(r + 4, uint32_t(l.get<uint64_t>()));
            else
                fail(at + ".level", "takes 0 to 7 or a register name");
        }
        b.insert(b.end(), r, r + 36);
    }
    return b;
}

} // namespace

bool table(const json &description, std::vector<uint8_t> *out, std::string *error) {
    try {
        *out = build(description);
        return true;
    } catch (const Failure &f) {
        if (error) *error = f.message;
        return false;
    }
}

} // namespace appusers
