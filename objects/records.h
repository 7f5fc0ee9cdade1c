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
    Enum,  // u32 offset of an enumeration in the text tables: its name or an offset
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
// SHAPE (type 0).
namespace shape {
constexpr size_t kFill = 18;   // u16 fill colour, or the gradient extension's offset (type bit 15)
constexpr size_t kPen = 20;    // u16 pen colour
constexpr size_t kInsets = 22; // u8 x 4: left, top, right, bottom (lines)
constexpr size_t kPenStyle = 26, kPenWidth = 27, kKind = 29; // u8
constexpr size_t kLength = 32;                               // alternative colours 1-4 follow
} // namespace shape

// TEXT (type 1).
namespace text {
constexpr size_t kFill = 18;              // u16 background colour or gradient extension offset
constexpr size_t kColour = 20;            // u16 text and frame colour
constexpr size_t kText = 22;              // u32 offset of the counted text in the string segment
constexpr size_t kAlign = 26, kFont = 27; // u8
constexpr size_t kLength = 32;            // alternative colours 1-4 follow
} // namespace text

// SWTCH (type 6).
namespace swtch {
constexpr size_t kFace = 18;                      // u16 face colour or gradient extension offset
constexpr size_t kColour = 20;                    // u16 caption, frame and legend colour
constexpr size_t kCaption = 22;                   // u32 text offset
constexpr size_t kAlign = 26, kFont = 27;         // u8
constexpr size_t kOnColour = 32, kOffColour = 34; // u16 colour or gradient extension offset
constexpr size_t kTrigger = 36;                   // u16 link
constexpr size_t kTriggerSize = 38;               // u8 size code
constexpr size_t kStyle = 40;                     // u16
constexpr size_t kOutput = 42;                    // u16 link
constexpr size_t kOutputSize = 44;                // u8 size code
constexpr size_t kLegendFont = 47;                // u8
constexpr size_t kOnLegend = 48, kOffLegend = 52; // u32 text offsets
constexpr size_t kIndicator = 56;                 // u16 link
constexpr size_t kLength = 58;
} // namespace swtch

// EDIT (type 2), the data-entry field.
namespace edit {
constexpr size_t kFill = 18;        // u16 background colour or gradient extension offset
constexpr size_t kFrameColour = 20; // u16 frame and label colour (0xFFFF: the value colour)
constexpr size_t kLabel = 22;       // u32 text offset
constexpr size_t kLabelPos = 26, kLabelFont = 27; // u8
constexpr size_t kValueColour = 32;               // u16
constexpr size_t kData = 34;                      // u16 link
constexpr size_t kDataSize = 36;                  // u8 size code
constexpr size_t kRecipe = 38;                    // u8 recipe options (format 14)
constexpr size_t kLimits = 40;                    // u32 x 4: minimum, maximum, table, recipe
constexpr size_t kFormat = 56, kFieldFlags = 58, kWidth = 59, kDecimals = 60, kFont = 61; // u8
constexpr size_t kUnits = 62;                                                             // u32
constexpr size_t kLength = 66; // alternative colours, gradient extension, LREAL limits follow
} // namespace edit

// clang-format off
inline constexpr RecordField kShapeFields[] = {
    {"fill", shape::kFill, FieldKind::Fill},
    {"pen", shape::kPen, FieldKind::Color},
    {"inset_left", shape::kInsets, FieldKind::U8},
    {"inset_top", shape::kInsets + 1, FieldKind::U8},
    {"inset_right", shape::kInsets + 2, FieldKind::U8},
    {"inset_bottom", shape::kInsets + 3, FieldKind::U8},
    {"pen_style", shape::kPenStyle, FieldKind::U8},
    {"pen_width", shape::kPenWidth, FieldKind::U8},
    {"kind", shape::kKind, FieldKind::U8},
};
inline constexpr RecordField kTextFields[] = {
    {"fill", text::kFill, FieldKind::Fill},
    {"colour", text::kColour, FieldKind::Color},
    {"text", text::kText, FieldKind::Text},
    {"align", text::kAlign, FieldKind::U8},
    {"font", text::kFont, FieldKind::U8},
};
inline constexpr RecordField kSwitchFields[] = {
    {"face", swtch::kFace, FieldKind::Fill},
    {"colour", swtch::kColour, FieldKind::Color},
    {"caption", swtch::kCaption, FieldKind::Text},
    {"align", swtch::kAlign, FieldKind::U8},
    {"font", swtch::kFont, FieldKind::U8},
    {"on_colour", swtch::kOnColour, FieldKind::Color},
    {"off_colour", swtch::kOffColour, FieldKind::Color},
    {"trigger", swtch::kTrigger, FieldKind::Reg},
    {"trigger_size", swtch::kTriggerSize, FieldKind::U8},
    {"style", swtch::kStyle, FieldKind::U16},
    {"output", swtch::kOutput, FieldKind::Reg},
    {"output_size", swtch::kOutputSize, FieldKind::U8},
    {"legend_font", swtch::kLegendFont, FieldKind::U8},
    {"on_legend", swtch::kOnLegend, FieldKind::Text},
    {"off_legend", swtch::kOffLegend, FieldKind::Text},
    {"indicator", swtch::kIndicator, FieldKind::Reg},
};
inline constexpr RecordField kEditFields[] = {
    {"fill", edit::kFill, FieldKind::Fill},
    {"frame_colour", edit::kFrameColour, FieldKind::Color},
    {"label", edit::kLabel, FieldKind::Text},
    {"label_position", edit::kLabelPos, FieldKind::U8},
    {"label_font", edit::kLabelFont, FieldKind::U8},
    {"colour", edit::kValueColour, FieldKind::Color},
    {"data", edit::kData, FieldKind::Reg},
    {"data_size", edit::kDataSize, FieldKind::U8},
    {"recipe", edit::kRecipe, FieldKind::U8},
    {"min", edit::kLimits, FieldKind::U32},
    {"max", edit::kLimits + 4, FieldKind::U32},
    {"enumeration", edit::kLimits + 8, FieldKind::Enum},
    {"recipe_number", edit::kLimits + 12, FieldKind::U32},
    {"format", edit::kFormat, FieldKind::U8},
    {"field_flags", edit::kFieldFlags, FieldKind::U8},
    {"width", edit::kWidth, FieldKind::U8},
    {"decimals", edit::kDecimals, FieldKind::U8},
    {"font", edit::kFont, FieldKind::U8},
    {"units", edit::kUnits, FieldKind::Text},
};
// clang-format on

// The named class fields of each type. A class adds its table here and a case
// to ClassFields; types without a table take no named fields.
inline std::span<const RecordField> ClassFields(int type) {
    switch (type) {
    case 5:
        return kPageFields;
    case 0:
        return kShapeFields;
    case 1:
        return kTextFields;
    case 6:
        return kSwitchFields;
    case 2:
        return kEditFields;
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
    case FieldKind::Enum:
        return 4;
    default:
        return 2;
    }
}

} // namespace rec
