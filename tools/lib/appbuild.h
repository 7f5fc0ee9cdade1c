// Builder of the application files "config.pgm" and "ladder.pgm" from a
// readable description (JSON), with a manifest of what it wrote.
//
// Description: an object whose keys name the parts of the application, in any
// order: "ladder" and the sixteen parts of config.pgm ("io_config",
// "net_config", "security", "kesta_pgm", "bitmaps", "string_table",
// "text_table", "font_table", "promgr_table", "sms_table", "datalog_table",
// "flash_parm_tbl", "report_table", "recipe_tbl", "login_tbl", "mqtt_tbl").
// A missing part gets its default contents (the ones the start-up validation
// restores), so "{}" builds a valid application.
//
// Numbers are JSON numbers; a colour may also be a string in 0x hex
// ("0xF800"). Contents of a part:
//   "default"                  the default contents
//   "empty"                    no data (length 0)
//   {"hex": "09 00"}           bytes in hexadecimal, spaces allowed
//   {"bytes": [9, 0]}          byte values
//   {"text": "abc"}            the characters, no terminator
//   {"u16": [9]}, {"u32": [8, 0]}  little-endian words
//   {"zeros": 80}              that many zero bytes
//   {"ethernet": "address 192.168.1.10\nmask 255.255.255.0"}  the Ethernet module's
//       I/O configuration entry (tools/lib/appbuild_net.h has the lines)
//   {"datalog": {...}}         a data-log configuration (for "datalog_table"):
//       groups of registers logged to CSV files (tools/lib/appbuild_datalog.h)
//   {"file": "name"}           a file's bytes (relative to the description's folder)
//   {"users": {...}}           a user table (for "login_tbl"; the keys are in
//       tools/lib/appbuild_users.h)
//   [ ..., ... ]               the contents one after the other
//   {"screens": {...}}         a screen program (for "kesta_pgm"): its header
//       and pages. Keys: "start_screen" (default 1; 0 = no start page),
//       "flags" (0x100 Unicode texts, 0x200 asterisks for missing data),
//       "header_length" (16 to 56, default 56), "size" (default the header
//       length), "page_count" (default the number of pages),
//       "language_register" and "touch_register" (a register name or a
//       reference), "languages" (default 1, or the strings' languages),
//       "fonts_check", "strings", "enumerations", "capture" and "pages".
//     "enumerations": {"Name": [[value, text], ...]} writes named tables into
//       the "text_table" part (u16 marker 0, u16 count, then per entry the u32
//       value and the u32 offset of its text in the string table; values
//       ascending, 32-bit signed); an EDIT field's "enumeration" names one.
//     "pages": [{"screen": 1-1023, "background": colour, "fault": true (shows
//       the display-fault message), "version": 0-2 (default 2), "gradient":
//       [start, end, lead-in, lead-out] (a gradient background, version 2),
//       "objects": [...]}]. Register names used by a page's objects ("%R1",
//       "%M5", ...) become its page links 2-1023, in order of first use, in a
//       link table per page after the pages (8-byte entries: u32 reference,
//       u32 0; page offset 10 holds the table's offset).
//     An object: {"type": a number or a class name ("TEXT", "PAGE", "NULL",
//       "NULL40", ... as screens/screens.h kObjClassName), "flags": F
//       (default 1), "rect": [l, t, r, b], "level": 0-7 (the access level,
//       type bits 12-14), "static": true (flag 0x2000; not for type 5),
//       "state": {"register": name or link value, "mask": M (default 1)},
//       "fields": {name: value} (the class's named fields of
//       objects/records.h; a colour, a register name or link value, a text or
//       a text offset, or a number, by the field's kind), "colors": [c1, c2,
//       c3, c4] (the alternative colours, chosen by state mask bits 4-7),
//       "gradient": {"start", "end", "mode" (default 1), "p1", "p2"} (the
//       12-byte gradient extension; type bit 15, its offset in the class's
//       fill field), "length": N (own record length, flag 0x1000)}. Fields not
//       given are 0. The alternative colours follow the class's record, then
//       the gradient extension; the record then carries its own length
//       (flag 0x1000, u16 at offset 30), which covers them.
//     "strings": {"languages": N (default 1), "texts": [...]} builds the
//       "string_table" part from the texts listed there and those given to
//       text fields (each a string, the same in every language, or a list of
//       one string per language; "\n" starts a new line). Its data: u32
//       length (4 + N x segment size), 4 bytes 0, then N equal segments, one
//       per language, with every text at the same offset in each: the line
//       count (u8, or u16 with flags 0x100), then the lines, each ended by a
//       0 character (bytes, or 16-bit characters with flags 0x100); a text's
//       offset is that of its first character. The panel's texts start at
//       the string table's data + 8 (its buffer + 16); with one language the
//       segment runs to the end of the data. Screens with texts and an
//       explicit "string_table" part are refused.
//     "capture": {"register": "%R100" or a reference, "options": 0-3,
//       "name_offset": N} writes the screen-capture set-up after the link
//       tables (u32 register reference, u32 option bits, u32 offset of the
//       file name in the texts; header offset 36).
//     "menus": [{"flags": F (2 lines hidden by the visibility register,
//       0x2000 a full-width highlight), "visibility": register, "lines":
//       [{"flags": F (1 edit, 2 link, 4 screen, 0x100 right, 0x200 centred,
//       0x4000 units), "target": page, screen or register, "caption": text,
//       "field": {"kind", "align", "width", "decimals", "min", "max",
//       "column", "bits", "register", "units", "enumeration"}}]} or
//       {"screen": class}] writes the application's menu pages (header offset
//       52: a table of page offsets, 380-byte pages, then the captions as
//       texts of the program and the 36-byte field descriptors). Other
//       sections after the pages are not written (their offsets are 0).
// The control program also takes {"program": <contents>, "features": N},
// which appends the feature word the programming tool leaves at the end, and
// {"xti": {"code": <contents>, "varloc": <contents>}}, an IEC application
// (or {"xti": {"iecasm": "prog.iec"}}, its image assembled from the text of
// tools/lib/iecasm.h and the location table taken from its .bind lines),
// and {"ladasm": "file.lad"} or {"ladasm": {"text": "..."}}, a program in the
// assembly text of tools/lib/ladasm.h (its feature word comes from the text).
// "bitmaps" is "default", "empty", or an object {"<slot 0-63>": <contents>}.
//
// Manifest: {"config.pgm": [{"name", "offset", "size", "length", "crc"}...],
// "ladder.pgm": {...}} where offset and size place the part in its file,
// length is its data length and crc its CRC-16.
#pragma once
#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <vector>

