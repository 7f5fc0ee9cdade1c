// The application builder's shared pieces: failures and warnings with their
// place, number and colour readers, and the builders of the parts that live
// in files of their own.
#pragma once
#include <nlohmann/json.hpp>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

namespace appbuild::detail {

using Bytes = std::vector<uint8_t>;

// Thrown with the place and the reason; build() turns it into its error.
struct Failure {
    std::string message;
};
[[noreturn]] void fail(const std::string &where, const std::string &what);
// Warnings of the build under way (Built::warnings).
extern std::vector<std::string> *g_warnings;
void warn(const std::string &where, const std::string &what);
std::string listed(const std::vector<std::string> &names);

void append_le(Bytes &b, uint64_t v, int n);
uint64_t number(const nlohmann::json &v, const std::string &where, uint64_t max);
void only_keys(const nlohmann::json &o, const std::string &where,
               std::initializer_list<const char *> keys);
uint64_t number_or(const nlohmann::json &o, const char *key, uint64_t dflt,
                   const std::string &where, uint64_t max);
// A colour: a number, or a string in 0x hex.
uint64_t colour_or(const nlohmann::json &o, const char *key, uint64_t dflt,
                   const std::string &where);

// The string table a screen program builds with its texts (empty while the
// description's screens give none), taken as the "string_table" part.
extern Bytes *g_string_table;
// A trend graph's pens and extension record ("pens", "extension"), written
// after its named fields; graph_finish sets the pen count and the
// extension's graph flag in the record.
struct GraphTail {
    Bytes bytes; // from the end of the class's record on
    int pens = 0;
    bool extension = false;
};
using LinkOf = std::function<uint16_t(const nlohmann::json &, const std::string &)>;
using TextOf = std::function<uint32_t(const nlohmann::json &, const std::string &)>;
GraphTail graph_tail(const nlohmann::json &o, const std::string &where, const LinkOf &link_of,
                     const TextOf &text_of);
void graph_finish(Bytes &record, const GraphTail &t);

// The enumerations a screen program builds (empty while it gives none),
// taken as the "text_table" part.
extern Bytes *g_text_table;
// Named enumerations: their table (the "text_table" part's data) and each
// one's offset in it.
struct Enumerations {
    Bytes table;
    std::map<std::string, uint32_t> offsets;
    void
    build(const nlohmann::json &e, const std::string &where,
          const std::function<uint32_t(const nlohmann::json &, const std::string &)> &text_offset);
    // A table's offset: its name, or a number as it is.
    uint32_t offset(const nlohmann::json &v, const std::string &where) const;
};
// A screen program (the "screens" contents of "kesta_pgm").
Bytes screen_program(const nlohmann::json &s, const std::string &where);

} // namespace appbuild::detail
