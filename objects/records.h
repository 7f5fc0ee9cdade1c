// Object records: where each class keeps its fields in a definition record of
// the screen program. The classes read their records through these offsets;
// mkapp writes the same fields by name, so the two cannot drift apart.
#pragma once
#include "screens/screens.h" // rec::login

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
    I32,
    Color, // u16 colour: a number or 0x hex
    Reg,   // u16 register link: a register name ("%R1", a page link) or a number
    Text,  // u32 offset of a text in the string table: a text or an offset
    Fill,  // u16 fill colour; with type bit 15 the record offset of the gradient extension
    Enum,  // u32 offset of an enumeration in the text tables: its name or an offset
    F32,   // single-precision number
    Ref,   // u32 register reference: a register name or a number
};

struct RecordField {
    const char *name;
    uint16_t offset;
    FieldKind kind;
};

// PAGE (type 5), LITE (type 7), BAR (type 4) and BMP (type 8).
namespace page {
constexpr size_t kFace = 18;              // u16 face colour or gradient extension offset
constexpr size_t kColour = 20;            // u16 caption and icon colour
constexpr size_t kCaption = 22;           // u32 text offset
constexpr size_t kAlign = 26, kFont = 27; // u8
constexpr size_t kTrigger = 32;           // u16 link
constexpr size_t kTriggerSize = 34;       // u8 size code
constexpr size_t kTarget = 36;            // u16 screen number or link
constexpr size_t kTargetSize = 38;        // u8 size code
constexpr size_t kLength = 40;  // then alternative colours, gradient extension, icon record
constexpr size_t kIconKind = 4; // u8 in the 5-byte icon record
} // namespace page
namespace lite {
constexpr size_t kBackground = 18;        // u16 colour
constexpr size_t kColour = 20;            // u16 caption, frame and outline colour
constexpr size_t kCaption = 22;           // u32 text offset
constexpr size_t kAlign = 26, kFont = 27; // u8
constexpr size_t kOnColour = 32, kOffColour = 34;
constexpr size_t kLamp = 36;     // u16 link
constexpr size_t kLampSize = 38; // u8 size code
constexpr size_t kStyle = 40;    // u16: shape, ring, whole rectangle
constexpr size_t kLength = 42;
} // namespace lite
namespace bar {
constexpr size_t kBackground = 18;        // u16 colour, 0xFFFF transparent
constexpr size_t kColour = 20;            // u16 frame, caption, label and scale colour
constexpr size_t kCaption = 22;           // u32 text offset
constexpr size_t kAlign = 26, kFont = 27; // u8
constexpr size_t kMarks = 29;             // u8 scale marks
constexpr size_t kBarColour = 32;         // u16
constexpr size_t kValue = 34;             // u16 link
constexpr size_t kValueSize = 36;         // u8 size code
constexpr size_t kLabelFont = 37;         // u8
constexpr size_t kMin = 40, kMax = 44;    // u32, low 16 bits signed
constexpr size_t kLength = 56;            // alternative bar colours 1-4 follow
} // namespace bar
namespace bmp {
constexpr size_t kFrames = 28;                       // u8 frame count N
constexpr size_t kForeground = 32, kBackground = 34; // u16 colours of one-bit pictures
constexpr size_t kFrame = 36;                        // u16 link of the frame register
constexpr size_t kFrameSize = 38;                    // u8 size code
constexpr size_t kRowBytes = 39, kBitsPerPixel = 40; // u8
constexpr size_t kTable = 42; // N entries: u32 picture offset [, u16 transparent, u16 flags]
constexpr size_t kLength = 32;
} // namespace bmp

