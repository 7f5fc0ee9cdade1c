// The application builder's screen programs: the header, the pages with their
// object records and register link tables, and the string table of the texts
// the screens use.
#include "base/le.h"
#include "objects/records.h"
#include "regs/regname.h"
#include "screens/screens.h"
#include "tools/lib/appbuild_int.h"
#include "tools/lib/appbuild_pictures.h"

#include <algorithm>
#include <bit>
#include <map>

namespace appbuild::detail {
namespace {

using nlohmann::json;

// Registers named on a page: each gets a page link (2-1023), an 8-byte entry
// of the page's link table (u32 reference, u32 extension word 0).
struct Links {
    std::vector<uint32_t> refs;
    std::map<uint32_t, uint16_t> link;
    uint16_t of(const std::string &name, const std::string &where) {
        uint32_t ref = 0, bits = 0;
        std::string error;
        if (!RegName_Parse(name, &ref, &bits, &error)) fail(where, error + ": \"" + name + "\"");
        auto it = link.find(ref);
        if (it != link.end()) return it->second;
        if (refs.size() >= 1022) fail(where, "a page links at most 1022 registers");
        refs.push_back(ref);
        return link[ref] = uint16_t(refs.size() + 1);
    }
};

// A register link word: a register name (a page link) or the link value.
uint16_t register_link(const json &v, Links &links, const std::string &where) {
    if (v.is_string()) return links.of(v.get<std::string>(), where);
    return uint16_t(number(v, where, 0xFFFF));
}

// The texts of the screens, the same layout in every language: each text is
// its line count (one byte, or one 16-bit word for Unicode texts) and its lines,
// each ended by a 0 character; a field holds the offset of its first character.
// A text shorter in one language than in another is padded with zeros.
struct Texts {
    unsigned languages = 1;
    bool wide = false;
    std::vector<Bytes> segments;                         // one per language
    std::map<std::vector<std::string>, uint32_t> placed; // text in every language -> offset
    bool used = false;

