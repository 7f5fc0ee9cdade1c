// mkapp: what a trend graph's record carries after its named fields: the
// pens ("pens": up to four {"colour", "style", "register", "size"}) and the
// extension record ("extension": {"flags", "left_caption_font",
// "bottom_caption_font", "limit_font", "log_name"}), which follows the pens.
#include "objects/records.h"
#include "tools/lib/appbuild_int.h"

namespace appbuild::detail {

using nlohmann::json;

GraphTail graph_tail(const json &o, const std::string &where, const LinkOf &link_of,
                     const TextOf &text_of) {
    GraphTail t;
    t.bytes.assign(rec::graph::kPenList - rec::graph::kLength, 0);
    if (o.contains("pens")) {
        const json &pens = o["pens"];
        const std::string at = where + ".pens";
        if (!pens.is_array() || pens.size() > 4) fail(at, "takes a list of up to 4 pens");
        for (size_t n = 0; n < pens.size(); ++n) {
            const json &p = pens[n];
            const std::string pw = at + "[" + std::to_string(n) + "]";
            only_keys(p, pw, {"colour", "style", "register", "size"});
            append_le(t.bytes, colour_or(p, "colour", 0, pw), 2);
            append_le(t.bytes, number_or(p, "style", 1, pw, 0xFFFF), 2);
            append_le(t.bytes,
                      p.contains("register") ? link_of(p["register"], pw + ".register") : 0, 2);
            append_le(t.bytes, number_or(p, "size", 16, pw, 0xFF), 1);
            append_le(t.bytes, 0, 1);
        }
        t.pens = int(pens.size());
    }
    if (o.contains("extension")) {
        const json &e = o["extension"];
        const std::string at = where + ".extension";
        only_keys(e, at,
                  {"flags", "left_caption_font", "bottom_caption_font", "limit_font", "log_name"});
        append_le(t.bytes, 0, 4);
        append_le(t.bytes, number_or(e, "flags", 0, at, 0xFFFFFFFFu), 4);
        append_le(t.bytes, number_or(e, "left_caption_font", 0, at, 0xFF), 1);
        append_le(t.bytes, number_or(e, "bottom_caption_font", 0, at, 0xFF), 1);
        append_le(t.bytes, number_or(e, "limit_font", 0, at, 0xFF), 1);
        append_le(t.bytes, 0, 1);
        append_le(t.bytes, e.contains("log_name") ? text_of(e["log_name"], at + ".log_name") : 0,
                  4);
        t.extension = true;
    }
    return t;
}

void graph_finish(Bytes &record, const GraphTail &t) {
    record[rec::graph::kPens] = uint8_t(t.pens);
    if (t.extension) record[rec::graph::kGraphFlags] |= 0x10;
}

} // namespace appbuild::detail
