// The ladder interpreter: scan timing, the first-scan steps, the dispatch loop,
// END and the error stop.
#include "plc/ladder.h"

#include "base/le.h"
#include "platform/tick.h"
#include "plc/appblocks.h"
#include "plc/ladder_fam.h"
#include "plc/ladder_ops.h"
#include "regs/plc_reg.h"

#include <bit>
#include <cstring>
#include <vector>

uint8_t l_stack[kLogicStackSize + 1];
uint8_t l_sp;
uint8_t w_stack[kDataStackSize];
uint8_t w_sp;
uint32_t call_stack[kCallStackSize];
uint8_t call_stack_index;
uint16_t change_screen_latch, force_screen_latch = 0xFFFF, old_change_screen;
uint32_t local_frt_100us, local_scan_time, local_scan_time_rm;
uint16_t time_frt_100us;
uint8_t cmd_group;
uint8_t RegTokLen_16b;
uint16_t alarm_screen_sel;
const uint8_t *lad_prog;
uint32_t lad_words;
uint32_t lad_pc;
uint8_t lad_fault;

uint32_t NV_EditorFeatures;

namespace {

LadderHooks g_hooks;

bool iec_running() {
    return g_hooks.iec_running && g_hooks.iec_running();
}

// The verdict of the load check for the program last met.
struct Verdict {
    const uint8_t *prog = nullptr;
    uint32_t bytes = 0;
    bool tokens16 = false;
    bool valid = false; // a verdict is held
    int32_t result = kLadderScanDone;
};
Verdict g_verdict;

// The commonest rung, two contacts joined by AND or OR driving a coil
// (LD a, LD b, AND|OR, OUT q with a one-word operand), found once per program
// and run as one step: its bytes and masks resolved, the stack moved once.
// Each group keeps the five words it was made from and runs only while the
// program still holds them there; otherwise the words run one by one. So the
// table can only be slow, never wrong, whatever changed the program.
struct RungGroup {
    uint8_t words[10]; // the group's words as the program held them
    bool is_or;
    uint8_t a_shift, b_shift, q_mask;
    uint16_t a_byte, b_byte, q_byte;
};
// Arithmetic in its usual form, two register pushes, a two-operand operation
// and a pop into a register (PUSH a, PUSH b, OP, POP r, each register one
// word), runs the same way: operand offsets checked once, the operation done
// natively, the data stack left as the words one by one leave it.
enum class ArithKind : uint8_t {
    AddW,
    SubW,
    MulW,
    DivW,
    AddD,
    SubD,
    MulD,
    DivD,
    AddF,
    SubF,
    MulF,
    DivF
};
struct ArithGroup {
    uint8_t words[14]; // the group's words as the program held them
    ArithKind kind;
    uint8_t width;     // bytes of each operand: 2 or 4
    uint32_t a, b, r;  // image offsets of the operands and the result
    uint8_t pop_group; // what the last word leaves in cmd_group
};
struct RungGroups {
    const uint8_t *prog = nullptr;
    uint32_t words = 0;
    // Per word: 1 + index of the rung group starting there, kArithTag with
    // 1 + index of an arithmetic group, or 0.
    std::vector<uint32_t> at;
    std::vector<RungGroup> groups;
    std::vector<ArithGroup> ariths;
};
RungGroups g_groups;
constexpr uint32_t kGroupWords = 5;
constexpr uint32_t kGroupSteps = 4; // instructions: the coil takes its operand word
constexpr uint32_t kArithTag = 0x80000000u;
constexpr uint32_t kArithWords = 7;
constexpr uint16_t kPushW = 0x050, kPopW = 0x052, kPushD = 0x053, kPopD = 0x055;

// The guard against a program that never reaches END (a jump backwards that
// loops for ever): a scan that has run for kGuardTicks of the 100 us tick
// stops where it stands. A terminating program of any length runs to END; the
// guard lies far above any honest scan (a loop of 200,000 instructions takes
// a few milliseconds) and well inside the watchdog's 5 s window, so the stop
// is reported before the watchdog resets the panel. The clock is read every
// kGuardSteps instructions only; on the virtual clock of tests each read moves
// it on one tick, as a busy wait does, so the guard fires there too.
constexpr uint32_t kGuardTicks = 5000; // 500 ms, a tenth of the watchdog window
constexpr uint32_t kGuardSteps = 1024;

// The register area the interpreter addresses: %IG up to the end of %ESR.
constexpr uint32_t kAreaEnd = reg::kESR + 0x200;

bool tokens16_now() {
    return Ladder_Tokens16(NV_EditorFeatures);
}

// The operation of an arithmetic group's middle word, when the opcode table
// still runs it with the handler whose work the group does natively.
bool arith_kind(uint16_t op, uint8_t width, ArithKind *kind) {
    const LadOp &o = Lad_Op(op);
    auto is = [&](LadHandler h, LadArith a) { return o.handler == h && o.arg == uint8_t(a); };
    if (width == 2) {
        if (op == 0x078 && o.handler == LadData_AddW)
            *kind = ArithKind::AddW;
        else if (op == 0x079 && is(LadMath_Int16, LadArith::Sub))
            *kind = ArithKind::SubW;
        else if (op == 0x07A && is(LadMath_Int16, LadArith::Mul))
            *kind = ArithKind::MulW;
        else if (op == 0x07B && is(LadMath_Int16, LadArith::Div))
            *kind = ArithKind::DivW;
        else
            return false;
        return true;
    }
    if (op == 0x07C && o.handler == LadData_AddD)
        *kind = ArithKind::AddD;
    else if (op == 0x07D && is(LadMath_Int32, LadArith::Sub))
        *kind = ArithKind::SubD;
    else if (op == 0x07E && is(LadMath_Int32, LadArith::Mul))
        *kind = ArithKind::MulD;
    else if (op == 0x07F && is(LadMath_Int32, LadArith::Div))
        *kind = ArithKind::DivD;
    else if (op == 0x080 && is(LadMath_Float, LadArith::Add))
        *kind = ArithKind::AddF;
    else if (op == 0x081 && is(LadMath_Float, LadArith::Sub))
        *kind = ArithKind::SubF;
    else if (op == 0x082 && is(LadMath_Float, LadArith::Mul))
        *kind = ArithKind::MulF;
    else if (op == 0x083 && is(LadMath_Float, LadArith::Div))
        *kind = ArithKind::DivF;
    else
        return false;
    return true;
}

// An arithmetic group at `w` (seven words), with every operand a one-word
// reference whose bytes lie in the register area: the words one by one could
// then never fault.
bool arith_group(const uint8_t *w, ArithGroup *g) {
    const uint16_t push1 = le16(w), push2 = le16(w + 4), op = le16(w + 8), pop = le16(w + 10);
    uint8_t width;
    if (push1 == kPushW && push2 == kPushW && pop == kPopW)
        width = 2;
    else if (push1 == kPushD && push2 == kPushD && pop == kPopD)
        width = 4;
    else
        return false;
    const LadHandler push_h = width == 2 ? LadData_PushW : LadData_PushD;
    const LadHandler pop_h = width == 2 ? LadData_PopW : LadData_PopD;
    if (Lad_Op(push1).handler != push_h || Lad_Op(pop).handler != pop_h) return false;
    if (!arith_kind(op, width, &g->kind)) return false;
    uint32_t off[3];
    const uint16_t refs[3] = {le16(w + 2), le16(w + 6), le16(w + 12)};
    for (int i = 0; i < 3; ++i) {
        if (refs[i] < 1024 || refs[i] == kLadEscape1 || refs[i] == kLadEscape2) return false;
        off[i] = ((refs[i] - 1024u) >> 4) * 2;
        if (off[i] + width > kAreaEnd) return false;
    }
    std::memcpy(g->words, w, sizeof g->words);
    g->width = width;
    g->a = off[0];
    g->b = off[1];
    g->r = off[2];
    g->pop_group = uint8_t(pop >> 6);
    return true;
}

// The operation of an arithmetic group on raw operands, as its handler does
// it: false when the power flow drops (a result that does not fit, a
// division by zero, which leaves the dividend, or a float that is not finite).
inline bool arith(ArithKind k, uint32_t ra, uint32_t rb, uint32_t *out) {
    auto fits16 = [&](int32_t v) {
        *out = uint16_t(v);
        return v >= -32768 && v <= 32767;
    };
    auto fits32 = [&](int64_t v) {
        *out = uint32_t(uint64_t(v));
        return v >= INT32_MIN && v <= INT32_MAX;
    };
    auto finite = [](float v) { return (std::bit_cast<uint32_t>(v) & 0x7F800000u) != 0x7F800000u; };
    auto real = [&](float a, float b, float v) {
        *out = std::bit_cast<uint32_t>(v);
        return finite(a) && finite(b) && finite(v);
    };
    const int32_t a16 = int16_t(ra), b16 = int16_t(rb);
    const int64_t a32 = int32_t(ra), b32 = int32_t(rb);
    const float af = std::bit_cast<float>(ra), bf = std::bit_cast<float>(rb);
    switch (k) {
    case ArithKind::AddW:
        return fits16(a16 + b16);
    case ArithKind::SubW:
        return fits16(a16 - b16);
    case ArithKind::MulW:
        return fits16(a16 * b16);
    case ArithKind::DivW:
        if (b16 == 0) return *out = ra, false;
        return fits16(a16 / b16);
    case ArithKind::AddD: {
        const uint32_t sum = ra + rb;
        *out = sum;
        return !(((sum ^ ra) & (sum ^ rb)) & 0x80000000u);
    }
    case ArithKind::SubD:
        return fits32(a32 - b32);
    case ArithKind::MulD:
        return fits32(a32 * b32);
    case ArithKind::DivD:
        if (b32 == 0) return *out = ra, false;
        return fits32(a32 / b32);
    case ArithKind::AddF:
        return real(af, bf, af + bf);
    case ArithKind::SubF:
        return real(af, bf, af - bf);
    case ArithKind::MulF:
        return real(af, bf, af * bf);
    case ArithKind::DivF:
        if (bf == 0) return *out = ra, false;
        return real(af, bf, af / bf);
    }
    return true;
}

// Finds the rung groups of a checked program of 16-bit tokens. Words are
// matched wherever they stand, operand or not: a group runs only when the
// scan reaches its first word as an instruction, and then the words mean
// exactly what the group does.
void find_groups(const uint8_t *prog, uint32_t words) {
    g_groups.prog = prog;
    g_groups.words = words;
    g_groups.at.assign(words, 0);
    g_groups.groups.clear();
    for (uint32_t p = 0; p + kGroupWords <= words; ++p) {
        const uint16_t a = le16(prog + 2 * p), b = le16(prog + 2 * p + 2);
        const uint16_t op = le16(prog + 2 * p + 4), out = le16(prog + 2 * p + 6);
        const uint16_t q = le16(prog + 2 * p + 8);
        if (a < kLadContactMin || b < kLadContactMin || (op != kLadAnd && op != kLadOr) ||
            out != kLadOut || q < 1024)
            continue;
        RungGroup g{};
        std::memcpy(g.words, prog + 2 * p, sizeof g.words);
        g.is_or = op == kLadOr;
        g.a_byte = uint16_t((a - 1024u) >> 3);
        g.a_shift = uint8_t((a - 1024u) & 7);
        g.b_byte = uint16_t((b - 1024u) >> 3);
        g.b_shift = uint8_t((b - 1024u) & 7);
        g.q_byte = uint16_t((q - 1024u) >> 3);
        g.q_mask = uint8_t(1u << ((q - 1024u) & 7));
        g_groups.groups.push_back(g);
        g_groups.at[p] = uint32_t(g_groups.groups.size());
    }
    for (uint32_t p = 0; p + kArithWords <= words; ++p) {
        if (g_groups.at[p]) continue;
        ArithGroup g{};
        if (arith_group(prog + 2 * p, &g)) {
            g_groups.ariths.push_back(g);
            g_groups.at[p] = kArithTag | uint32_t(g_groups.ariths.size());
        }
    }
}

int32_t verdict_for(const uint8_t *prog, uint32_t bytes, bool tokens16) {
    if (!g_verdict.valid || g_verdict.prog != prog || g_verdict.bytes != bytes ||
        g_verdict.tokens16 != tokens16) {
        g_verdict.prog = prog;
        g_verdict.bytes = bytes;
        g_verdict.tokens16 = tokens16;
        g_verdict.result = Ladder_Check(prog, bytes, tokens16);
        g_verdict.valid = true;
        g_groups = RungGroups{};
        if (g_verdict.result == kLadderScanDone && tokens16 && prog) find_groups(prog, bytes / 2);
    }
    return g_verdict.result;
}

// End of scan: the screen latches, the first-scan bits.
void end_of_scan() {
    sr_put(sr::kForcedScreen, uint16_t(force_screen_latch + 1));
    sbit_put(sbit::kFirstScan, 0);
    sbit_put(sbit::kStatsFrozen, 0);
    if (change_screen_latch != old_change_screen) {
        old_change_screen = change_screen_latch;
        if (change_screen_latch) sr_put(sr::kUserScreen, change_screen_latch);
    }
}

void scan_timing() {
    if (sbit_get(sbit::kFirstScan)) {
        local_scan_time = 0;
        local_scan_time_rm = 0;
    } else {
        uint32_t sum = (FPGA_GetFrt() - local_frt_100us) + local_scan_time_rm;
        local_scan_time = sum / 10;
        local_scan_time_rm = sum % 10;
    }
    uint32_t now = FPGA_GetFrt();
    local_frt_100us = now;
    sr_put32(sr::kScanTick, now);
    time_frt_100us = uint16_t(now & 0x3FFF);
}

// The dispatch loop. Contacts, the most frequent words, are handled inline.
// The program counter and the logic stack's depth live in locals while the
// inline words run (a global would be reloaded after every byte stored into
// the registers) and go back to lad_pc and l_sp around each handler and at
// every way out.
int32_t run(const uint8_t *prog, uint32_t words, const RungGroups *groups) {
    lad_prog = prog;
    lad_words = words;
    lad_pc = 0;
    lad_fault = 0;
    l_sp = 0;
    l_stack[0] = 0;
    w_sp = 0;
    call_stack_index = 0;
    change_screen_latch = 0;
    force_screen_latch = 0xFFFF;

    const uint32_t started = FPGA_GetFrt();
    uint32_t steps = kGuardSteps;
    // The rows of every code below the contacts lie in one array: fetched
    // once, they are indexed without a call per instruction.
    const LadOp *ops = &Lad_Op(0);
    const bool out16 = RegTokLen_16b != 0;
    if (!out16 || (groups && (groups->prog != prog || groups->words != words))) groups = nullptr;
    const uint32_t *group_at = groups ? groups->at.data() : nullptr;
    uint32_t pc = 0;
    uint8_t sp = 0;
    auto leave = [&](int32_t result) {
        lad_pc = pc;
        l_sp = sp;
        return result;
    };
    for (;;) {
        if (pc >= words) return leave(int32_t(words)); // ran off the end of the program
        if (--steps == 0) {
            steps = kGuardSteps;
            if (uint32_t(FPGA_GetFrtStep() - started) >= kGuardTicks) return leave(int32_t(pc));
        }
        // A rung group, when the program still holds its words and the words
        // one by one would neither overflow the stack nor meet the guard's
        // clock reading inside it.
        if (group_at && group_at[pc] && (group_at[pc] & kArithTag) && steps >= kGroupSteps) {
            const ArithGroup &g = groups->ariths[(group_at[pc] & ~kArithTag) - 1];
            if (w_sp + 2u * g.width <= unsigned(kDataStackSize) &&
                std::memcmp(prog + 2 * pc, g.words, sizeof g.words) == 0) {
                const bool wide = g.width == 4;
                const uint32_t a = wide ? le32(plc_reg + g.a) : le16(plc_reg + g.a);
                const uint32_t b = wide ? le32(plc_reg + g.b) : le16(plc_reg + g.b);
                uint32_t r = 0;
                if (!arith(g.kind, a, b, &r)) l_stack[sp] = 0;
                // What the pushes, the operation and the pop leave above the stack.
                uint8_t *top = w_stack + w_sp;
                if (wide) {
                    put_le32(top, r);
                    put_le32(top + 4, b);
                    put_le32(plc_reg + g.r, r);
                } else {
                    put_le16(top, uint16_t(r));
                    put_le16(top + 2, uint16_t(b));
                    put_le16(plc_reg + g.r, uint16_t(r));
                }
                cmd_group = g.pop_group;
                pc += kArithWords;
                steps -= kGroupSteps - 1; // this pass through the loop counted one
                continue;
            }
        } else if (group_at && group_at[pc] && sp + 2 <= kLogicStackSize && steps >= kGroupSteps) {
            const RungGroup &g = groups->groups[group_at[pc] - 1];
            if (std::memcmp(prog + 2 * pc, g.words, sizeof g.words) == 0) {
                const uint8_t a = (plc_reg[g.a_byte] >> g.a_shift) & 1 ? 0xFF : 0x00;
                const uint8_t b = (plc_reg[g.b_byte] >> g.b_shift) & 1 ? 0xFF : 0x00;
                const uint8_t r = g.is_or ? uint8_t(a | b) : uint8_t(a & b);
                l_stack[sp + 1] = r; // what the words one by one leave above the stack
                l_stack[sp + 2] = b;
                uint8_t &q = plc_reg[g.q_byte];
                q = r ? uint8_t(q | g.q_mask) : uint8_t(q & ~g.q_mask);
                cmd_group = uint8_t(kLadOut >> 6);
                pc += kGroupWords;
                steps -= kGroupSteps - 1; // this pass through the loop counted one
                continue;
            }
        }
        uint16_t w = le16(prog + 2 * pc++);
        if (w >= kLadContactMin) {
            if (sp >= kLogicStackSize) return leave(int32_t(pc));
            uint32_t bit = uint32_t(w) - 1024;
            l_stack[++sp] = (plc_reg[bit >> 3] >> (bit & 7)) & 1 ? 0xFF : 0x00;
            continue;
        }
        // The most frequent rung instructions, inline: AND, OR and the output
        // coil with a one-word operand. Everything else goes through the table.
        if (w == kLadAnd || w == kLadOr) {
            cmd_group = uint8_t(w >> 6);
            if (sp == 0) return leave(int32_t(pc));
            uint8_t a = l_stack[sp--];
            if (w == kLadAnd ? !a : a != 0) l_stack[sp] = w == kLadAnd ? 0x00 : 0xFF;
            continue;
        }
        if (w == kLadOut && out16 && pc < words) {
            uint32_t ref = le16(prog + 2 * pc);
            if (ref >= 1024 && sp != 0) {
                cmd_group = uint8_t(w >> 6);
                ++pc;
                uint32_t bit = ref - 1024;
                uint8_t mask = uint8_t(1u << (bit & 7));
                uint8_t &b = plc_reg[bit >> 3];
                b = l_stack[sp--] ? uint8_t(b | mask) : uint8_t(b & ~mask);
                continue;
            }
        }
        cmd_group = uint8_t(w >> 6);
        if (w == kLadEnd) {
            leave(0);
            if (iec_running()) return kLadderScanDone;
            end_of_scan();
            return kLadderScanDone;
        }
        const LadOp &o = ops[w];
        lad_pc = pc;
        l_sp = sp;
        o.handler(w, o.arg);
        pc = lad_pc;
        sp = l_sp;
        if (lad_fault) return int32_t(pc);
    }
}

} // namespace

