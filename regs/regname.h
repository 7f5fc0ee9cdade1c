// Register names as people write them ("%R100", "%sr5", "%ESR1", "%Q12") and
// the register references they stand for.
#pragma once
#include <cstdint>
#include <string>

// Parses one register name, case-insensitively, with or without the leading
// '%'. On success stores the reference and the natural access width (1 for bit
// areas, 16 for word areas) and returns true; otherwise stores a short reason
// in *error ("unknown register name", "register number out of range", ...).
// %SR193..%SR448 lie in the extended %ESR area (%ESR1 = %SR193).
bool RegName_Parse(const std::string &text, uint32_t *ref, uint32_t *bits, std::string *error);

// The name of a reference ("%R100"), or its value in hexadecimal when it names
// no register of a known area or falls inside a word. The name does not depend
// on the access width.
std::string RegName_Format(uint32_t ref, uint32_t bits);