// clang-format off
inline constexpr RecordField kPageFields[] = {
    {"face", page::kFace, FieldKind::Fill},
    {"caption_color", page::kColour, FieldKind::Color},
    {"caption", page::kCaption, FieldKind::Text},
    {"align", page::kAlign, FieldKind::U8},
    {"font", page::kFont, FieldKind::U8},
    {"trigger", page::kTrigger, FieldKind::Reg},
    {"trigger_size", page::kTriggerSize, FieldKind::U8},
    {"target", page::kTarget, FieldKind::Reg},
    {"target_size", page::kTargetSize, FieldKind::U8},
};
inline constexpr RecordField kLiteFields[] = {
    {"background", lite::kBackground, FieldKind::Color},
    {"colour", lite::kColour, FieldKind::Color},
    {"caption", lite::kCaption, FieldKind::Text},
    {"align", lite::kAlign, FieldKind::U8},
    {"font", lite::kFont, FieldKind::U8},
    {"on_colour", lite::kOnColour, FieldKind::Color},
    {"off_colour", lite::kOffColour, FieldKind::Color},
    {"lamp", lite::kLamp, FieldKind::Reg},
    {"lamp_size", lite::kLampSize, FieldKind::U8},
    {"style", lite::kStyle, FieldKind::U16},
};
inline constexpr RecordField kBarFields[] = {
    {"background", bar::kBackground, FieldKind::Color},
    {"colour", bar::kColour, FieldKind::Color},
    {"caption", bar::kCaption, FieldKind::Text},
    {"align", bar::kAlign, FieldKind::U8},
    {"font", bar::kFont, FieldKind::U8},
    {"marks", bar::kMarks, FieldKind::U8},
    {"bar_colour", bar::kBarColour, FieldKind::Color},
    {"value", bar::kValue, FieldKind::Reg},
    {"value_size", bar::kValueSize, FieldKind::U8},
    {"label_font", bar::kLabelFont, FieldKind::U8},
    {"min", bar::kMin, FieldKind::I32},
    {"max", bar::kMax, FieldKind::I32},
};
inline constexpr RecordField kBmpFields[] = {
    {"frames", bmp::kFrames, FieldKind::U8},
    {"foreground", bmp::kForeground, FieldKind::Color},
    {"background", bmp::kBackground, FieldKind::Color},
    {"frame", bmp::kFrame, FieldKind::Reg},
    {"frame_size", bmp::kFrameSize, FieldKind::U8},
    {"row_bytes", bmp::kRowBytes, FieldKind::U8},
    {"bits_per_pixel", bmp::kBitsPerPixel, FieldKind::U8},
};
// clang-format on

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

// GRAPH (type 10). The record carries its own length: up to four 8-byte
// pens from kPenList on, then, with graph flag 0x10, the 16-byte extension
// record (mkapp writes both from "pens" and "extension").
namespace graph {
constexpr size_t kBack = 18, kFore = 20;                                  // u16 colours
constexpr size_t kTitle = 22;                                             // u32 text offset
constexpr size_t kTitleAlign = 26, kTitleFont = 27, kPens = 28;           // u8
constexpr size_t kCaption = 32, kLeftCaption = 36;                        // u32 text offsets
constexpr size_t kUnit = 40, kScaleFont = 41, kVLines = 42, kHLines = 43; // u8
constexpr size_t kPeriod = 44;             // u16 value, or a link with extension flag 0x2
constexpr size_t kSamples = 46;            // u16
constexpr size_t kRun = 48, kRunSize = 50; // u16 link, u8 size code
constexpr size_t kGraphFlags = 51;         // u8
constexpr size_t kLow = 52, kHigh = 56;    // i32
constexpr size_t kBottomCaption = 60, kRightText = 64; // u32 (64: the span unit with ext 0x2)
constexpr size_t kPenList = 68, kPenBytes = 8;         // u16 colour, u16 style, u16 link, u8 size
constexpr size_t kExtBytes = 16;
constexpr size_t kLength = 56;
} // namespace graph
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
inline constexpr RecordField kGraphFields[] = {
    {"background", graph::kBack, FieldKind::Color},
    {"colour", graph::kFore, FieldKind::Color},
    {"title", graph::kTitle, FieldKind::Text},
    {"title_align", graph::kTitleAlign, FieldKind::U8},
    {"title_font", graph::kTitleFont, FieldKind::U8},
    {"caption", graph::kCaption, FieldKind::Text},
    {"left_caption", graph::kLeftCaption, FieldKind::Text},
    {"unit", graph::kUnit, FieldKind::U8},
    {"scale_font", graph::kScaleFont, FieldKind::U8},
    {"time_lines", graph::kVLines, FieldKind::U8},
    {"value_lines", graph::kHLines, FieldKind::U8},
    {"period", graph::kPeriod, FieldKind::U16},
    {"period_register", graph::kPeriod, FieldKind::Reg},
    {"samples", graph::kSamples, FieldKind::U16},
    {"run", graph::kRun, FieldKind::Reg},
    {"run_size", graph::kRunSize, FieldKind::U8},
    {"graph_flags", graph::kGraphFlags, FieldKind::U8},
    {"low", graph::kLow, FieldKind::I32},
    {"high", graph::kHigh, FieldKind::I32},
    {"bottom_caption", graph::kBottomCaption, FieldKind::Text},
    {"right_text", graph::kRightText, FieldKind::Text},
    {"span_unit", graph::kRightText, FieldKind::U32},
};
// clang-format on