uint32_t Ladder_Features(const uint8_t *ladder, uint32_t bytes) {
    if (!ladder || bytes == 0) return 0;
    uint8_t last = ladder[bytes - 1];
    if (last == 254 || last == 255 || bytes < 9) return 0;
    return le32(ladder + bytes - 9);
}

void Ladder_ProgramChanged() {
    g_verdict.valid = false;
}

void Ladder_SetHooks(const LadderHooks &hooks) {
    g_hooks = hooks;
}

int Ladder_Load() {
    Ladder_ProgramChanged();
    // No program at all is the start-up validation's to report.
    if (!ladder_bl || iec_running() || Ladder_Bytes() == 0) return 1;
    int32_t r = verdict_for(ladder_bl + 8, Ladder_Bytes(), tokens16_now());
    if (r == kLadderScanDone) return 1;
    sr_put32(sr::kLogicFaultAt, uint32_t(r));
    sr_put(sr::kStatus, sr_get(sr::kStatus) | sr4::kLogicFault);
    return 0;
}

int32_t LogicUpdate(const uint8_t *ladder, uint32_t bytes) {
    scan_timing();
    if (sbit_get(sbit::kFirstScan)) {
        RegTokLen_16b = tokens16_now() ? 1 : 0;
        if (g_hooks.first_scan) g_hooks.first_scan();
    }
    if (iec_running()) {
        if (g_hooks.iec_scan) g_hooks.iec_scan();
        if (iec_running()) return kLadderScanDone;
        change_screen_latch = 0;
        force_screen_latch = 0xFFFF;
        end_of_scan();
        return kLadderScanDone;
    }
    if (!ladder) bytes = 0;
    int32_t verdict = verdict_for(ladder, bytes, RegTokLen_16b != 0);
    if (verdict != kLadderScanDone) return verdict;
    return run(ladder, bytes / 2, &g_groups);
}

