// Object records: where each class keeps its fields in a definition record of
// the screen program. The classes read their records through these offsets;
// mkapp writes the same fields by name, so the two cannot drift apart.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>

namespace rec {

// The header every record starts with.
constexpr size_t kType = 0;       // u16: bits 0-11 type, 12-14 access level, 15 the class's
constexpr size_t kFlags = 2;      // u32, byte-aligned
constexpr size_t kStateMask = 6;  // u16
constexpr size_t kStateLink = 8;  // u16 register link, 0 = none
constexpr size_t kRect = 10;      // i16 x 4: left, top, right, bottom (inclusive)
constexpr size_t kFields = 18;    // first class field
constexpr size_t kOwnLength = 30; // u16 with flag 0x1000

// After the class's record, in this order, when present: the four
// alternative colours (state mask bits 4-7) and the 12-byte gradient
// extension (type bit 15) whose record offset the class's fill field holds.
constexpr size_t kAltColors = 8;
constexpr size_t kGradientExt = 12;
constexpr uint16_t kTypeGradient = 0x8000;

// How mkapp writes a named field from JSON.
enum class FieldKind : uint8_t {
    U8,
    U16,
    U32,
    I16,
    Color, // u16 colour: a number or 0x hex
    Reg,   // u16 register link: a register name ("%R1", a page link) or a number
    Text,  // u32 offset of a text in the string table: a text or an offset
    Fill,  // u16 fill colour; with type bit 15 the record offset of the gradient extension
};

struct RecordField {
    const char *name;
    uint16_t offset;
    FieldKind kind;
};

// Screen button (type 5).
inline constexpr RecordField kPageFields[] = {
    {"face", 18, FieldKind::Fill},       {"caption_color", 20, FieldKind::Color},
    {"caption", 22, FieldKind::Text},    {"align", 26, FieldKind::U8},
    {"font", 27, FieldKind::U8},         {"trigger", 32, FieldKind::Reg},
    {"trigger_size", 34, FieldKind::U8}, {"target", 36, FieldKind::Reg},
    {"target_size", 38, FieldKind::U8},
};

// The named class fields of each type. A class adds its table here and a case
// to ClassFields; types without a table take no named fields.
inline std::span<const RecordField> ClassFields(int type) {
    switch (type) {
    case 5:
        return kPageFields;
    default:
        return {};
    }
}

inline size_t FieldSize(FieldKind k) {
    switch (k) {
    case FieldKind::U8:
        return 1;
    case FieldKind::U32:
    case FieldKind::Text:
        return 4;
    default:
        return 2;
    }
}

} // namespace rec
