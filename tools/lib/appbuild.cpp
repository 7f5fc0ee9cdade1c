#include "tools/lib/appbuild.h"

#include "base/crc16.h"
#include "base/le.h"
#include "plc/appblocks.h"
#include "regs/regname.h"
#include "tools/lib/appbuild_datalog.h"
#include "tools/lib/appbuild_int.h"
#include "tools/lib/appbuild_net.h"
#include "tools/lib/appbuild_pictures.h"
#include "tools/lib/appbuild_users.h"
#include "tools/lib/iecasm.h"
#include "tools/lib/ladasm.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace appbuild::detail {

using nlohmann::json;

[[noreturn]] void fail(const std::string &where, const std::string &what) {
    throw Failure{where + ": " + what};
}

std::vector<std::string> *g_warnings = nullptr;
Bytes *g_string_table = nullptr;
void warn(const std::string &where, const std::string &what) {
    if (g_warnings) g_warnings->push_back(where + ": " + what);
}

std::string listed(const std::vector<std::string> &names) {
    std::string text;
    for (const std::string &n : names)
        text += (text.empty() ? "" : ", ") + n;
    return text;
}

void append_le(Bytes &b, uint64_t v, int n) {
    // Fields wider than 8 bytes are zero beyond the value.
    for (int i = 0; i < n; ++i)
        b.push_back(i < 8 ? uint8_t(v >> (8 * i)) : 0);
}

uint64_t number(const json &v, const std::string &where, uint64_t max) {
    if (!v.is_number_integer() && !v.is_number_unsigned()) fail(where, "expected a whole number");
    if (v.is_number_integer() && v.get<int64_t>() < 0) fail(where, "negative number");
    uint64_t n = v.get<uint64_t>();
    if (n > max) fail(where, "number " + std::to_string(n) + " too large");
    return n;
}

// Checks that an object has only the given keys.
void only_keys(const json &o, const std::string &where, std::initializer_list<const char *> keys) {
    if (!o.is_object()) fail(where, "expected an object");
    for (auto it = o.begin(); it != o.end(); ++it)
        if (std::find_if(keys.begin(), keys.end(), [&](const char *k) { return it.key() == k; }) ==
            keys.end())
            fail(where, "unknown key \"" + it.key() + "\"");
}

uint64_t number_or(const json &o, const char *key, uint64_t dflt, const std::string &where,
                   uint64_t max) {
    return o.contains(key) ? number(o[key], where + "." + key, max) : dflt;
}

// A colour: a number, or a string in 0x hex.
uint64_t colour_or(const json &o, const char *key, uint64_t dflt, const std::string &where) {
    if (!o.contains(key) || !o[key].is_string()) return number_or(o, key, dflt, where, 0xFFFF);
    std::string text = o[key].get<std::string>();
    char *end = nullptr;
    unsigned long v = 0;
    bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X') &&
               std::isxdigit(static_cast<unsigned char>(text[2]));
    if (hex) v = std::strtoul(text.c_str() + 2, &end, 16);
    if (!hex || *end || v > 0xFFFF)
        fail(where + "." + key,
             "a colour is a number or 0x hex up to 0xFFFF, not \"" + text + "\"");
    return v;
}

} // namespace appbuild::detail