int32_t Ladder_RunUnchecked(const uint8_t *ladder, uint32_t bytes) {
    return run(ladder, ladder ? bytes / 2 : 0, nullptr);
}

int32_t Ladder_RunChecked(const uint8_t *ladder, uint32_t bytes) {
    if (!ladder) bytes = 0;
    int32_t verdict = verdict_for(ladder, bytes, RegTokLen_16b != 0);
    if (verdict != kLadderScanDone) return verdict;
    return run(ladder, bytes / 2, &g_groups);
}

void Ladder_Reset() {
    std::memset(l_stack, 0, sizeof l_stack);
    l_sp = 0;
    std::memset(w_stack, 0, sizeof w_stack);
    w_sp = 0;
    std::memset(call_stack, 0, sizeof call_stack);
    call_stack_index = 0;
    change_screen_latch = 0;
    force_screen_latch = 0xFFFF;
    old_change_screen = 0;
    local_frt_100us = local_scan_time = local_scan_time_rm = 0;
    time_frt_100us = 0;
    cmd_group = 0;
    RegTokLen_16b = 0;
    alarm_screen_sel = 0;
    lad_prog = nullptr;
    lad_words = 0;
    lad_pc = 0;
    lad_fault = 0;
    g_verdict = Verdict{};
    g_groups = RungGroups{};
    LadSpecial_Reset();
}