namespace appbuild {

struct Built {
    std::vector<uint8_t> config; // config.pgm
    std::vector<uint8_t> ladder; // ladder.pgm
    nlohmann::json manifest;
    // Descriptions that build but will not show as probably meant: a start
    // screen without its page, a screen defined twice, an unknown object
    // type (the display-fault tests build such programs on purpose).
    std::vector<std::string> warnings;
};

// False with a message naming the part when the description is wrong.
bool build(const nlohmann::json &description, const std::string &base_dir, Built *out,
           std::string *error);
bool build_text(const std::string &json_text, const std::string &base_dir, Built *out,
                std::string *error);
// Writes config.pgm, ladder.pgm and manifest.json into a folder.
bool write_files(const Built &built, const std::string &dir, std::string *error);
// Reads a whole input file of at most kMaxInputFile bytes; only regular files
// are read (a folder or a device such as /dev/zero is refused with the reason).
constexpr size_t kMaxInputFile = size_t(1) << 24;
bool read_input_file(const std::string &file, std::string *out, std::string *error);

// Where a part lies in its file, from a manifest.
struct Placed {
    size_t offset = 0, size = 0;
    uint32_t length = 0;
    uint16_t crc = 0;
};
bool find_part(const nlohmann::json &manifest, const std::string &name, Placed *out);

} // namespace appbuild