namespace appbuild {
namespace {

using namespace detail;
using nlohmann::json;

Bytes contents(const json &c, const std::string &where, const std::string &base_dir);

Bytes from_object(const json &c, const std::string &where, const std::string &base_dir) {
    if (c.size() != 1) fail(where, "a contents object has exactly one key");
    const std::string &key = c.begin().key();
    const json &v = c.begin().value();
    Bytes b;
    if (key == "hex") {
        if (!v.is_string()) fail(where, "\"hex\" takes a string");
        std::string digits;
        for (char ch : v.get<std::string>()) {
            if (ch == ' ' || ch == '\n' || ch == '\t' || ch == ':') continue;
            if (!std::isxdigit(static_cast<unsigned char>(ch)))
                fail(where, std::string("not a hex digit: '") + ch + "'");
            digits += ch;
        }
        if (digits.size() % 2) fail(where, "odd number of hex digits");
        for (size_t i = 0; i < digits.size(); i += 2)
            b.push_back(uint8_t(std::stoul(digits.substr(i, 2), nullptr, 16)));
    } else if (key == "bytes" || key == "u16" || key == "u32") {
        if (!v.is_array()) fail(where, "\"" + key + "\" takes a list of numbers");
        int width = key == "bytes" ? 1 : key == "u16" ? 2 : 4;
        for (const json &n : v)
            append_le(b, number(n, where, (1ull << (8 * width)) - 1), width);
    } else if (key == "text") {
        if (!v.is_string()) fail(where, "\"text\" takes a string");
        for (char ch : v.get<std::string>())
            b.push_back(uint8_t(ch));
    } else if (key == "screens") {
        b = screen_program(v, where);
    } else if (key == "ethernet") {
        std::string error;
        if (!v.is_string() || !appnet::entry(v.get<std::string>(), &b, &error)) fail(where, error);
    } else if (key == "datalog") {
        std::string error;
        if (!appdatalog::build(v, &b, &error)) fail(where, error);
    } else if (key == "users") {
        std::string error;
        if (!appusers::table(v, &b, &error)) fail(where, error);
    } else if (key == "zeros") {
        b.assign(number(v, where, 1u << 24), 0);
    } else if (key == "file") {
        if (!v.is_string()) fail(where, "\"file\" takes a file name");
        std::string name = v.get<std::string>();
        std::string full =
            (!name.empty() && name[0] == '/') || base_dir.empty() ? name : base_dir + "/" + name;
        std::string data, error;
        if (!read_input_file(full, &data, &error)) fail(where, error);
        b.assign(data.begin(), data.end());
    } else {
        fail(where, "unknown contents \"" + key + "\"");
    }
    return b;
}

Bytes contents(const json &c, const std::string &where, const std::string &base_dir) {
    if (c.is_array()) {
        Bytes all;
        for (const json &part : c) {
            Bytes b = contents(part, where, base_dir);
            all.insert(all.end(), b.begin(), b.end());
        }
        return all;
    }
    if (c.is_object()) return from_object(c, where, base_dir);
    fail(where, "expected contents (\"default\", \"empty\", an object or a list)");
}

// The contents the start-up validation restores.
Bytes default_of(const std::string &name) {
    Bytes b;
    if (name == "ladder") {
        append_le(b, 9, 2); // END
    } else if (name == "io_config") {
        for (int i = 0; i < 3; ++i)
            append_le(b, 255, 4);
    } else if (name == "net_config") {
        b.assign(34, 0);
        b[5] = 0x40;
    } else if (name == "security") {
        b.assign(app::kSecurityMax, 0);
    } else {
        append_le(b, 8, 4); // an empty table: its own size, no records
        append_le(b, 0, 4);
    }
    return b;
}

Bytes part_data(const json &desc, const std::string &name, const std::string &base_dir) {
    if (!desc.contains(name)) return default_of(name);
    const json &c = desc[name];
    if (c.is_string()) {
        if (c == "default") return default_of(name);
        if (c == "empty") return {};
        fail(name, "unknown contents \"" + c.get<std::string>() + "\"");
    }
    return contents(c, name, base_dir);
}

// A ladder program from its assembly text: {"ladasm": "file.lad"} or
// {"ladasm": {"text": "..."}}. The text carries its own feature word.
Bytes ladder_source(const json &v, const std::string &base_dir) {
    std::string text, source = "ladasm text";
    if (v.is_string()) {
        std::string name = v.get<std::string>();
        std::string full =
            (!name.empty() && name[0] == '/') || base_dir.empty() ? name : base_dir + "/" + name;
        std::string error;
        if (!read_input_file(full, &text, &error)) fail("ladder", error);
        source = full;
    } else if (v.is_object() && v.contains("text") && v["text"].is_string()) {
        text = v["text"].get<std::string>();
    } else {
        fail("ladder", "\"ladasm\" takes a file name or {\"text\": ...}");
    }
    Bytes b;
    std::string error;
    if (!Ladasm_Assemble(text, &b, &error)) fail("ladder", source + ": " + error);
    return b;
}

IecAsmOutput iec_source(const json &v, const std::string &base_dir) {
    std::string text;
    if (v.is_string()) {
        std::string name = v.get<std::string>();
        std::string full =
            (!name.empty() && name[0] == '/') || base_dir.empty() ? name : base_dir + "/" + name;
        std::string error;
        if (!read_input_file(full, &text, &error)) fail("ladder", error);
    } else if (v.is_object() && v.contains("text") && v["text"].is_string()) {
        text = v["text"].get<std::string>();
    } else {
        fail("ladder", "\"iecasm\" takes a file name or {\"text\": ...}");
    }
    IecAsmOutput out;
    std::string error;
    if (!Iecasm_Assemble(text, &out, &error)) fail("ladder", error);
    return out;
}

Bytes ladder_data(const json &desc, const std::string &base_dir) {
    if (!desc.contains("ladder") || !desc["ladder"].is_object())
        return part_data(desc, "ladder", base_dir);
    const json &l = desc["ladder"];
    if (l.contains("ladasm")) return ladder_source(l["ladasm"], base_dir);
    if (l.contains("xti")) {
        const json &x = l["xti"];
        if (!x.is_object() || (!x.contains("code") && !x.contains("iecasm")))
            fail("ladder", "\"xti\" needs \"code\" or \"iecasm\"");
        Bytes code, varloc(4 * app::kVarLocWords, 0);
        if (x.contains("iecasm")) {
            // The image and the register-location table of its .bind lines.
            IecAsmOutput out = iec_source(x["iecasm"], base_dir);
            code = out.image;
            for (size_t i = 0; i < out.varloc.size() && i < app::kVarLocWords; ++i)
                put_le32(&varloc[4 * i], out.varloc[i]);
        } else {
            code = contents(x["code"], "ladder.xti.code", base_dir);
        }
        if (x.contains("varloc")) varloc = contents(x["varloc"], "ladder.xti.varloc", base_dir);
        Bytes b;
        append_le(b, app::kXtiType, 4);
        b.insert(b.end(), {'X', 'T', 'I', 0});
        append_le(b, code.size(), 4);
        append_le(b, 0, 4);
        b.insert(b.end(), code.begin(), code.end());
        b.insert(b.end(), varloc.begin(), varloc.end());
        return b;
    }
    if (!l.contains("program")) return contents(l, "ladder", base_dir);
    Bytes b = l["program"].is_string() ? part_data(l, "program", base_dir)
                                       : contents(l["program"], "ladder.program", base_dir);
    if (l["program"] == "default") b = default_of("ladder");
    if (l.contains("features")) {
        // The programming tool's trailer: the feature word 9 bytes from the end.
        append_le(b, number(l["features"], "ladder.features", 0xFFFFFFFFu), 4);
        append_le(b, 0, 4);
        b.push_back(0);
    }
    return b;
}

json place(const std::string &name, size_t offset, size_t size, uint32_t length, uint16_t crc) {
    return json{
        {"name", name}, {"offset", offset}, {"size", size}, {"length", length}, {"crc", crc}};
}

void add_block(Bytes &file, json &manifest, const std::string &name, const Bytes &data,
               uint32_t capacity) {
    if (data.size() > capacity - 8)
        fail(name, std::to_string(data.size()) + " bytes do not fit its " +
                       std::to_string(capacity - 8) + "-byte block");
    size_t at = file.size();
    uint16_t crc = crc16(data.data(), data.size());
    append_le(file, crc, 4);
    append_le(file, data.size(), 4);
    file.insert(file.end(), data.begin(), data.end());
    manifest.push_back(place(name, at, 8 + data.size(), uint32_t(data.size()), crc));
}

void add_security(Bytes &file, json &manifest, const Bytes &data) {
    if (data.size() > app::kSecurityMax)
        fail("security", "at most " + std::to_string(app::kSecurityMax) + " bytes");
    size_t at = file.size();
    uint16_t crc = crc16(data.data(), data.size());
    append_le(file, data.size(), 2);
    append_le(file, crc, 2);
    file.insert(file.end(), data.begin(), data.end());
    manifest.push_back(place("security", at, 4 + data.size(), uint32_t(data.size()), crc));
}

void add_bitmaps(Bytes &file, json &manifest, const json &desc, const std::string &base_dir,
                 const Bytes &pictures) {
    std::map<int, Bytes> slots;
    const json *b = desc.contains("bitmaps") ? &desc["bitmaps"] : nullptr;
    bool empty = b && *b == "empty";
    if (!pictures.empty()) {
        // The pictures' area runs on through as many slots as it needs.
        if (pictures.size() > app::kBmpTableSize) fail("pictures", "do not fit the bitmap area");
        for (size_t at = 0, n = 0; at < pictures.size(); at += app::kBmpSlotSize, ++n)
            slots[int(n)] =
                Bytes(pictures.begin() + long(at),
                      pictures.begin() + long(std::min(pictures.size(), at + app::kBmpSlotSize)));
        b = &desc["pictures"];
    } else if (!b || *b == "default") {
        slots[0] = default_of("bitmaps");
    } else if (b->is_object()) {
        for (auto it = b->begin(); it != b->end(); ++it) {
            std::string where = "bitmaps." + it.key();
            char *end = nullptr;
            long slot = std::strtol(it.key().c_str(), &end, 10);
            if (it.key().empty() || *end || slot < 0 || slot > 63)
                fail(where, "slot must be 0 to 63");
            Bytes data = contents(it.value(), where, base_dir);
            if (data.size() > app::kBmpSlotSize)
                fail(where, "at most " + std::to_string(app::kBmpSlotSize) + " bytes");
            slots[int(slot)] = std::move(data);
        }
    } else if (!empty) {
        fail("bitmaps", "expected \"default\", \"empty\" or an object of slots");
    }
    size_t used = 0;
    for (auto &s : slots)
        used = std::max(used, size_t(s.first) * app::kBmpSlotSize + s.second.size());
    Bytes area(used, 0);
    for (auto &s : slots)
        std::copy(s.second.begin(), s.second.end(),
                  area.begin() + long(s.first) * app::kBmpSlotSize);
    Bytes map;
    bool default_map = !b || *b == "default";
    for (int n = 0; n < 64; ++n) {
        // Every slot of the default map describes its first 8 bytes, as the
        // start-up validation writes it; otherwise a slot describes its bitmap.
        size_t first = size_t(n) * app::kBmpSlotSize;
        size_t len = default_map ? 8 : (slots.count(n) ? slots[n].size() : 0);
        uint8_t head[8] = {};
        for (size_t i = 0; i < len && i < 8 && first + i < area.size(); ++i)
            head[i] = area[first + i];
        uint16_t crc =
            default_map ? crc16(head, 8) : crc16(len ? area.data() + first : nullptr, len);
        append_le(map, crc, 4);
        append_le(map, len, 4);
    }
    uint16_t total_crc = empty ? 0 : crc16(area.data(), area.size());
    append_le(map, total_crc, 4);
    append_le(map, empty ? 0 : area.size(), 4);
    size_t at = file.size();
    file.insert(file.end(), map.begin(), map.end());
    file.insert(file.end(), area.begin(), area.end());
    manifest.push_back(
        place("bitmaps", at, map.size() + area.size(), uint32_t(area.size()), total_crc));
}

} // namespace

bool build(const json &desc, const std::string &base_dir, Built *out, std::string *error) {
    try {
        if (!desc.is_object()) fail("description", "expected an object");
        std::vector<std::string> known = {"ladder"};
        for (const auto &p : app::kConfigParts)
            known.push_back(p.name);
        known.push_back("pictures");
        for (auto it = desc.begin(); it != desc.end(); ++it)
            if (std::find(known.begin(), known.end(), it.key()) == known.end())
                fail(it.key(), "unknown part (parts: " + listed(known) + ")");
        Built b;
        g_warnings = &b.warnings;
        std::map<std::string, PictureInfo> pictures;
        Bytes picture_area;
        if (desc.contains("pictures")) {
            if (desc.contains("bitmaps"))
                fail("pictures", "the pictures make the bitmap area: give no \"bitmaps\"");
            picture_area = pictures_area(desc["pictures"], base_dir, &pictures);
        }
        g_pictures = &pictures;
        Bytes strings; // the screens' texts, built with the screen program before them
        g_string_table = &strings;
        Bytes enums; // the screens' enumerations, likewise
        g_text_table = &enums;
        json parts = json::array();
        for (const auto &p : app::kConfigParts) {
            switch (p.kind) {
            case app::PartKind::Block:
                if (std::string(p.name) == "string_table" && !strings.empty()) {
                    if (desc.contains(p.name))
                        fail(p.name, "given twice: by the part and by the screens' texts");
                    add_block(b.config, parts, p.name, strings, p.capacity);
                    break;
                }
                if (std::string(p.name) == "text_table" && !enums.empty()) {
                    if (desc.contains(p.name))
                        fail(p.name, "given twice: by the part and by the screens' enumerations");
                    add_block(b.config, parts, p.name, enums, p.capacity);
                    break;
                }
                add_block(b.config, parts, p.name, part_data(desc, p.name, base_dir), p.capacity);
                break;
            case app::PartKind::Security:
                add_security(b.config, parts, part_data(desc, p.name, base_dir));
                break;
            case app::PartKind::Bitmaps:
                add_bitmaps(b.config, parts, desc, base_dir, picture_area);
                break;
            }
        }
        json ladder = json::array();
        add_block(b.ladder, ladder, "ladder", ladder_data(desc, base_dir), app::kLadderCapacity);
        b.manifest = json{{"config.pgm", parts}, {"ladder.pgm", ladder[0]}};
        g_warnings = nullptr;
        g_string_table = nullptr;
        g_pictures = nullptr;
        g_text_table = nullptr;
        *out = std::move(b);
        return true;
    } catch (const Failure &f) {
        *error = f.message;
    } catch (const json::exception &e) {
        *error = e.what();
    }
    g_warnings = nullptr;
    g_string_table = nullptr;
    g_pictures = nullptr;
    g_text_table = nullptr;
    return false;
}

bool read_input_file(const std::string &file, std::string *out, std::string *error) {
    std::error_code ec;
    std::filesystem::file_status st = std::filesystem::status(file, ec);
    if (ec || !std::filesystem::exists(st)) {
        *error = "cannot read " + file + ": no such file";
        return false;
    }
    if (!std::filesystem::is_regular_file(st)) {
        *error = "cannot read " + file + ": not a regular file";
        return false;
    }
    uintmax_t size = std::filesystem::file_size(file, ec);
    if (ec || size > kMaxInputFile) {
        *error =
            "cannot read " + file + ": larger than " + std::to_string(kMaxInputFile) + " bytes";
        return false;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        *error = "cannot read " + file;
        return false;
    }
    out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

bool build_text(const std::string &text, const std::string &base_dir, Built *out,
                std::string *error) {
    json desc;
    try {
        desc = json::parse(text);
    } catch (const json::parse_error &e) {
        // The place of the fault as an editor shows it: line and column of
        // the byte where the parser stopped.
        size_t at = std::min(e.byte ? e.byte - 1 : 0, text.size());
        size_t line = 1 + size_t(std::count(text.begin(), text.begin() + long(at), '\n'));
        size_t bol = text.rfind('\n', at ? at - 1 : 0);
        size_t column = at - (bol == std::string::npos || at == 0 ? 0 : bol + 1) + 1;
        std::string what = e.what();
        size_t colon = what.find(": ", what.find("parse error"));
        *error = "description: not valid JSON: line " + std::to_string(line) + ", column " +
                 std::to_string(column) +
                 (colon == std::string::npos ? "" : ": " + what.substr(colon + 2));
        return false;
    } catch (const json::exception &e) {
        // A number beyond every type, for one: no place is known.
        *error = std::string("description: not valid JSON: ") + e.what();
        return false;
    }
    return build(desc, base_dir, out, error);
}

bool write_files(const Built &built, const std::string &dir, std::string *error) {
    auto put = [&](const std::string &name, const void *data, size_t n) {
        std::ofstream f(dir + "/" + name, std::ios::binary | std::ios::trunc);
        f.write(static_cast<const char *>(data), std::streamsize(n));
        if (!f) *error = "cannot write " + dir + "/" + name;
        return bool(f);
    };
    std::string manifest = built.manifest.dump(2) + "\n";
    return put("config.pgm", built.config.data(), built.config.size()) &&
           put("ladder.pgm", built.ladder.data(), built.ladder.size()) &&
           put("manifest.json", manifest.data(), manifest.size());
}

bool find_part(const json &manifest, const std::string &name, Placed *out) {
    const json *entry = nullptr;
    if (name == "ladder")
        entry = manifest.contains("ladder.pgm") ? &manifest["ladder.pgm"] : nullptr;
    else if (manifest.contains("config.pgm"))
        for (const json &e : manifest["config.pgm"])
            if (e.value("name", "") == name) entry = &e;
    if (!entry) return false;
    out->offset = (*entry)["offset"].get<size_t>();
    out->size = (*entry)["size"].get<size_t>();
    out->length = (*entry)["length"].get<uint32_t>();
    out->crc = (*entry)["crc"].get<uint16_t>();
    return true;
}

} // namespace appbuild