    std::u32string decode(const std::string &s) {
        std::u32string out;
        for (size_t i = 0; i < s.size();) {
            unsigned char c = static_cast<unsigned char>(s[i]);
            int n = c < 0x80 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
            char32_t cp = n == 0 ? c : c & (0x3F >> n);
            for (int k = 1; k <= n && i + size_t(k) < s.size(); ++k)
                cp = (cp << 6) | (static_cast<unsigned char>(s[i + size_t(k)]) & 0x3F);
            out.push_back(cp);
            i += size_t(n) + 1;
        }
        return out;
    }
    void unit(Bytes &b, uint32_t v) { append_le(b, v, wide ? 2 : 1); }
    Bytes encode(const std::string &text, const std::string &where) {
        Bytes body;
        uint32_t lines = 1;
        for (char32_t c : decode(text)) {
            if (c == U'\n') {
                unit(body, 0);
                ++lines;
            } else if (!wide) {
                if (c > 0xFF)
                    fail(where, "a character above 0xFF needs Unicode texts (flags 0x100)");
                unit(body, c);
            } else if (c > 0xFFFF) {
                unit(body, 0xD800 + ((c - 0x10000) >> 10));
                unit(body, 0xDC00 + ((c - 0x10000) & 0x3FF));
            } else {
                unit(body, c);
            }
        }
        unit(body, 0);
        Bytes b;
        unit(b, lines);
        b.insert(b.end(), body.begin(), body.end());
        return b;
    }
    // The offset of a text given as one string (every language) or a list of
    // one string per language.
    uint32_t offset(const json &v, const std::string &where) {
        std::vector<std::string> each;
        if (v.is_string()) {
            each.assign(languages, v.get<std::string>());
        } else if (v.is_array() && v.size() == languages &&
                   std::all_of(v.begin(), v.end(), [](const json &t) { return t.is_string(); })) {
            for (const json &t : v)
                each.push_back(t.get<std::string>());
        } else {
            fail(where, "a text is a string or a list of " + std::to_string(languages) +
                            " strings, one per language");
        }
        used = true;
        if (auto it = placed.find(each); it != placed.end()) return it->second;
        std::vector<Bytes> coded;
        size_t size = 0;
        for (const std::string &t : each) {
            coded.push_back(encode(t, where));
            size = std::max(size, coded.back().size());
        }
        const uint32_t at = uint32_t(segments[0].size()) + (wide ? 2 : 1);
        for (unsigned l = 0; l < languages; ++l) {
            coded[l].resize(size, 0);
            segments[l].insert(segments[l].end(), coded[l].begin(), coded[l].end());
        }
        placed[each] = at;
        return at;
    }
    // The table's data: its length counting the bytes after it, 4 bytes not
    // read, then the segments.
    Bytes table() const {
        Bytes b;
        append_le(b, 4 + uint64_t(languages) * segments[0].size(), 4);
        append_le(b, 0, 4);
        for (const Bytes &s : segments)
            b.insert(b.end(), s.begin(), s.end());
        return b;
    }
};

void check_type_name(const json &v, uint16_t *type, const std::string &where) {
    if (!v.is_string()) {
        *type = uint16_t(number(v, where, 0xFFFF));
        return;
    }
    std::string name = v.get<std::string>();
    std::vector<std::string> names;
    for (int t = 0; t < kObjTypes; ++t) {
        names.push_back(kObjClassName[t]);
        if (name == kObjClassName[t]) {
            *type = uint16_t(t);
            return;
        }
    }
    fail(where, "unknown class \"" + name + "\" (classes: " + listed(names) + ")");
}

int16_t signed16(const json &v, const std::string &where) {
    if (!v.is_number_integer()) fail(where, "expected a whole number");
    int64_t n = v.get<int64_t>();
    if (n < -32768 || n > 32767) fail(where, "out of range -32768 to 32767");
    return int16_t(n);
}

uint16_t colour(const json &v, const std::string &where) {
    json o{{"c", v}};
    return uint16_t(colour_or(o, "c", 0, where));
}

// "gradient" of an object: the 12-byte extension (i16 mode, u16 not read,
// u16 parameters 1 and 2, end colour, start colour).
Bytes object_gradient(const json &g, const std::string &where) {
    only_keys(g, where, {"mode", "start", "end", "p1", "p2"});
    if (!g.contains("start") || !g.contains("end"))
        fail(where, "a gradient needs \"start\" and \"end\" colours");
    Bytes b;
    append_le(b, uint16_t(g.contains("mode") ? signed16(g["mode"], where + ".mode") : 1), 2);
    append_le(b, 0, 2);
    append_le(b, number_or(g, "p1", 0, where, 0xFFFF), 2);
    append_le(b, number_or(g, "p2", 0, where, 0xFFFF), 2);
    append_le(b, colour_or(g, "end", 0, where), 2);
    append_le(b, colour_or(g, "start", 0, where), 2);
    return b;
}

uint32_t reference(const json &o, const char *key, const std::string &where);

// The tail of a meter (type 9) or pointer (type 24): "dial" {"picture": name,
// and for a pointer "kind", "counter", "counter_colour"}, and a pointer's
// "shape" (0 line, 1 triangle, 2 arrow, else none), in the dial extension or,
// without a dial, 8 bytes from the record's end.
Bytes dial_tail(const json &o, int cls, const std::string &where, const PictureInfo **picture) {
    if (cls != 9 && cls != 24) fail(where, "only meters (METER) and pointers (ROT) have a dial");
    if (cls == 9 && o.contains("shape")) fail(where + ".shape", "belongs to a pointer (ROT)");
    Bytes b;
    if (!o.contains("dial")) { // a pointer's shape byte alone
        b.assign(rec::rot::kShapeTail, 0);
        b[0] = uint8_t(number(o["shape"], where + ".shape", 0xFF));
        return b;
    }
    const std::string at = where + ".dial";
    const json &d = o["dial"];
    if (!d.is_object()) fail(at, "expected an object");
    if (cls == 9)
        only_keys(d, at, {"picture"});
    else
        only_keys(d, at, {"picture", "kind", "counter", "counter_colour"});
    if (!d.contains("picture") || !d["picture"].is_string() || !g_pictures ||
        !g_pictures->count(d["picture"].get<std::string>()))
        fail(at + ".picture", "names no picture of \"pictures\"");
    const PictureInfo &p = g_pictures->at(d["picture"].get<std::string>());
    *picture = &p;
    const uint16_t key = p.transparent ? p.colour : 0xFFFF;
    if (cls == 9) {
        namespace m = rec::meter;
        b.assign(m::kExtBytes, 0);
        put_le16(b.data() + m::kExtPresent, 1);
        put_le16(b.data() + m::kExtTransparent, key);
        b[m::kExtDepth] = uint8_t(p.depth);
        put_le32(b.data() + m::kExtPicture, p.offset);
        return b;
    }
    namespace r = rec::rot;
    b.assign(r::kDialBytes, 0);
    put_le16(b.data() + r::kDialKind, uint16_t(number_or(d, "kind", 0, at, 0xFFFF)));
    if (d.contains("counter") && !d["counter"].is_boolean())
        fail(at + ".counter", "takes true or false");
    put_le16(b.data() + r::kDialCounter, d.value("counter", false) ? 1 : 0);
    put_le16(b.data() + r::kDialTransparent, key);
    b[r::kDialDepth] = uint8_t(p.depth);
    put_le32(b.data() + r::kDialPicture, p.offset);
    put_le16(b.data() + r::kDialCounterColour, uint16_t(colour_or(d, "counter_colour", 0, at)));
    b[r::kDialShape] = uint8_t(number_or(o, "shape", 0, where, 0xFF));
    return b;
}

// An object record: type word (class, access level, gradient bit), flags,
// state mask and register link, the rectangle, the named class fields (zero
// where not given) up to the class's record length; then the alternative
// colours and the gradient extension, which the record's own length covers.
Bytes screen_object(const json &o, const std::string &where, Links &links, Texts &texts,
                    const Enumerations &enums) {
    only_keys(o, where,
              {"type", "flags", "rect", "length", "level", "static", "state", "fields", "colors",
               "gradient", "pens", "extension", "pictures", "labels", "dial", "shape"});
    if (!o.contains("type")) fail(where, "an object needs \"type\"");
    uint16_t type = 0;
    check_type_name(o["type"], &type, where + ".type");
    const int cls = type & 0x0FFF;
    uint32_t flags = uint32_t(number_or(o, "flags", 1, where, 0xFFFFFFFFu));
    if (o.contains("level")) type = uint16_t(type | number(o["level"], where + ".level", 7) << 12);
    if (o.contains("static")) {
        if (!o["static"].is_boolean()) fail(where, "\"static\" takes true or false");
        if (o["static"].get<bool>()) {
            if (cls == 5) fail(where, "a screen button (type 5) cannot be static");
            flags |= objflag::kStatic;
        }
    }
    // The class table's length where it has a row (a class installed in it),
    // else the type's record length.
    size_t length = ObjClass_RecordLength(cls);
    if (length == 0 && cls < kObjTypes) length = kObjRecordLength[cls];
    if (length == 0) {
        length = 32; // no class: the shortest record
        warn(where,
             "unknown object type " + std::to_string(cls) + " (written as a 32-byte record)");
    }
    const size_t class_length = length;

    uint16_t mask = 0, link = 0;
    if (o.contains("state")) {
        const json &st = o["state"];
        only_keys(st, where + ".state", {"register", "mask"});
        if (!st.contains("register")) fail(where + ".state", "needs \"register\"");
        link = register_link(st["register"], links, where + ".state.register");
        mask = uint16_t(number_or(st, "mask", 1, where + ".state", 0xFFFF));
    }
    // A trend graph's pens and extension record follow its class's record.
    GraphTail tail;
    if (cls == 10)
        tail = graph_tail(
            o, where,
            [&](const json &v, const std::string &at) { return register_link(v, links, at); },
            [&](const json &v, const std::string &at) {
                return v.is_number() ? uint32_t(number(v, at, 0xFFFFFFFFu)) : texts.offset(v, at);
            });
    else if (o.contains("pens") || o.contains("extension"))
        fail(where, "\"pens\" and \"extension\" belong to a trend graph (GRAPH)");
    Bytes extra = tail.bytes;
    // A selector's position labels: the first in the class's record, the
    // others after it.
    uint32_t first_label = 0;
    if (o.contains("labels")) {
        const std::string at = where + ".labels";
        const json &l = o["labels"];
        if (cls != 11) fail(at, "only a selector (SELCT) has position labels");
        if (!l.is_array() || l.empty() || l.size() > 255)
            fail(at, "takes a list of 1 to 255 texts");
        if (o.contains("colors")) fail(at, "a selector takes no alternative colours");
        for (size_t i = 0; i < l.size(); ++i) {
            const uint32_t off =
                l[i].is_number() ? uint32_t(number(l[i], at, 0xFFFFFFFFu)) : texts.offset(l[i], at);
            if (i == 0)
                first_label = off;
            else
                append_le(extra, off, 4);
        }
        flags |= objflag::kOwnLength;
    }
    if (o.contains("colors")) {
        const json &c = o["colors"];
        if (!c.is_array() || c.size() != 4) fail(where, "\"colors\" takes 4 alternative colours");
        if (!(mask & 0xF0))
            fail(where, "alternative colours are chosen by state mask bits 4-7 (0xF0)");
        for (size_t i = 0; i < 4; ++i)
            append_le(extra, colour(c[i], where + ".colors"), 2);
    } else if (mask & 0xF0) {
        fail(where, "state mask bits 4-7 choose alternative colours: give \"colors\"");
    }
    uint32_t gradient_at = 0;
    if (o.contains("gradient")) {
        gradient_at = uint32_t(class_length + extra.size());
        Bytes g = object_gradient(o["gradient"], where + ".gradient");
        extra.insert(extra.end(), g.begin(), g.end());
        type |= rec::kTypeGradient;
    }
    // A meter's or pointer's dial picture, or a pointer's shape byte: the
    // record's last bytes.
    const PictureInfo *dial = nullptr;
    if (o.contains("dial") || o.contains("shape")) {
        Bytes t = dial_tail(o, cls, where, &dial);
        extra.insert(extra.end(), t.begin(), t.end());
        if (o.contains("length")) fail(where, "\"length\" would move the dial picture's fields");
    }
    if (!extra.empty() || o.contains("labels")) {
        length = class_length + extra.size();
        flags |= objflag::kOwnLength;
    }
    // A bitmap's frame table: the named pictures, each an offset (and, when
    // one has a transparent colour, that colour and the picture flags).
    Bytes frames;
    const PictureInfo *first = nullptr;
    if (o.contains("pictures")) {
        const std::string at = where + ".pictures";
        const json &names = o["pictures"];
        if (cls != 8) fail(at, "only a bitmap (type 8) has a frame table");
        if (!extra.empty()) fail(at, "a bitmap takes no alternative colours or gradient");
        if (!names.is_array() || names.empty() || names.size() > 255)
            fail(at, "takes a list of 1 to 255 picture names");
        bool keyed = false;
        std::vector<const PictureInfo *> list;
        for (const json &n : names) {
            if (!g_pictures || !n.is_string() || !g_pictures->count(n.get<std::string>()))
                fail(at, "names no picture of \"pictures\"");
            const PictureInfo &p = g_pictures->at(n.get<std::string>());
            list.push_back(&p);
            keyed = keyed || p.transparent;
        }
        first = list[0];
        for (const PictureInfo *p : list) {
            append_le(frames, p->offset, 4);
            if (keyed) {
                append_le(frames, p->transparent ? p->colour : 0xFFFF, 2);
                append_le(frames, p->transparent ? 1 : 0, 2);
            }
        }
        length = std::max(length, rec::bmp::kTable + frames.size());
        flags |= objflag::kOwnLength;
    }
    if (o.contains("length")) {
        size_t own = number(o["length"], where + ".length", 0xFFFF);
        if (!frames.empty() && own < rec::bmp::kTable + frames.size())
            fail(where, "a length of " + std::to_string(own) + " does not hold the frame table");
        if (own < kObjOwnLengthEnd)
            fail(where,
                 "an object record has at least " + std::to_string(kObjOwnLengthEnd) + " bytes");
        // Shorter than the class's record is a record of its own length;
        // what follows the class's record must fit in it.
        if (!extra.empty() && own < length)
            fail(where, "a length of " + std::to_string(own) + " does not hold the record's " +
                            std::to_string(length) + " bytes");
        length = own;
        flags |= objflag::kOwnLength;
    }

    Bytes b;
    append_le(b, type, 2);
    append_le(b, flags, 4);
    append_le(b, mask, 2);
    append_le(b, link, 2);
    int16_t rect[4] = {};
    if (o.contains("rect")) {
        const json &r = o["rect"];
        if (!r.is_array() || r.size() != 4)
            fail(where, "\"rect\" takes [left, top, right, bottom]");
        for (int i = 0; i < 4; ++i) {
            if (!r[i].is_number_integer()) fail(where, "\"rect\" takes whole numbers");
            int64_t v = r[i].get<int64_t>();
            if (v < -32768 || v > 32767) fail(where, "rectangle out of range");
            rect[i] = int16_t(v);
        }
    }
    for (int16_t v : rect)
        append_le(b, uint16_t(v), 2);
    b.resize(std::max(length, class_length), 0);
    std::copy(extra.begin(), extra.end(), b.begin() + long(class_length));
    b.resize(length);
    if (first) {
        std::copy(frames.begin(), frames.end(), b.begin() + long(rec::bmp::kTable));
        b[rec::bmp::kFrames] = uint8_t(o["pictures"].size());
        b[rec::bmp::kRowBytes] = uint8_t(first->row_bytes);
        b[rec::bmp::kBitsPerPixel] = uint8_t(first->depth);
        const int w = rect[2] - rect[0] + 1, h = rect[3] - rect[1] + 1;
        if (first->width != w || first->height != h)
            warn(where, "its pictures are " + std::to_string(first->width) + " x " +
                            std::to_string(first->height) + ", the bitmap " + std::to_string(w) +
                            " x " + std::to_string(h) + " (a bitmap shows its rectangle's size)");
    }

    if (o.contains("labels")) {
        put_le32(b.data() + rec::selct::kLabels, first_label);
        b[rec::selct::kPositions] = uint8_t(o["labels"].size());
    }
    if (dial) {
        const int w = rect[2] - rect[0] + 1, h = rect[3] - rect[1] + 1;
        if (dial->width != w || dial->height != h)
            warn(where, "its dial picture is " + std::to_string(dial->width) + " x " +
                            std::to_string(dial->height) + ", the object " + std::to_string(w) +
                            " x " + std::to_string(h) + " (the picture is drawn at its corner)");
    }

    const auto fields = rec::ClassFields(cls);
    if (o.contains("fields")) {
        const json &f = o["fields"];
        if (!f.is_object()) fail(where + ".fields", "expected an object");
        for (auto it = f.begin(); it != f.end(); ++it) {
            const std::string at = where + ".fields." + it.key();
            auto field = std::find_if(fields.begin(), fields.end(), [&](const rec::RecordField &r) {
                return it.key() == r.name;
            });
            if (field == fields.end()) {
                std::vector<std::string> names;
                for (const rec::RecordField &r : fields)
                    names.push_back(r.name);
                fail(at, names.empty() ? "type " + std::to_string(cls) + " has no named fields"
                                       : "unknown field (fields: " + listed(names) + ")");
            }
            const size_t size = rec::FieldSize(field->kind);
            if (field->offset + size > b.size())
                fail(at, "lies past the record's " + std::to_string(b.size()) + " bytes");
            if ((flags & objflag::kOwnLength) && field->offset < rec::kOwnLength + 2 &&
                field->offset + size > rec::kOwnLength)
                fail(at, "shares bytes 30-31 with the record's own length");
            const json &v = it.value();
            uint64_t value = 0;
            switch (field->kind) {
            case rec::FieldKind::U8:
                value = number(v, at, 0xFF);
                break;
            case rec::FieldKind::U16:
                value = number(v, at, 0xFFFF);
                break;
            case rec::FieldKind::U32:
                value = number(v, at, 0xFFFFFFFFu);
                break;
            case rec::FieldKind::I16:
                value = uint16_t(signed16(v, at));
                break;
            case rec::FieldKind::I32:
                if (!v.is_number_integer() || v.get<int64_t>() < INT32_MIN ||
                    v.get<int64_t>() > INT32_MAX)
                    fail(at, "expected a whole number from -2147483648 to 2147483647");
                value = uint32_t(int32_t(v.get<int64_t>()));
                break;
            case rec::FieldKind::Color:
                value = colour(v, at);
                break;
            case rec::FieldKind::Fill:
                if (o.contains("gradient"))
                    fail(at, "holds the gradient extension's offset with \"gradient\"");
                value = colour(v, at);
                break;
            case rec::FieldKind::Reg:
                value = register_link(v, links, at);
                break;
            case rec::FieldKind::Text:
                value = v.is_number() ? number(v, at, 0xFFFFFFFFu) : texts.offset(v, at);
                break;
            case rec::FieldKind::Enum:
                value = enums.offset(v, at);
                break;
            case rec::FieldKind::F32:
                if (!v.is_number()) fail(at, "expected a number");
                value = std::bit_cast<uint32_t>(v.get<float>());
                break;
            case rec::FieldKind::Ref: {
                json holder = json::object();
                holder["r"] = v;
                value = reference(holder, "r", at);
                break;
            }
            }
            for (size_t i = 0; i < size; ++i)
                b[field->offset + i] = uint8_t(value >> (8 * i));
        }
    }
    if (o.contains("gradient")) {
        auto fill = std::find_if(fields.begin(), fields.end(), [](const rec::RecordField &r) {
            return r.kind == rec::FieldKind::Fill;
        });
        if (fill == fields.end())
            fail(where, "type " + std::to_string(cls) + " has no fill field for a gradient");
        put_le16(b.data() + fill->offset, uint16_t(gradient_at));
    }
    if (cls == 10) graph_finish(b, tail);
    if (flags & objflag::kOwnLength) put_le16(b.data() + rec::kOwnLength, uint16_t(length));
    return b;
}

// "gradient": [start colour, end colour, lead-in lines, lead-out lines] of a
// version 2 page.
Bytes screen_gradient(const json &p, uint64_t version, const std::string &where) {
    Bytes b;
    if (!p.contains("gradient")) return b;
    const json &g = p["gradient"];
    if (version < 2) fail(where, "a gradient needs version 2");
    if (!g.is_array() || g.size() != 4)
        fail(where, "\"gradient\" takes [start, end, lead-in, lead-out]");
    for (size_t i = 0; i < 4; ++i)
        append_le(b, number(g[i], where + ".gradient", 0xFFFF), 2);
    return b;
}

constexpr size_t kPageLinkTable = 10; // page offset of the link table's offset

// A page record (version 0-2, default 2; a gradient background with version
// 2) and its objects; the registers they name go to `links`.
Bytes screen_page(const json &p, const std::string &where, Links &links, Texts &texts,
                  const Enumerations &enums) {
    only_keys(p, where, {"screen", "background", "fault", "objects", "version", "gradient"});
    if (!p.contains("screen")) fail(where, "a page needs \"screen\"");
    uint64_t screen = number(p["screen"], where + ".screen", 1023);
    if (screen == 0) fail(where, "screen numbers start at 1");
    if (p.contains("fault") && !p["fault"].is_boolean())
        fail(where, "\"fault\" takes true or false");
    bool fault_marker = p.value("fault", false);
    const json objects = p.contains("objects") ? p["objects"] : json::array();
    if (!objects.is_array()) fail(where, "\"objects\" takes a list");
    if (objects.size() > 1024) fail(where, "at most 1024 objects");
    const uint64_t version = number_or(p, "version", 2, where, 2);
    Bytes gradient = screen_gradient(p, version, where);
    Bytes b;
    append_le(b, screen - 1, 2);
    append_le(b, fault_marker ? 0xFFFF : 0, 2);
    append_le(b, objects.size(), 2);
    append_le(b, colour_or(p, "background", 0xFFDF, where), 2);
    append_le(b, version, 2);
    append_le(b, 0, 4); // link table, set once the tables are placed
    if (version >= 1) {
        append_le(b, 0, 4); // dynamic scan list
        append_le(b, 0, 4);
    }
    if (version >= 2) {
        append_le(b, gradient.empty() ? 0 : 1, 2); // page flags
        b.insert(b.end(), gradient.begin(), gradient.end());
    }
    for (size_t i = 0; i < objects.size(); ++i) {
        Bytes o = screen_object(objects[i], where + ".objects[" + std::to_string(i) + "]", links,
                                texts, enums);
        b.insert(b.end(), o.begin(), o.end());
    }
    return b;
}

// A register reference: a register name or the reference itself.
uint32_t reference(const json &o, const char *key, const std::string &where) {
    if (!o.contains(key) || !o[key].is_string())
        return uint32_t(number_or(o, key, 0, where, 0xFFFFFFFFu));
    uint32_t ref = 0, bits = 0;
    std::string error;
    if (!RegName_Parse(o[key].get<std::string>(), &ref, &bits, &error))
        fail(where + "." + key, error);
    return ref;
}

// The screen-capture set-up: register reference, option bits, offset of the
// file name in the string table.
Bytes capture_setup(const json &c, const std::string &where) {
    only_keys(c, where, {"register", "options", "name_offset"});
    Bytes b;
    append_le(b, reference(c, "register", where), 4);
    append_le(b, number_or(c, "options", 0, where, 3), 4);
    append_le(b, number_or(c, "name_offset", 0, where, 0xFFFFFFFFu), 4);
    return b;
}

// "strings": {"languages": N, "texts": [...]}: the texts placed first, in
// their order (each a string or a list of one string per language).
void screen_strings(const json &s, const std::string &where, Texts &texts) {
    only_keys(s, where, {"languages", "texts"});
    texts.languages = unsigned(number_or(s, "languages", 1, where, 255));
    if (texts.languages == 0) fail(where, "\"languages\" is 1 to 255");
    texts.segments.assign(texts.languages, Bytes{});
    texts.used = true;
    if (!s.contains("texts")) return;
    if (!s["texts"].is_array()) fail(where, "\"texts\" takes a list");
    for (size_t i = 0; i < s["texts"].size(); ++i)
        texts.offset(s["texts"][i], where + ".texts[" + std::to_string(i) + "]");
}

// A menu line's field descriptor (36 bytes): kind, alignment, width,
// decimals, minimum or enumeration, maximum, column, size in bits, the
// register (a 16-bit reference), the units text.
Bytes menu_field(const json &f, const std::string &where, Texts &texts, const Enumerations &enums) {
    only_keys(f, where,
              {"kind", "align", "width", "decimals", "min", "max", "column", "bits", "register",
               "units", "enumeration"});
    Bytes d(36, 0);
    d[0] = uint8_t(number_or(f, "kind", 1, where, 31));
    d[1] = uint8_t(number_or(f, "align", 0, where, 3));
    d[2] = uint8_t(number_or(f, "width", 5, where, 255));
    d[3] = uint8_t(number_or(f, "decimals", 0, where, 255));
    uint32_t min = uint32_t(number_or(f, "min", 0, where, 0xFFFFFFFFu));
    if (f.contains("enumeration")) min = enums.offset(f["enumeration"], where + ".enumeration");
    put_le32(d.data() + 4, min);
    put_le32(d.data() + 8, uint32_t(number_or(f, "max", 0xFFFF, where, 0xFFFFFFFFu)));
    d[12] = uint8_t(number_or(f, "column", 0, where, 255));
    d[13] = uint8_t(number_or(f, "bits", 16, where, 255));
    const uint32_t ref = reference(f, "register", where);
    if (ref > 0xFFFF) fail(where + ".register", "a menu field holds a 16-bit reference");
    put_le16(d.data() + 14, uint16_t(ref));
    if (f.contains("units"))
        put_le32(d.data() + 16, f["units"].is_number()
                                    ? uint32_t(number(f["units"], where + ".units", 0xFFFFFFFFu))
                                    : texts.offset(f["units"], where + ".units"));
    return d;
}

// "menus": the application's menu pages behind header offset 52: a table of
// u32 page offsets, the pages (380 bytes: u16 flags, u16 line count or
// class, 12-byte lines, the u32 visibility register after the last line),
// then the captions (texts of the program) and field descriptors the lines
// point at. Offsets count from the program's start.
void menu_tables(const json &menus, const std::string &where, Bytes &b, Texts &texts,
                 const Enumerations &enums) {
    if (!menus.is_array()) fail(where, "\"menus\" takes a list");
    const size_t table = b.size();
    put_le32(b.data() + 52, uint32_t(table));
    b.resize(table + 4 * menus.size(), 0);
    struct Patch {
        size_t at;
        Bytes data;
    };
    std::vector<Patch> patches;
    for (size_t n = 0; n < menus.size(); ++n) {
        const std::string page = where + "[" + std::to_string(n) + "]";
        const json &m = menus[n];
        only_keys(m, page, {"flags", "screen", "lines", "visibility", "count"});
        put_le32(b.data() + table + 4 * n, uint32_t(b.size()));
        const size_t at = b.size();
        const json lines = m.contains("lines") ? m["lines"] : json::array();
        if (!lines.is_array()) fail(page, "\"lines\" takes a list");
        const size_t count = m.contains("screen") ? 0 : lines.size();
        b.resize(at + std::max<size_t>(380, 4 + 12 * count + 4), 0);
        put_le16(b.data() + at,
                 uint16_t(m.contains("screen") ? 1 : number_or(m, "flags", 0, page, 0xFFFF)));
        put_le16(b.data() + at + 2,
                 uint16_t(m.contains("screen") ? number(m["screen"], page, 35)
                                               : number_or(m, "count", count, page, 0xFFFF)));
        put_le32(b.data() + at + 4 + 12 * count, reference(m, "visibility", page));
        for (size_t i = 0; i < count; ++i) {
            const std::string line = page + ".lines[" + std::to_string(i) + "]";
            const json &l = lines[i];
            only_keys(l, line, {"flags", "target", "caption", "field"});
            const size_t lat = at + 4 + 12 * i;
            put_le16(b.data() + lat, uint16_t(number_or(l, "flags", 0, line, 0xFFFF)));
            put_le16(b.data() + lat + 2, uint16_t(l.contains("target") && l["target"].is_string()
                                                      ? reference(l, "target", line)
                                                      : number_or(l, "target", 0, line, 0xFFFF)));
            if (l.contains("caption")) {
                if (!l["caption"].is_string()) fail(line + ".caption", "expected a text");
                Bytes t;
                for (char32_t c : texts.decode(l["caption"].get<std::string>())) {
                    if (!texts.wide && c > 0xFF)
                        fail(line + ".caption",
                             "a character above 0xFF needs Unicode texts (flags 0x100)");
                    texts.unit(t, uint32_t(c));
                }
                texts.unit(t, 0);
                patches.push_back({lat + 4, std::move(t)});
            }
            if (l.contains("field"))
                patches.push_back({lat + 8, menu_field(l["field"], line + ".field", texts, enums)});
        }
    }
    for (Patch &p : patches) {
        while (b.size() % 2)
            b.push_back(0);
        put_le32(b.data() + p.at, uint32_t(b.size()));
        b.insert(b.end(), p.data.begin(), p.data.end());
    }
}

} // namespace

// The screen program: its header, the pages, their link tables, the capture
// set-up; its texts become the string table.
Bytes screen_program(const json &s, const std::string &where) {
    only_keys(s, where,
              {"start_screen", "flags", "header_length", "size", "page_count", "language_register",
               "languages", "touch_register", "fonts_check", "pages", "capture", "strings",
               "enumerations", "menus"});
    uint32_t hlen = uint32_t(number_or(s, "header_length", 56, where, 0xFFFF));
    if (hlen < 16 || hlen > 56) fail(where, "\"header_length\" is 16 to 56");
    const json pages = s.contains("pages") ? s["pages"] : json::array();
    if (!pages.is_array()) fail(where, "\"pages\" takes a list");
    uint64_t start = number_or(s, "start_screen", 1, where, 65536);
    const uint64_t flags = number_or(s, "flags", 0, where, 0xFFFF);
    Texts texts;
    texts.wide = (flags & 0x100) != 0;
    texts.segments.assign(1, Bytes{});
    if (s.contains("strings")) screen_strings(s["strings"], where + ".strings", texts);
    uint64_t languages = number_or(s, "languages", texts.languages, where, 0xFFFFFFFFu);
    if (s.contains("strings") && languages != texts.languages)
        fail(where, "\"languages\" differs from the strings' languages");
    Enumerations enums;
    if (s.contains("enumerations"))
        enums.build(s["enumerations"], where + ".enumerations",
                    [&](const json &v, const std::string &at) { return texts.offset(v, at); });
    Bytes b;
    append_le(b, number_or(s, "size", hlen, where, 0xFFFFFFFFu), 4);
    append_le(b, 0, 4);
    append_le(b, hlen, 2);
    append_le(b, number_or(s, "page_count", pages.size(), where, 0xFFFF), 2);
    append_le(b, uint16_t(start - 1), 2); // the start page; screen 0 means none
    append_le(b, flags, 2);
    append_le(b, 0, 4); // alarms
    append_le(b, number_or(s, "fonts_check", 0, where, 0xFFFFFFFFu), 4);
    append_le(b, reference(s, "language_register", where), 4);
    append_le(b, languages, 4);
    append_le(b, 0, 16); // video, screen capture, media manager, link table
    append_le(b, reference(s, "touch_register", where), 4);
    append_le(b, 0, 4); // menus
    b.resize(hlen);
    std::map<uint64_t, size_t> defined;           // screen number -> its first page
    std::vector<std::pair<size_t, Links>> tables; // page offset, its links
    for (size_t i = 0; i < pages.size(); ++i) {
        std::string page = where + ".pages[" + std::to_string(i) + "]";
        Links links;
        Bytes p = screen_page(pages[i], page, links, texts, enums);
        if (!links.refs.empty()) tables.emplace_back(b.size(), std::move(links));
        b.insert(b.end(), p.begin(), p.end());
        uint64_t screen = pages[i]["screen"].get<uint64_t>();
        if (!defined.emplace(screen, i).second)
            warn(page, "screen " + std::to_string(screen) + " is defined twice (first in pages[" +
                           std::to_string(defined[screen]) + "])");
    }
    if (start != 0 && !defined.count(start))
        warn(where, "start screen " + std::to_string(start) + " has no page");
    // Each page's link table after the pages: link n is entry n - 2.
    for (const auto &[page, links] : tables) {
        put_le32(b.data() + page + kPageLinkTable, uint32_t(b.size()));
        for (uint32_t ref : links.refs) {
            append_le(b, ref, 4);
            append_le(b, 0, 4);
        }
    }
    if (s.contains("capture")) {
        if (hlen < 40) fail(where, "a capture set-up needs a header of at least 40 bytes");
        put_le32(b.data() + 36, uint32_t(b.size()));
        Bytes c = capture_setup(s["capture"], where + ".capture");
        b.insert(b.end(), c.begin(), c.end());
    }
    if (s.contains("menus")) {
        if (hlen < 56) fail(where, "menus need a header of 56 bytes");
        menu_tables(s["menus"], where + ".menus", b, texts, enums);
    }
    if (texts.used && g_string_table) *g_string_table = texts.table();
    if (!enums.table.empty() && g_text_table) *g_text_table = enums.table;
    return b;
}

} // namespace appbuild::detail