// ---------------------------------------------------------------------------
// Operand readers.

uint32_t Lad_Dword(uint32_t *pc) {
    uint32_t lo = Lad_Word(pc);
    return lo | (uint32_t(Lad_Word(pc)) << 16);
}

uint32_t Lad_BitRef(uint32_t *pc) {
    if (RegTokLen_16b) return Lad_Word(pc);
    return Lad_Fold(Lad_Dword(pc));
}

uint32_t Lad_WordRef(uint32_t *pc) {
    if (!RegTokLen_16b) return Lad_Fold(Lad_Dword(pc));
    uint16_t w = Lad_Word(pc);
    if (w == kLadEscape1) return 0x10000u + Lad_Word(pc);
    if (w == kLadEscape2) return 0x20000u + Lad_Word(pc);
    return w;
}

namespace {
uint8_t *area_bytes(uint32_t ref, uint32_t offset, uint32_t bytes) {
    if (ref < 1024 || offset + uint64_t(bytes) > kAreaEnd) {
        lad_fault = 1;
        return nullptr;
    }
    return plc_reg + offset;
}
} // namespace

uint8_t *Lad_Word16(uint32_t ref) {
    return area_bytes(ref, ((ref - 1024) >> 4) * 2, 2);
}
uint8_t *Lad_Word32(uint32_t ref) {
    return area_bytes(ref, ((ref - 1024) >> 4) * 2, 4);
}
uint8_t *Lad_Byte(uint32_t ref) {
    return area_bytes(ref, (ref - 1024) >> 3, 1);
}

int Lad_GetBit(uint32_t ref) {
    uint8_t *p = Lad_Byte(ref);
    return p ? (*p >> ((ref - 1024) & 7)) & 1 : 0;
}

void Lad_PutBit(uint32_t ref, int on) {
    uint8_t *p = Lad_Byte(ref);
    if (!p) return;
    uint8_t mask = uint8_t(1u << ((ref - 1024) & 7));
    *p = on ? uint8_t(*p | mask) : uint8_t(*p & ~mask);
}

void Lad_Push(uint8_t v) {
    if (l_sp >= kLogicStackSize) {
        lad_fault = 1;
        return;
    }
    l_stack[++l_sp] = v;
}

uint8_t Lad_Pop() {
    if (l_sp == 0) {
        lad_fault = 1;
        return 0;
    }
    return l_stack[l_sp--];
}
