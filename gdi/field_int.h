// Helpers shared by the field kinds.
#pragma once
#include "gdi/field.h"

namespace fldi {
// Text of at most this many characters is built before it reaches the field.
constexpr int kTextMax = 520;
// Writes `len` characters to the field's text (byte or 16-bit) with a zero.
void put_text(FLD *f, const char *s, int len);
// Character `i` of the field's text.
int text_at(const FLD *f, int i);
void set_text_at(FLD *f, int i, int c);
// Starts an edit: key state and cursor.
void begin_keys(FLD *f);
int digit_of(uint8_t key); // 0-15 for digit and hex keys, -1 otherwise
} // namespace fldi