// NOTE (type 15) and VIDPS (type 33).
namespace note {
constexpr size_t kBackground = 18; // u16 pad colour
constexpr size_t kFrame = 20;      // u16 frame colour
constexpr size_t kStatus = 36;     // u16 link of the status register
constexpr size_t kStatusSize = 38; // u8 size code
constexpr size_t kLength = 40;
} // namespace note
namespace vidps {
constexpr size_t kOptions = 40;    // u16: bit 0 source number and bit 1 file name from registers
constexpr size_t kSourceKind = 44; // u16: 1 a file, 2 a numbered source
constexpr size_t kStatus = 48;     // u32: link of the status register in the low 16 bits
constexpr size_t kParam1 = 52;     // u16 player parameter: the frame rate
constexpr size_t kSource = 56;     // u16 source number, or the link of its register
constexpr size_t kParam2 = 60;     // u16 player parameter
constexpr size_t kCommand = 64;    // u32: link of the command register in the low 16 bits
constexpr size_t kFileName = 68;   // u32 text offset, or the link of the name's registers
constexpr size_t kLength = 72;
} // namespace vidps
// clang-format off
inline constexpr RecordField kNoteFields[] = {
    {"background", note::kBackground, FieldKind::Color},
    {"frame", note::kFrame, FieldKind::Color},
    {"status", note::kStatus, FieldKind::Reg},
    {"status_size", note::kStatusSize, FieldKind::U8},
};
inline constexpr RecordField kVidpsFields[] = {
    {"options", vidps::kOptions, FieldKind::U16},
    {"source_kind", vidps::kSourceKind, FieldKind::U16},
    {"status", vidps::kStatus, FieldKind::Reg},
    {"frame_rate", vidps::kParam1, FieldKind::U16},
    {"source", vidps::kSource, FieldKind::U16},
    {"source_register", vidps::kSource, FieldKind::Reg},
    {"param2", vidps::kParam2, FieldKind::U16},
    {"command", vidps::kCommand, FieldKind::Reg},
    {"file", vidps::kFileName, FieldKind::Text},
    {"file_register", vidps::kFileName, FieldKind::Reg},
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
inline constexpr RecordField kLoginFields[] = {
    {"fill", login::kFill, FieldKind::Fill},
    {"colour", login::kColour, FieldKind::Color},
    {"caption", login::kCaption, FieldKind::Text},
    {"align", login::kAlign, FieldKind::U8},
    {"font", login::kFont, FieldKind::U8},
    {"state_colour", login::kStateColour, FieldKind::Color},
    {"field_font", login::kFieldFont, FieldKind::U8},
    {"box_font", login::kBoxFont, FieldKind::U8},
};
// clang-format on

// METER (type 9), SLIDE (type 14), SELCT (type 11) and ROT (type 24).
namespace meter {
constexpr size_t kBackground = 18;        // u16 colour, 0xFFFF transparent
constexpr size_t kColour = 20;            // u16 dial, caption, label and hub colour
constexpr size_t kCaption = 22;           // u32 text offset
constexpr size_t kAlign = 26, kFont = 27; // u8
constexpr size_t kTicks = 29;             // u8 tick marks on the arc
constexpr size_t kNeedle = 32;            // u16 needle colour
constexpr size_t kValue = 34;             // u16 link
constexpr size_t kValueSize = 36;         // u8 size code
constexpr size_t kLabelFont = 37;         // u8
constexpr size_t kStyle = 38;             // u8: bit 5 picture gauge
constexpr size_t kMin = 40, kMax = 44;    // u32
constexpr size_t kLength = 56;            // alternative needle colours 1-4 follow
// The picture extension, the record's last 20 bytes: u16 at 4 bit 0 picture
// present, u16 at 8 its transparent colour, u8 at 10 its bits per pixel, u32
// at 12 its offset in the bitmap area.
constexpr size_t kExtBytes = 20, kExtPresent = 4, kExtTransparent = 8, kExtDepth = 10,
                 kExtPicture = 12;
} // namespace meter
namespace slide {
constexpr size_t kBackground = 18;        // u16 colour
constexpr size_t kColour = 20;            // u16 frame, caption, label, scale and outline colour
constexpr size_t kCaption = 22;           // u32 text offset
constexpr size_t kAlign = 26, kFont = 27; // u8 (align bit 4: caption at the top)
constexpr size_t kMarks = 29;             // u8 scale marks
constexpr size_t kThumb = 32;             // u16 thumb colour or gradient extension offset
constexpr size_t kValue = 34;             // u16 link
constexpr size_t kValueSize = 36;         // u8 size code
constexpr size_t kLabelFont = 37;         // u8
constexpr size_t kMin = 40, kMax = 44;    // u32, low 16 bits signed
constexpr size_t kLength = 56;            // alternative thumb colours 1-4 follow
} // namespace slide
namespace selct {
constexpr size_t kBackground = 18;                 // u16 colour
constexpr size_t kColour = 20;                     // u16 frame, caption and outline colour
constexpr size_t kCaption = 22;                    // u32 text offset
constexpr size_t kAlign = 26, kFont = 27;          // u8
constexpr size_t kPositions = 28;                  // u8 N (1: a stepping button)
constexpr size_t kSelected = 32, kOthers = 34;     // u16 colours or gradient offsets
constexpr size_t kTrigger = 36;                    // u16 link
constexpr size_t kTriggerSize = 38, kSteps = 39;   // u8
constexpr size_t kOrientation = 40;                // u8: 1 a row, else a column
constexpr size_t kValue = 42;                      // u16 link
constexpr size_t kValueSize = 44, kLabelFont = 47; // u8
constexpr size_t kLabels = 48;                     // N x u32 text offsets
constexpr size_t kLength = 52;
} // namespace selct
namespace rot {
constexpr size_t kColour = 20;                   // u16 pointer colour
constexpr size_t kPenStyle = 26, kPenWidth = 27; // u8
constexpr size_t kValue = 34;                    // u16 link
constexpr size_t kValueSize = 36;                // u8 size code
constexpr size_t kStyle = 38;                    // u16
constexpr size_t kMin = 40, kMax = 44;           // u32
constexpr size_t kStart = 56, kEnd = 60;         // f32 radians, clockwise from straight up
constexpr size_t kPercent = 64;                  // u32 percentage 1-100 or a register reference
constexpr size_t kLength = 68;                   // alternative pointer colours 1-4 follow
// The dial-picture extension, the record's last 56 bytes.
constexpr size_t kDialBytes = 56, kDialKind = 4, kDialCounter = 6, kDialTransparent = 10,
                 kDialDepth = 34, kDialPicture = 36, kDialCounterColour = 40, kDialShape = 48;
// Without a dial picture the pointer shape stands 8 bytes before the record's end.
constexpr size_t kShapeTail = 8;
} // namespace rot

// clang-format off
inline constexpr RecordField kMeterFields[] = {
    {"background", meter::kBackground, FieldKind::Color},
    {"colour", meter::kColour, FieldKind::Color},
    {"caption", meter::kCaption, FieldKind::Text},
    {"align", meter::kAlign, FieldKind::U8},
    {"font", meter::kFont, FieldKind::U8},
    {"ticks", meter::kTicks, FieldKind::U8},
    {"needle_colour", meter::kNeedle, FieldKind::Color},
    {"value", meter::kValue, FieldKind::Reg},
    {"value_size", meter::kValueSize, FieldKind::U8},
    {"label_font", meter::kLabelFont, FieldKind::U8},
    {"style", meter::kStyle, FieldKind::U8},
    {"min", meter::kMin, FieldKind::I32},
    {"max", meter::kMax, FieldKind::I32},
};
inline constexpr RecordField kSlideFields[] = {
    {"background", slide::kBackground, FieldKind::Color},
    {"colour", slide::kColour, FieldKind::Color},
    {"caption", slide::kCaption, FieldKind::Text},
    {"align", slide::kAlign, FieldKind::U8},
    {"font", slide::kFont, FieldKind::U8},
    {"marks", slide::kMarks, FieldKind::U8},
    {"thumb", slide::kThumb, FieldKind::Fill},
    {"value", slide::kValue, FieldKind::Reg},
    {"value_size", slide::kValueSize, FieldKind::U8},
    {"label_font", slide::kLabelFont, FieldKind::U8},
    {"min", slide::kMin, FieldKind::I32},
    {"max", slide::kMax, FieldKind::I32},
};
inline constexpr RecordField kSelctFields[] = {
    {"background", selct::kBackground, FieldKind::Color},
    {"colour", selct::kColour, FieldKind::Color},
    {"caption", selct::kCaption, FieldKind::Text},
    {"align", selct::kAlign, FieldKind::U8},
    {"font", selct::kFont, FieldKind::U8},
    {"positions", selct::kPositions, FieldKind::U8},
    {"selected_colour", selct::kSelected, FieldKind::Fill},
    {"other_colour", selct::kOthers, FieldKind::Color},
    {"trigger", selct::kTrigger, FieldKind::Reg},
    {"trigger_size", selct::kTriggerSize, FieldKind::U8},
    {"steps", selct::kSteps, FieldKind::U8},
    {"orientation", selct::kOrientation, FieldKind::U8},
    {"value", selct::kValue, FieldKind::Reg},
    {"value_size", selct::kValueSize, FieldKind::U8},
    {"label_font", selct::kLabelFont, FieldKind::U8},
};
inline constexpr RecordField kRotFields[] = {
    {"colour", rot::kColour, FieldKind::Color},
    {"pen_style", rot::kPenStyle, FieldKind::U8},
    {"pen_width", rot::kPenWidth, FieldKind::U8},
    {"value", rot::kValue, FieldKind::Reg},
    {"value_size", rot::kValueSize, FieldKind::U8},
    {"style", rot::kStyle, FieldKind::U16},
    {"min", rot::kMin, FieldKind::I32},
    {"max", rot::kMax, FieldKind::I32},
    {"start_angle", rot::kStart, FieldKind::F32},
    {"end_angle", rot::kEnd, FieldKind::F32},
    {"length", rot::kPercent, FieldKind::U32},
    {"length_register", rot::kPercent, FieldKind::Ref},
};
// clang-format on

// MENU (type 3): the menu object of the screen manager; records of 39
// bytes or more (own length 52) carry the extended fields from 38 on.
// clang-format off
inline constexpr RecordField kMenuFields[] = {
    {"fill", 18, FieldKind::Color},
    {"colour", 20, FieldKind::Color},
    {"title", 22, FieldKind::Text},
    {"title_align", 26, FieldKind::U8},
    {"font", 27, FieldKind::U8},
    {"page_count", 28, FieldKind::U8},
    {"line_font", 29, FieldKind::U8},
    {"page_register", 32, FieldKind::Reg},
    {"page_register_size", 34, FieldKind::U8},
    {"system", 35, FieldKind::U8},
    {"first_page", 36, FieldKind::U16},
    {"colour_10", 38, FieldKind::Color},
    {"colour_20", 40, FieldKind::Color},
    {"colour_40", 42, FieldKind::Color},
    {"colour_80", 44, FieldKind::Color},
    {"title_colour", 38, FieldKind::Color},
    {"title_fill", 40, FieldKind::Color},
    {"key_fill", 42, FieldKind::U16},
    {"state_title_colour", 46, FieldKind::Color},
    {"state_title_fill", 48, FieldKind::Color},
    {"state_key_gradient", 50, FieldKind::U16},
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
    case 10:
        return kGraphFields;
    case 15:
        return kNoteFields;
    case 33:
        return kVidpsFields;
    case 7:
        return kLiteFields;
    case 4:
        return kBarFields;
    case 8:
        return kBmpFields;
    case 2:
        return kEditFields;
    case 9:
        return kMeterFields;
    case 14:
        return kSlideFields;
    case 11:
        return kSelctFields;
    case 24:
        return kRotFields;
    case 34:
        return kLoginFields;
    case 3:
        return kMenuFields;
    default:
        return {};
    }
}

inline size_t FieldSize(FieldKind k) {
    switch (k) {
    case FieldKind::U8:
        return 1;
    case FieldKind::U32:
    case FieldKind::I32:
    case FieldKind::Text:
    case FieldKind::Enum:
    case FieldKind::F32:
    case FieldKind::Ref:
        return 4;
    default:
        return 2;
    }
}

} // namespace rec
