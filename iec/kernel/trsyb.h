// Symbol paths: a textual variable path such as a.b[2].c resolved to the
// address and type of the data it names, through the variable map and the
// code's complex-type definitions; and the enumeration of the elementary
// members of a complex variable.
//
// Definitions come from the code image and are followed at most
// trmap::kMaxTypeDepth levels deep; an element that does not lie inside the
// complex-type segment (35) is never handed out.
#pragma once
#include <cstddef>
#include <cstdint>

// Address of the data the path names and its type code (127 for a complex
// value, given only when type_name is asked for); null when the path names
// nothing. *type_name receives the map's type name for a single variable or
// the definition's name for a complex member.
uint8_t *TrVmSyb_Parse(uint8_t *db, const char *path, uint16_t *type, const char **type_name);
uint8_t *TrVmSyb_ParseSingle(uint8_t *db, const char *path, uint16_t *type);

// Calls back (path, member type, user) once per elementary member of a
// complex variable, the path (starting with the variable's symbol) built in
// `path` of `size` bytes. 1 when every call answered 1; 0 when a path did not
// fit (an array's suffix stops the walk, a structure member is skipped) or
// an array is larger than the complex-type segment; an answer of 0 or less
// stops the array it came from and is passed up.
using TrSybMemberCb = int (*)(const char *path, uint16_t type, void *user);
int TrVmSyb_EnumCTMembers(uint8_t *db, const uint8_t *entry, char *path, size_t size,
                          TrSybMemberCb cb, void *user);

// The map entry a dotted name names: the first part, then while a "." follows,
// the name with the next part, the first hit winning; *cursor is left behind
// the last part consumed. Null when nothing matches or a part is longer than
// 255 characters.
uint8_t *Velmor_TrVmSyb_GetMapItem(uint8_t *db, const char **cursor);
