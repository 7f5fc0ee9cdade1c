// Text language: the string table holds every text once per language in
// equal segments; a register chosen by the application selects the segment
// that pPGM_Strings points at.
//
// Block layout (string_table_bl): the block's u32 checksum and u32 length,
// then the table's own u32 length (bytes after it), 4 bytes not read, and the
// segments from block offset 16, each (table length - 4) / languages bytes.
#include "base/le.h"
#include "base/trace.h"
#include "gdi/field.h"
#include "plc/appblocks.h"
#include "screens/users_int.h"

namespace {

constexpr uint32_t kFirstSegment = 16;
constexpr uint32_t kLanguageRegSize = 16;

struct State {
    uint16_t maxIndex;
    uint32_t SegSize;
    uint16_t lastIndex;
    RCB *pStrRcb;
};
State g;

// The block's data end, as far as the block holds it.
uint64_t block_end() {
    const uint64_t capacity = app::kConfigParts[5].capacity;
    const uint64_t length = le32(string_table_bl + 4);
    return length > capacity - 8 ? capacity : length + 8;
}

} // namespace

void STR_Init(uint32_t language_register, uint32_t languages) {
    host::trace("STR_Init");
    if (languages == 0) languages = 1;
    g.maxIndex = uint16_t(languages - 1 > 0xFFFF ? 0xFFFF : languages - 1);
    g.pStrRcb = nullptr;
    g.lastIndex = 0;
    g.SegSize = 0;
    if (languages == 1) return;
    // A block too short to hold the table's own length has no segments.
    const uint32_t length = block_end() >= 12 ? le32(string_table_bl + 8) : 0;
    g.SegSize = length >= 4 ? (length - 4) / languages : 0;
    g.pStrRcb = Language_LinkRegister(language_register, kLanguageRegSize);
}

int STR_Update() {
    host::trace("STR_Update");
    if (g.maxIndex == 0 || !g.pStrRcb) return 0;
    uint8_t b[2] = {};
    Language_ReadRegister(g.pStrRcb, b, 2);
    const uint16_t v = le16(b);
    if (v > g.maxIndex || v == g.lastIndex) return 0;
    g.lastIndex = v;
    // A segment that would end past the block's data gives no texts at all:
    // nothing is read past the block.
    const uint64_t start = kFirstSegment + uint64_t(g.SegSize) * v;
    pPGM_Strings = start + g.SegSize <= block_end() ? string_table_bl + start : nullptr;
    return 1;
}

void Language_Reset() {
    g = State{};
}
