// Data fields: register values turned into text and edited from a keypad.
//
// A caller fills an FLD, calls the kind's ...Update to produce the text and,
// while the operator edits, feeds every key to the kind's ...Edit until it
// reports that the value was stored (1) or the edit cancelled (2); 3 means
// the text changed, 0 the key was ignored or refused, 4 (literal text only)
// the key was not taken. Reading and writing the register and drawing the
// text are the caller's business. The caller owns the text buffer: it must
// hold the field's width plus a terminating zero (floats: digits + decimals
// + 7, IP addresses 16, time templates 12 characters).
#pragma once
#include <cstddef>
#include <cstdint>

struct FLD {
    uint8_t format;   // field format code
    uint8_t flags;    // fld::kZeroFill
    uint8_t digits;   // width: integer digits, characters of a text or bar
    uint8_t decimals; // decimals, float fraction digits, or template selector
    uint32_t min;     // signed, unsigned or float bits by format
    uint32_t max;
    void *text;                     // byte text, or 16-bit text when `wide`
    const uint8_t *table;           // limits table, template or enumeration text table
    uint32_t step;                  // arrow step; enumerations: table offset in pPGM_TextTbls
    uint32_t edit;                  // the value being edited
    uint32_t old;                   // the value when editing began
    uint8_t part;                   // time and IP: sub-field being edited
    uint8_t work;                   // work byte of the time, IP and float editors
    uint8_t cursor;                 // cursor position in the text
    uint8_t length;                 // current text length
    uint8_t state;                  // fld::kDisplay ...
    uint8_t point;                  // float editors: a decimal point was typed
    uint8_t lastKey;                // key filter: last key pressed
    uint8_t tapCount;               // key filter: presses of the same multi-tap key (255 none)
    uint8_t wide;                   // nonzero: 16-bit text
    uint8_t kbd;                    // keyboard: shift and caps lock
    uint8_t status;                 // fld::kNoData
    double lmin, lmax, ledit, lold; // LREAL fields
};

namespace fld {
constexpr uint8_t kZeroFill = 0x80;
constexpr uint8_t kNoData = 0x01;
// Edit states.
constexpr uint8_t kDisplay = 0, kBegun = 1, kTyping = 2, kCursor = 3, kPartEdit = 4;
// Results of the edit operations.
constexpr int kIgnored = 0, kStored = 1, kCancelled = 2, kChanged = 3, kNotTaken = 4;
// Internal key codes.
constexpr uint8_t kBackspace = 8, kEnter = 13, kSign = 14, kPoint = 15, kDigit0 = 16;
constexpr uint8_t kKey26 = 26, kEscape = 27, kLeft = 28, kRight = 29, kUp = 30, kDown = 31;
constexpr uint8_t kExponent = 32, kHexA = 65, kGroup = 128;
// Keyboard keys of the text formats 16 and 17.
constexpr uint8_t kKbdShift = 254, kKbdCaps = 253, kKbdShiftOff = 255;
} // namespace fld

// Settings of the open screen program, set by the screen program manager.
extern uint8_t *pPGM_TextTbls;
extern uint8_t *pPGM_Strings;
extern bool PGM_bShowAsterixForNodata;
// Direction of the configured time-zone offset: the time templates' sign.
extern bool timezoneAdvance;

// Limits table of a format (u32 count n, n powers, one more word), or null.
const uint32_t *FLD_PowerTable(int format);
// Translates one key for a format; 0 in `key` drops it. Nonzero when the key
// starts a new character, zero when it replaces the last multi-tap character.
int KeyFilter(FLD *f, uint8_t *key, int format);

// Integers (formats 0-3, 8, 10, 13).
void IntToStr(const FLD *f, uint32_t value, int zero_fill, char *out);
void FLD_NumUpdate(FLD *f, uint32_t value, int begin);
int FLD_NumEdit(FLD *f, uint32_t *value, uint8_t key);

// Floats (f32 bits) and LREAL.
void FLD_FloatUpdate(FLD *f, uint32_t value, int begin);
int FLD_FloatEdit(FLD *f, uint32_t *value, uint8_t key);
// Text of a 64-bit value by the field's format, width and limits; returns
// its length. `out` holds 2 x 255 + 8 characters at most.
int LrealToStr(const FLD *f, double value, char *out);
void FLD_LrealUpdate(FLD *f, double value, int begin);
int FLD_LrealEdit(FLD *f, double *value, uint8_t key);

// Time and date: three u16 (seconds or day, minutes or month, hours or year).
void FLD_TimeUpdate(FLD *f, const uint16_t *value, int begin);
// How many characters the time template's element under the cursor spans
// (`none` when the field has no template).
int FLD_TimeSpan(const FLD &f, int none);
int FLD_TimeEdit(FLD *f, uint16_t *value, uint8_t key);
// Reads the edited text back into the three words; 1, or 0 when a sub-field
// does not hold a number (the words keep their values then).
int FLD_TimeConvert(FLD *f, uint16_t *value);

// Seconds timers: the value counts the unit of the selector's high nibble.
void FLD_SecTimeUpdate(FLD *f, uint32_t value, int begin);
int FLD_SecTimeEdit(FLD *f, uint32_t *value, uint8_t key);
// Widths of the hour and minute sub-fields; returns the text length.
int GetSecTimerFieldSize(const FLD *f, int *hour_width, int *minute_width);
// 1 when hours and minutes in `unit` (0 s, 1 tenths, 2 hundredths, 3 ms)
// cannot carry the total past 32 bits.
int SecTimerFits(int unit, uint32_t hours, uint32_t minutes);

// Enumerations.
int EnumToStr(const FLD *f, int index, void *out);
void FLD_EnumUpdate(FLD *f, uint32_t value, int begin);
int FLD_EnumEdit(FLD *f, uint32_t *value, uint8_t key);
int FLD_EnumSearch(const FLD *f, const void *text);

// Literal text (formats 6, 16, 17); the caller keeps the text.
void FLD_LitUpdate(FLD *f, int begin);
int FLD_LitEdit(FLD *f, uint8_t key);

// IPv4 addresses (most significant octet first).
void IPToStr(const FLD *f, uint32_t value, int editing, char *out);
void FLD_IPUpdate(FLD *f, uint32_t value, int begin);
int FLD_IPEdit(FLD *f, uint32_t *value, uint8_t key);

// Text bars of `digits` cells of five steps.
void FLD_BarUpdate(FLD *f, int32_t value, int begin);
int FLD_BarEdit(FLD *f, int32_t *value, uint8_t key);

// Forgets the time-zone direction (test fixtures).
void Field_Reset();
