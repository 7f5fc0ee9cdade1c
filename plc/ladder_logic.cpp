// Contacts, coils, logic combination, jumps, subroutines and screen requests,
// and the opcode table through which the interpreter dispatches every code.
#include "base/le.h"
#include "plc/ladder.h"
#include "plc/ladder_fam.h"
#include "plc/ladder_ops.h"
#include "regs/plc_reg.h"

#include <array>
#include <cctype>
#include <cstring>

namespace {

// NOT of a logic value: 0 gives 1, anything else 0.
inline uint8_t lnot(uint8_t v) {
    return v == 0 ? 1 : 0;
}

// The slot just above the top: the byte a pop left behind.
inline uint8_t &popped_slot() {
    return l_stack[l_sp + 1];
}

uint8_t *old_bit_byte(uint32_t ref) {
    return old_reg + ((ref - 1024) >> 3);
}

// ---------------------------------------------------------------------------
// Group 0.

void op_load(uint16_t, uint8_t) {
    uint32_t ref = Lad_BitRef(&lad_pc);
    int bit = Lad_GetBit(ref);
    if (!lad_fault) Lad_Push(bit ? 0xFF : 0x00);
}
void op_not(uint16_t, uint8_t) {
    Lad_Top() = lnot(Lad_Top());
}
void op_true(uint16_t, uint8_t) {
    Lad_Top() = 0xFF;
}
void op_false(uint16_t, uint8_t) {
    Lad_Top() = 0;
}
void op_or(uint16_t, uint8_t) {
    uint8_t a = Lad_Pop();
    if (!lad_fault && a) Lad_Top() = 0xFF;
}
void op_and(uint16_t, uint8_t) {
    uint8_t a = Lad_Pop();
    if (!lad_fault && !a) Lad_Top() = 0;
}

// Coils read their operand, then pop the power flow; nothing is written when
// either stops the scan.
template <typename Write> void coil(Write write) {
    uint32_t ref = Lad_BitRef(&lad_pc);
    if (lad_fault || !Lad_Byte(ref)) return;
    uint8_t p = Lad_Pop();
    if (!lad_fault) write(ref, p != 0);
}
void op_out(uint16_t, uint8_t) {
    coil([](uint32_t ref, bool p) { Lad_PutBit(ref, p); });
}
void op_set(uint16_t, uint8_t) {
    coil([](uint32_t ref, bool p) {
        if (p) Lad_PutBit(ref, 1);
    });
}
void op_reset(uint16_t, uint8_t) {
    coil([](uint32_t ref, bool p) {
        if (p) Lad_PutBit(ref, 0);
    });
}
void op_out_not(uint16_t, uint8_t) {
    coil([](uint32_t ref, bool p) { Lad_PutBit(ref, !p); });
}
// Transition coils keep their edge memory in the same bit of old_reg.
void put_old(uint32_t ref, bool on) {
    uint8_t mask = uint8_t(1u << ((ref - 1024) & 7));
    uint8_t &m = *old_bit_byte(ref);
    m = on ? uint8_t(m | mask) : uint8_t(m & ~mask);
}
bool get_old(uint32_t ref) {
    return (*old_bit_byte(ref) >> ((ref - 1024) & 7)) & 1;
}
void op_positive(uint16_t, uint8_t) {
    coil([](uint32_t ref, bool p) {
        if (p) {
            Lad_PutBit(ref, !get_old(ref));
            put_old(ref, true);
        } else {
            Lad_PutBit(ref, 0);
            put_old(ref, false);
        }
    });
}
void op_negative(uint16_t, uint8_t) {
    coil([](uint32_t ref, bool p) {
        if (p) {
            Lad_PutBit(ref, 0);
            put_old(ref, true);
        } else {
            Lad_PutBit(ref, get_old(ref));
            put_old(ref, false);
        }
    });
}

void op_force_screen(uint16_t, uint8_t) {
    uint16_t k = Lad_Word(&lad_pc);
    uint8_t p = Lad_Pop();
    if (!lad_fault && p) force_screen_latch = k;
}
void op_change_screen(uint16_t, uint8_t) {
    uint16_t k = Lad_Word(&lad_pc);
    uint8_t p = Lad_Pop();
    if (!lad_fault && p) change_screen_latch = k;
}
// Screen numbers are 1-based in %SR1 and %SR2 and 0-based in the operand.
void op_screen_contact(uint16_t, uint8_t) {
    uint16_t k = Lad_Word(&lad_pc);
    bool in_force;
    if (sr_get(sr::kSystemScreen) != 0)
        in_force = false;
    else if (force_screen_latch != 0xFFFF)
        in_force = force_screen_latch == k;
    else
        in_force = uint16_t(sr_get(sr::kForcedScreen) - 1) == k ||
                   uint16_t(sr_get(sr::kUserScreen) - 1) == k;
    if (!lad_fault) Lad_Push(in_force ? 0xFF : 0x00);
}

// Alarm-screen selection. State (alarm_screen_sel): bit 15 a selection is
// held, low 9 bits the held screen (511 none), bits 9-12 the edge memories of
// the four bit inputs. The inputs: 1 next alarm, 2 previous alarm, 3 release
// the held selection (follow the first active alarm again), 4 hold the screen
// shown. The parameter word and the second word register are read as
// operands and take no further part. Writes only the force-screen latch and
// its own state; the power flow stays as it is.
constexpr uint16_t kSelHeld = 0x8000, kSelNone = 511, kSelActive = 0x0200;
void op_alarm_screen(uint16_t, uint8_t) {
    uint16_t n = Lad_Word(&lad_pc);
    uint16_t base = Lad_Word(&lad_pc);
    Lad_Word(&lad_pc); // parameter
    uint16_t states = Lad_Word(&lad_pc);
    Lad_Word(&lad_pc); // second word register
    uint32_t in_ref[4];
    for (uint32_t &r : in_ref)
        r = Lad_BitRef(&lad_pc);
    if (lad_fault) return;
    bool in[4];
    for (int i = 0; i < 4; ++i)
        in[i] = Lad_GetBit(in_ref[i]);
    uint16_t st = alarm_screen_sel;
    if (!Lad_Top()) {
        alarm_screen_sel = uint16_t(st & ~kSelHeld);
        return;
    }
    // The states of the alarms, bounded by the register area.
    auto active = [&](uint32_t i) {
        uint8_t *w = Lad_Word16(uint32_t(states) + 16 * i);
        return w && (le16(w) & kSelActive);
    };
    if (lad_fault) return;
    auto screen_of = [&](uint32_t i) { return uint16_t(base - 1 + i); };
    int current = -1;
    if ((st & kSelHeld) && (st & 0x1FF) < kSelNone) {
        force_screen_latch = st & 0x1FF;
        current = int(uint16_t(force_screen_latch - (base - 1)));
        if (current >= n) current = -1;
    } else {
        force_screen_latch = 0xFFFF;
        for (uint32_t i = 0; i < n; ++i)
            if (active(i)) {
                force_screen_latch = screen_of(i);
                current = int(i);
                break;
            }
    }
    if (lad_fault) return;
    bool rising[4];
    for (int i = 0; i < 4; ++i) {
        uint16_t mem = uint16_t(1u << (9 + i));
        rising[i] = in[i] && !(st & mem);
        st = in[i] ? uint16_t(st | mem) : uint16_t(st & ~mem);
    }
    auto hold = [&](uint16_t screen) {
        st = uint16_t((st & 0x7E00) | kSelHeld | (screen & 0x1FF));
        force_screen_latch = screen;
    };
    for (int dir : {0, 1}) {
        if (!rising[dir] || n == 0) continue;
        for (uint32_t k = 1; k <= n; ++k) {
            uint32_t i = dir == 0 ? uint32_t(current + int(k)) % n
                                  : uint32_t(current - int(k) + 2 * int(n)) % n;
            if (current < 0 && dir == 1) i = (n - k) % n;
            if (active(i) && screen_of(i) < kSelNone) {
                hold(screen_of(i));
                current = int(i);
                break;
            }
        }
    }
    if (rising[2]) st = uint16_t((st & 0x7E00) | kSelNone);
    if (rising[3] && force_screen_latch < kSelNone) hold(force_screen_latch);
    if (!lad_fault) alarm_screen_sel = st;
}

void op_pop(uint16_t, uint8_t) {
    Lad_Pop();
}
void op_repush(uint16_t, uint8_t) {
    if (l_sp >= kLogicStackSize)
        lad_fault = 1;
    else
        ++l_sp;
}
void op_and_not(uint16_t, uint8_t) {
    uint8_t a = Lad_Pop();
    if (lad_fault) return;
    uint8_t na = lnot(a);
    popped_slot() = na;
    if (!na) Lad_Top() = 0;
}
void op_or_not(uint16_t, uint8_t) {
    uint8_t a = Lad_Pop();
    if (lad_fault) return;
    uint8_t na = lnot(a);
    popped_slot() = na;
    if (na) Lad_Top() = 1;
}
void op_nand(uint16_t, uint8_t) {
    uint8_t a = Lad_Pop();
    if (lad_fault) return;
    if (!a) Lad_Top() = 0;
    Lad_Top() = lnot(Lad_Top());
}
void op_nor(uint16_t, uint8_t) {
    uint8_t a = Lad_Pop();
    if (lad_fault) return;
    if (a) Lad_Top() = 1;
    Lad_Top() = lnot(Lad_Top());
}

// ---------------------------------------------------------------------------
// Group 1: logic combination and program flow.

void op_and_or(uint16_t, uint8_t) {
    if (l_sp < 2) {
        lad_fault = 1;
        return;
    }
    uint8_t a = Lad_Pop(), b = Lad_Pop();
    if (!a) popped_slot() = 0;
    if (a && b) Lad_Top() = 1;
}
void op_or_and(uint16_t, uint8_t) {
    if (l_sp < 2) {
        lad_fault = 1;
        return;
    }
    uint8_t a = Lad_Pop(), b = Lad_Pop();
    if (a) popped_slot() = 1;
    if (!a && !b) Lad_Top() = 0;
}

// A target outside the program stops the scan at the operand.
void go_to(int64_t target) {
    if (target < 0 || target >= int64_t(lad_words))
        lad_fault = 1;
    else
        lad_pc = uint32_t(target);
}
void jump(int64_t offset) {
    uint8_t p = Lad_Pop();
    if (!lad_fault && p) go_to(int64_t(lad_pc) + offset);
}
void call(int64_t offset) {
    uint8_t p = Lad_Pop();
    if (lad_fault || !p) return;
    if (call_stack_index >= kCallStackSize) {
        lad_fault = 1;
        return;
    }
    call_stack[call_stack_index++] = lad_pc;
    go_to(int64_t(lad_pc) + offset);
}
void op_jump32(uint16_t, uint8_t) {
    jump(int32_t(Lad_Dword(&lad_pc)));
}
void op_call32(uint16_t, uint8_t) {
    call(int32_t(Lad_Dword(&lad_pc)));
}
void op_jump16(uint16_t, uint8_t) {
    jump(int16_t(Lad_Word(&lad_pc)));
}
void op_call16(uint16_t, uint8_t) {
    call(int16_t(Lad_Word(&lad_pc)));
}
void op_skip(uint16_t, uint8_t) {
    uint16_t n = Lad_Word(&lad_pc);
    if (!lad_fault && !Lad_Top()) lad_pc += n; // a skip past the end stops at the next fetch
}
void op_return(uint16_t, uint8_t) {
    uint8_t p = Lad_Pop();
    if (lad_fault || !p) return;
    if (call_stack_index == 0) {
        lad_fault = 1;
        return;
    }
    lad_pc = call_stack[--call_stack_index];
}

// ---------------------------------------------------------------------------
// Undefined codes and the families of other modules.

void op_undefined(uint16_t, uint8_t) {
    lad_fault = 1;
}
void op_ignore(uint16_t, uint8_t) {}

// Program counter on the opcode word (the handler reads it again).
void op_counters(uint16_t, uint8_t) {
    uint32_t pc = lad_pc - 1;
    uint8_t p = LogicCounters(&pc, Lad_Top());
    lad_pc = pc;
    Lad_Top() = p;
}
void op_counters32(uint16_t, uint8_t) {
    Lad_Top() = Logic32bCounters(&lad_pc, Lad_Top());
}
void op_timers(uint16_t, uint8_t) {
    uint32_t pc = lad_pc - 1;
    uint8_t p = LogicTimers(&pc, Lad_Top(), time_frt_100us);
    lad_pc = pc;
    Lad_Top() = p;
}
void op_timers32(uint16_t, uint8_t) {
    uint32_t pc = lad_pc - 1;
    uint8_t p = Logic32bTimers(&pc, Lad_Top(), time_frt_100us);
    lad_pc = pc;
    Lad_Top() = p;
}
void op_shift(uint16_t, uint8_t) {
    Lad_Top() = Multi_Shift(&lad_pc);
}
void op_rotate(uint16_t, uint8_t) {
    Lad_Top() = Multi_Rotate(&lad_pc);
}
void op_shift_p(uint16_t, uint8_t) {
    Lad_Top() = IEC_Multi_Shift(&lad_pc);
}
void op_rotate_p(uint16_t, uint8_t) {
    Lad_Top() = IEC_Multi_Rotate(&lad_pc);
}
// Handlers that return the position of the next instruction.
void next_at(uint32_t pos) {
    if (pos > lad_words)
        lad_fault = 1;
    else
        lad_pc = pos;
}
void op_pid(uint16_t op, uint8_t pid) {
    int form = pid & kLadPidPointer ? 1 : 0;
    next_at(IEC_NON_IEC_PidParser(lad_pc, op, local_frt_100us, &Lad_Top(), form));
}
void op_alarm(uint16_t, uint8_t) {
    next_at(Alarm_Handler(lad_pc, &Lad_Top()));
}
void op_lreal(uint16_t, uint8_t) {
    uint8_t p = LogicLreal(&lad_pc, &w_sp, Lad_Top());
    if (w_sp > kDataStackSize) {
        w_sp = kDataStackSize;
        lad_fault = 1;
    }
    Lad_Top() = p;
}

template <uint8_t (*F)(uint32_t *, uint8_t)> void conv_b(uint16_t, uint8_t) {
    Lad_Top() = F(&lad_pc, Lad_Top());
}
// Codes whose operands only their own handler knows and that are not built
// here: the scan stops at them, at the position of their opcode word. The
// pointer and indexed forms 0x15E, 0x167 and 0x169-0x16D are among them: their
// operand words and effect are not settled, and a guessed operand count would
// misread every later word of the program, which is worse than a stop.
void op_skip_operands(uint16_t, uint8_t) {
    Ladder_SkipOperands(&lad_pc);
}
// A service row whose subsystem has not set its handler.
void op_service_unset(uint16_t, uint8_t) {
    lad_fault = 1;
}

// ---------------------------------------------------------------------------
// The table.

struct Row {
    uint16_t code;
    LadOp op;
};
constexpr LadFlow N = LadFlow::Next;
constexpr Row row(uint16_t code, const char *name, const char *shape, LadHandler h, int pops = 0,
                  int pushes = 0, LadFlow flow = N) {
    return {code, {name, shape, h, int8_t(pops), int8_t(pushes), flow, 0, false}};
}
// A row whose handler serves several codes: `arg` selects the operation.
template <typename Arg>
constexpr Row row(uint16_t code, const char *name, const char *shape, LadHandler h, int pops,
                  int pushes, LadFlow flow, Arg arg) {
    Row r = row(code, name, shape, h, pops, pushes, flow);
    r.op.arg = uint8_t(arg);
    return r;
}
// Rows of families that keep the power flow where it is (on the top).
constexpr Row keep(uint16_t code, const char *name, const char *shape, LadHandler h) {
    return row(code, name, shape, h);
}
template <typename Arg>
constexpr Row keep(uint16_t code, const char *name, const char *shape, LadHandler h, Arg arg) {
    return row(code, name, shape, h, 0, 0, N, arg);
}
// Rows of an upper subsystem's family: the handler is its to set.
constexpr Row svc(uint16_t code, const char *name, const char *shape, int pops = 0) {
    Row r = row(code, name, shape, nullptr, pops);
    r.op.service = true;
    return r;
}

// clang-format off
constexpr Row kRows[] = {
    // Contacts, coils and logic.
    row(kLadEnd, "END",   "",  nullptr, 0, 0, LadFlow::End),
    row(0x01F, "LDR",    "b", op_load, 0, 1),
    row(0x020, "NOT",    "",  op_not),
    row(kLadTrue, "TRUE", "",  op_true),
    row(0x022, "FALSE",  "",  op_false),
    row(kLadOr, "OR",     "",  op_or, 1),
    row(kLadAnd, "AND",   "",  op_and, 1),
    row(kLadOut, "OUT",   "b", op_out, 1),
    row(0x027, "FSCR",   "k", op_force_screen, 1),
    row(0x028, "SCR",    "k", op_screen_contact, 0, 1),
    row(0x029, "ASCR",   "xxxrrbbbb", op_alarm_screen),
    row(0x030, "CSCR",   "k", op_change_screen, 1),
    row(0x032, "PTC",    "b", op_positive, 1),
    row(0x033, "NTC",    "b", op_negative, 1),
    row(0x034, "SET",    "b", op_set, 1),
    row(0x035, "RST",    "b", op_reset, 1),
    row(0x036, "OUTN",   "b", op_out_not, 1),
    row(0x037, "POP",    "",  op_pop, 1),
    row(0x038, "REPUSH", "",  op_repush, 0, 1),
    row(0x03C, "ANDN",   "",  op_and_not, 1),
    row(0x03D, "ORN",    "",  op_or_not, 1),
    row(0x03E, "NAND",   "",  op_nand, 1),
    row(0x03F, "NOR",    "",  op_nor, 1),
    row(0x040, "ANDOR",  "",  op_and_or, 2),
    row(0x041, "ORAND",  "",  op_or_and, 2),
    // Program flow.
    row(0x044, "JMPIF",   "J", op_jump32, 1, 0, LadFlow::Jump),
    row(0x045, "CALLIF",  "J", op_call32, 1, 0, LadFlow::Call),
    row(0x046, "SKIPF",   "n", op_skip, 0, 0, LadFlow::Skip),
    row(0x047, "JMPIFS",  "j", op_jump16, 1, 0, LadFlow::Jump),
    row(0x049, "CALLIFS", "j", op_call16, 1, 0, LadFlow::Call),
    row(0x04A, "RETIF",   "",  op_return, 1, 0, LadFlow::Return),

    // Loads, stores and moves.
    keep(0x050, "PUSHW",  "w", LadData_PushW), keep(0x051, "PUSHK",  "k", LadData_PushK),
    keep(0x052, "POPW",   "w", LadData_PopW), keep(0x053, "PUSHD",  "d", LadData_PushD),
    keep(0x054, "PUSHKD", "K", LadData_PushKD), keep(0x055, "POPD",   "d", LadData_PopD),
    keep(0x056, "PUSHKS", "k", LadData_PushKS), keep(0x057, "PUSHWS", "w", LadData_PushWS),
    keep(0x05A, "MOVW",   "ww", LadMove_Move, LadMov::Word),
    keep(0x05C, "MOVKW",  "wk", LadMove_Move, LadMov::ConstWord),
    keep(0x05D, "BLKMOV", "wwk", LadMove_Move, LadMov::Block),
    keep(0x05E, "FILL",   "wkk", LadMove_Move, LadMov::Fill),
    keep(0x05F, "MOVD",   "dd", LadMove_Move, LadMov::Dword),
    keep(0x060, "MOVKD",  "dK", LadMove_Move, LadMov::ConstDword),
    keep(0x0C3, "PUSHB",  "y", LadMove_Move, LadMov::PushByte),
    keep(0x0C4, "POPB",   "y", LadMove_Move, LadMov::PopByte),
    keep(0x21C, "PUSHQ",  "q", LadMove_Move, LadMov::Push64),
    keep(0x21D, "PUSHKQ", "Q", LadMove_Move, LadMov::PushConst64),
    keep(0x21E, "POPQ",   "q", LadMove_Move, LadMov::Pop64),
    // Typed loads with conversion: source, then what is pushed.
    keep(0x12C, "LDUB_W",  "y", LadMove_Convert, LadConv::UB_W),
    keep(0x12F, "LDUB_W2",  "y", LadMove_Convert, LadConv::UB_W),
    keep(0x12D, "LDUB_D",  "y", LadMove_Convert, LadConv::UB_D),
    keep(0x130, "LDUB_D2",  "y", LadMove_Convert, LadConv::UB_D),
    keep(0x12E, "LDUB_F",  "y", LadMove_Convert, LadConv::UB_F),
    keep(0x144, "LDSB_W",   "y", LadMove_Convert, LadConv::SB_W),
    keep(0x145, "LDSB_D",  "y", LadMove_Convert, LadConv::SB_D),
    keep(0x146, "LDSB_F",   "y", LadMove_Convert, LadConv::SB_F),
    keep(0x147, "LDSB_WC", "y", LadMove_Convert, LadConv::SB_WC),
    keep(0x148, "LDSB_DC",  "y", LadMove_Convert, LadConv::SB_DC),
    keep(0x131, "LDW_B7",  "w", LadMove_Convert, LadConv::W_B7),
    keep(0x134, "LDW_B",    "w", LadMove_Convert, LadConv::W_B),
    keep(0x13B, "LDSW_B",  "w", LadMove_Convert, LadConv::SW_B),
    keep(0x149, "LDSW_SB",  "w", LadMove_Convert, LadConv::SW_SB),
    keep(0x132, "LDW_D",   "w", LadMove_Convert, LadConv::W_D),
    keep(0x135, "LDW_D2",   "w", LadMove_Convert, LadConv::W_D),
    keep(0x13C, "LDSW_DC", "w", LadMove_Convert, LadConv::SW_DC),
    keep(0x133, "LDW_F",    "w", LadMove_Convert, LadConv::W_F),
    keep(0x04F, "LDSW_F",  "w", LadMove_Convert, LadConv::SW_F),
    keep(0x136, "LDD_B7",   "d", LadMove_Convert, LadConv::D_B7),
    keep(0x139, "LDD_B",   "d", LadMove_Convert, LadConv::D_B),
    keep(0x13D, "LDD_B2",   "d", LadMove_Convert, LadConv::D_B),
    keep(0x14A, "LDSD_SB", "d", LadMove_Convert, LadConv::SD_SB),
    keep(0x13A, "LDD_W",    "d", LadMove_Convert, LadConv::D_W),
    keep(0x13E, "LDD_W2",  "d", LadMove_Convert, LadConv::D_W),
    keep(0x04B, "LDSD_SW",  "d", LadMove_Convert, LadConv::SD_SW),
    keep(0x137, "LDSD_SW2","d", LadMove_Convert, LadConv::SD_SW),
    keep(0x04E, "LDSD_F",   "d", LadMove_Convert, LadConv::SD_F),
    keep(0x138, "LDD_F",   "d", LadMove_Convert, LadConv::D_F),
    keep(0x13F, "LDF_B",    "d", LadMove_Convert, LadConv::F_B),
    keep(0x14B, "LDF_SB",  "d", LadMove_Convert, LadConv::F_SB),
    keep(0x140, "LDF_W",    "d", LadMove_Convert, LadConv::F_W),
    keep(0x04D, "LDF_SW",  "d", LadMove_Convert, LadConv::F_SW),
    keep(0x04C, "LDF_SD",   "d", LadMove_Convert, LadConv::F_SD),
    keep(0x141, "LDF_D",   "d", LadMove_Convert, LadConv::F_D),
    // Integer arithmetic.
    keep(0x078, "ADDW",  "", LadData_AddW),
    keep(0x079, "SUBW",  "", LadMath_Int16, LadArith::Sub),
    keep(0x07A, "MULW",  "", LadMath_Int16, LadArith::Mul),
    keep(0x07B, "DIVW",  "", LadMath_Int16, LadArith::Div),
    keep(0x08D, "MODW",  "", LadMath_Int16, LadArith::Mod),
    keep(0x08C, "ABSW",  "", LadMath_Int16, LadArith::Abs),
    keep(0x08E, "SQRTW", "", LadMath_Int16, LadArith::Sqrt),
    keep(0x07C, "ADDD",  "", LadData_AddD),
    keep(0x07D, "SUBD",  "", LadMath_Int32, LadArith::Sub),
    keep(0x07E, "MULD",  "", LadMath_Int32, LadArith::Mul),
    keep(0x07F, "DIVD",  "", LadMath_Int32, LadArith::Div),
    keep(0x090, "MODD",  "", LadMath_Int32, LadArith::Mod),
    keep(0x08F, "ABSD",  "", LadMath_Int32, LadArith::Abs),
    keep(0x091, "SQRTD", "", LadMath_Int32, LadArith::Sqrt),
    keep(0x104, "MULUB", "", LadMath_U8, LadArith::Mul),
    keep(0x105, "DIVUB", "", LadMath_U8, LadArith::Div),
    keep(0x10A, "ADDSB", "", LadMath_S8, LadArith::Add),
    keep(0x10B, "SUBSB", "", LadMath_S8, LadArith::Sub),
    keep(0x10C, "MULSB", "", LadMath_S8, LadArith::Mul),
    keep(0x10D, "DIVSB", "", LadMath_S8, LadArith::Div),
    keep(0x106, "MULUW", "", LadMath_U16, LadArith::Mul),
    keep(0x107, "DIVUW", "", LadMath_U16, LadArith::Div),
    keep(0x108, "MULUD", "", LadMath_U32, LadArith::Mul),
    keep(0x109, "DIVUD", "", LadMath_U32, LadArith::Div),
    keep(0x121, "ADDU",  "k", LadMath_Typed, LadArith::Add),
    keep(0x122, "SUBU", "k", LadMath_Typed, LadArith::Sub),
    keep(0x123, "SQRTU", "k", LadMath_Typed, LadArith::Sqrt),
    keep(0x124, "MODU",  "k", LadMath_Typed, LadArith::Mod),
    // Floating point.
    keep(0x080, "ADDF",  "", LadMath_Float, LadArith::Add),
    keep(0x081, "SUBF",  "", LadMath_Float, LadArith::Sub),
    keep(0x082, "MULF",  "", LadMath_Float, LadArith::Mul),
    keep(0x083, "DIVF",  "", LadMath_Float, LadArith::Div),
    keep(0x093, "MODF",  "", LadMath_Float, LadArith::Mod),
    keep(0x095, "POWF",  "", LadMath_Float, LadArith::Pow),
    keep(0x092, "ABSF",  "", LadMath_FloatFn, LadFn::Abs),
    keep(0x094, "SQRTF", "", LadMath_FloatFn, LadFn::Sqrt),
    keep(0x096, "LOGF",  "", LadMath_FloatFn, LadFn::Log),
    keep(0x098, "LNF",   "", LadMath_FloatFn, LadFn::Ln),
    keep(0x097, "EXPF",  "", LadMath_FloatFn, LadFn::Exp),
    keep(0x099, "SINF",  "", LadMath_FloatFn, LadFn::Sin),
    keep(0x09A, "COSF",  "", LadMath_FloatFn, LadFn::Cos),
    keep(0x09B, "TANF",  "", LadMath_FloatFn, LadFn::Tan),
    keep(0x09C, "ASINF", "", LadMath_FloatFn, LadFn::Asin),
    keep(0x09D, "ACOSF", "", LadMath_FloatFn, LadFn::Acos),
    keep(0x09E, "ATANF", "", LadMath_FloatFn, LadFn::Atan),
    keep(0x06C, "RADF",  "", LadMath_FloatFn, LadFn::Rad),
    keep(0x06D, "DEGF",  "", LadMath_FloatFn, LadFn::Deg),
    // Bit-wise logic, shifts and rotations.
    keep(0x064, "ANDW", "", LadMath_Bits16, LadBits::And),
    keep(0x065, "ORW",  "", LadMath_Bits16, LadBits::Or),
    keep(0x066, "XORW", "", LadMath_Bits16, LadBits::Xor),
    keep(0x067, "NOTW", "", LadMath_Bits16, LadBits::Not),
    keep(0x068, "ANDD", "", LadMath_Bits32, LadBits::And),
    keep(0x069, "ORD",  "", LadMath_Bits32, LadBits::Or),
    keep(0x06A, "XORD", "", LadMath_Bits32, LadBits::Xor),
    keep(0x06B, "NOTD", "", LadMath_Bits32, LadBits::Not),
    keep(0x06E, "SHLW", "", LadMath_Bits16, LadBits::Shl),
    keep(0x06F, "SHRW", "", LadMath_Bits16, LadBits::Shr),
    keep(0x070, "ROLW", "", LadMath_Bits16, LadBits::Rol),
    keep(0x071, "RORW", "", LadMath_Bits16, LadBits::Ror),
    keep(0x072, "SHLD", "", LadMath_Bits32, LadBits::Shl),
    keep(0x073, "SHRD", "", LadMath_Bits32, LadBits::Shr),
    keep(0x074, "ROLD", "", LadMath_Bits32, LadBits::Rol),
    keep(0x075, "RORD", "", LadMath_Bits32, LadBits::Ror),
    keep(0x10E, "SHLB", "", LadMath_Bits8, LadBits::Shl),
    keep(0x10F, "SHRB", "", LadMath_Bits8, LadBits::Shr),
    keep(0x110, "ROLB", "", LadMath_Bits8, LadBits::Rol),
    keep(0x111, "RORB", "", LadMath_Bits8, LadBits::Ror),
    // Comparisons and range tests.
    keep(0x0A0, "EQW", "", LadMath_CmpW, LadRel::Eq),
    keep(0x0A1, "NEW", "", LadMath_CmpW, LadRel::Ne),
    keep(0x0A2, "LTW", "", LadMath_CmpW, LadRel::Lt),
    keep(0x0A3, "GTW", "", LadMath_CmpW, LadRel::Gt),
    keep(0x0A4, "LEW", "", LadMath_CmpW, LadRel::Le),
    keep(0x0A5, "GEW", "", LadMath_CmpW, LadRel::Ge),
    keep(0x0A6, "EQD", "", LadMath_CmpD, LadRel::Eq),
    keep(0x0A7, "NED", "", LadMath_CmpD, LadRel::Ne),
    keep(0x0A8, "LTD", "", LadMath_CmpD, LadRel::Lt),
    keep(0x0A9, "GTD", "", LadMath_CmpD, LadRel::Gt),
    keep(0x0AA, "LED", "", LadMath_CmpD, LadRel::Le),
    keep(0x0AB, "GED", "", LadMath_CmpD, LadRel::Ge),
    keep(0x0AC, "EQF", "", LadMath_CmpF, LadRel::Eq),
    keep(0x0AD, "NEF", "", LadMath_CmpF, LadRel::Ne),
    keep(0x0AE, "LTF", "", LadMath_CmpF, LadRel::Lt),
    keep(0x0AF, "GTF", "", LadMath_CmpF, LadRel::Gt),
    keep(0x0B0, "LEF", "", LadMath_CmpF, LadRel::Le),
    keep(0x0B1, "GEF", "", LadMath_CmpF, LadRel::Ge),
    keep(0x118, "GTUB", "", LadMath_CmpUB, LadRel::Gt),
    keep(0x119, "GEUB", "", LadMath_CmpUB, LadRel::Ge),
    keep(0x11A, "GTUW", "", LadMath_CmpUW, LadRel::Gt),
    keep(0x11B, "GEUW", "", LadMath_CmpUW, LadRel::Ge),
    keep(0x11C, "GTUD", "", LadMath_CmpUD, LadRel::Gt),
    keep(0x11D, "GEUD", "", LadMath_CmpUD, LadRel::Ge),
    keep(0x11E, "EQSB", "", LadMath_CmpSB, LadRel::Eq),
    keep(0x11F, "GTSB", "", LadMath_CmpSB, LadRel::Gt),
    keep(0x120, "GESB", "", LadMath_CmpSB, LadRel::Ge),
    keep(0x0C0, "RNGW", "", LadMath_Range, LadType::Word),
    keep(0x0C1, "RNGD", "", LadMath_Range, LadType::Dword),
    keep(0x0C2, "RNGF", "", LadMath_Range, LadType::Float),
    // Indexed and pointer access.
    row(0x154, "LDIX",  "bw", LadMove_Indexed, 0, 1, N, LadAccess::LoadBit),
    row(0x155, "OUTIX", "bw", LadMove_Indexed, 1, 0, N, LadAccess::StoreBit),
    keep(0x156, "LDIXB", "yw", LadMove_Indexed, LadAccess::LoadByte),
    keep(0x157, "STIXB", "yw", LadMove_Indexed, LadAccess::StoreByte),
    keep(0x158, "LDIXW", "ww", LadMove_Indexed, LadAccess::LoadWord),
    keep(0x159, "STIXW", "ww", LadMove_Indexed, LadAccess::StoreWord),
    keep(0x15A, "LDIXD", "dw", LadMove_Indexed, LadAccess::LoadDword),
    keep(0x15B, "STIXD", "dw", LadMove_Indexed, LadAccess::StoreDword),
    keep(0x15F, "LDPB",  "dk", LadMove_Pointer, LadAccess::LoadByte),
    keep(0x160, "LDPW",  "dk", LadMove_Pointer, LadAccess::LoadWord),
    keep(0x161, "LDPD",  "dk", LadMove_Pointer, LadAccess::LoadDword),
    row(0x162, "LDPX",   "dk", LadMove_Pointer, 0, 1, N, LadAccess::LoadBit),
    keep(0x163, "STPB",  "dk", LadMove_Pointer, LadAccess::StoreByte),
    keep(0x164, "STPW",  "dk", LadMove_Pointer, LadAccess::StoreWord),
    keep(0x165, "STPD",  "dk", LadMove_Pointer, LadAccess::StoreDword),
    row(0x166, "OUTP",   "dk", LadMove_Pointer, 1, 0, N, LadAccess::StoreBit),
    row(0x168, "EQ1",    "w",  LadMove_EqualsOne, 0, 1),
    row(0x15E, "PTR15E", "?", op_skip_operands, -1),
    row(0x167, "PTR167", "?", op_skip_operands, -1),
    row(0x169, "PTR169", "?", op_skip_operands, -1),
    row(0x16A, "PTR16A", "?", op_skip_operands, -1),
    row(0x16B, "PTR16B", "?", op_skip_operands, -1),
    row(0x16C, "PTR16C", "?", op_skip_operands, -1),
    row(0x16D, "PTR16D", "?", op_skip_operands, -1),

    // Strings and blocks.
    keep(0x0B2, "CMPB",   "kyy", LadStr_Bytes, LadBytes::Compare),
    keep(0x0B3, "CMPBK",  "Lys", LadStr_InlineBytes, LadBytes::Compare),
    keep(0x0B6, "CPYB",   "kyy", LadStr_Bytes, LadBytes::Copy),
    keep(0x0B7, "CPYBK",  "Lys", LadStr_InlineBytes, LadBytes::Copy),
    keep(0x0B8, "ATOV",   "wyk", LadStr_TextToValue),
    keep(0x0BB, "FMT",    "ywkkkt", LadStr_Format),
    keep(0x0BC, "STRLEN", "wy", LadStr_Length), keep(0x190, "U64TOA", "yq", LadStr_U64ToText),
    keep(0x1F9, "BMOVP",  "ddk", LadStr_BlockMove),
    keep(0x1FA, "BLK1FA", "ddk", LadStr_NotOnPanel),
    keep(0x1FB, "BLK1FB", "ddk", LadStr_NotOnPanel),
    keep(0x1FC, "BLK1FC", "ddk", LadStr_NotOnPanel),
    keep(0x1FD, "BLK1FD", "ddk", LadStr_NotOnPanel),
    keep(0x1FE, "BLK1FE", "ddk", LadStr_NotOnPanel),
    keep(0x1FF, "BLK1FF", "ddk", LadStr_NotOnPanel),
    keep(0x200, "SAPP",  "dd", LadStr_String, LadString::Append),
    keep(0x201, "SEQ",   "dd", LadStr_String, LadString::Equal),
    keep(0x202, "SCMP1", "dd", LadStr_String, LadString::Greater),
    keep(0x203, "SCMP2", "dd", LadStr_String, LadString::GreaterEq),
    keep(0x204, "SATOF",  "dd", LadStr_String, LadString::ToReal),
    keep(0x205, "SMID",   "ddkk", LadStr_String, LadString::Mid),
    keep(0x206, "SCOPY",  "ddk", LadStr_String, LadString::Copy),
    keep(0x207, "SATOLF", "qd", LadStr_String, LadString::ToLreal),
    keep(0x209, "STR209", "dd", LadStr_String, LadString::NotOnPanel),
    keep(0x20A, "STR20A", "dd", LadStr_String, LadString::NotOnPanel),
    // Clock, position, keys, network, %R blocks.
    keep(0x0E6, "RTCSET",  "w", LadStr_SetClock), keep(0x208, "RTCSETP", "d", LadStr_SetClockAt),
    keep(0x0F4, "SUNPOS",  "wdddd", LadStr_SunPosition),
    svc(0x187, "KEYPRESS", "?", -1),
    svc(0x220, "NODEID", "v"),
    svc(0x058, "GDPUT", "wvwk"), svc(0x059, "GDGET", "wvwk"),
    svc(0x0D8, "HBSET", "wvk"), svc(0x0D9, "HBGET", "wvk"),
    row(0x05B, "RBLK05B",  "?", LadStr_RBlock, -1, 0, N, LadRBlock::Fill),
    row(0x061, "RBLK061", "?", LadStr_RBlock, -1, 0, N, LadRBlock::ToOperand),
    row(0x062, "RBLK062",  "?", LadStr_RBlock, -1, 0, N, LadRBlock::FromOperand),
    row(0x063, "RBLK063", "?", LadStr_RBlock, -1, 0, N, LadRBlock::Compare),
    keep(0x180, "BLK180",  "xxxxxxx", LadStr_Skip7),

    // Timers and counters.
    keep(0x0C8, "UPCNT",  "bww", op_counters), keep(0x0C9, "UPCNTK", "bwk", op_counters),
    keep(0x0CA, "DNCNT",  "bww", op_counters), keep(0x0CB, "DNCNTK", "bwk", op_counters),
    row(0x0C7, "CNT32",   "?",   op_counters32, -1),
    keep(0x0CC, "TON_10MS",   "ww",  op_timers), keep(0x0CD, "TON_10MS_K",  "wk",  op_timers),
    keep(0x0CE, "TOF_10MS",   "ww",  op_timers), keep(0x0CF, "TOF_10MS_K",  "wk",  op_timers),
    keep(0x0D0, "TON_100MS",  "ww",  op_timers), keep(0x0D1, "TON_100MS_K", "wk",  op_timers),
    keep(0x0D2, "TOF_100MS",  "ww",  op_timers), keep(0x0D3, "TOF_100MS_K", "wk",  op_timers),
    keep(0x0D4, "RTO_10MS",   "bww", op_timers), keep(0x0D5, "RTO_10MS_K",  "bwk", op_timers),
    keep(0x0D6, "RTO_100MS",  "bww", op_timers), keep(0x0D7, "RTO_100MS_K", "bwk", op_timers),
    keep(0x1CA, "RTO_1S",     "bww", op_timers), keep(0x1CB, "RTO_1S_K",    "bwk", op_timers),
    keep(0x1CC, "TON_1S",     "ww",  op_timers), keep(0x1CD, "TON_1S_K",    "wk",  op_timers),
    keep(0x1CE, "TOF_1S",     "ww",  op_timers), keep(0x1CF, "TOF_1S_K",    "wk",  op_timers),
    keep(0x1DA, "RTO_1MS",    "bww", op_timers), keep(0x1DB, "RTO_1MS_K",   "bwk", op_timers),
    keep(0x1DC, "TON_1MS",    "ww",  op_timers), keep(0x1DD, "TON_1MS_K",   "wk",  op_timers),
    keep(0x1DE, "TOF_1MS",    "ww",  op_timers), keep(0x1DF, "TOF_1MS_K",   "wk",  op_timers),
    keep(0x1C2, "DRTO_1S",    "bwd", op_timers32), keep(0x1C3, "DRTO_1S_K",    "bwK", op_timers32),
    keep(0x1C4, "DTON_1S",    "wd",  op_timers32), keep(0x1C5, "DTON_1S_K",    "wK",  op_timers32),
    keep(0x1C6, "DTOF_1S",    "wd",  op_timers32), keep(0x1C7, "DTOF_1S_K",    "wK",  op_timers32),
    keep(0x1D2, "DRTO_1MS",   "bwd", op_timers32), keep(0x1D3, "DRTO_1MS_K",   "bwK", op_timers32),
    keep(0x1D4, "DTON_1MS",   "wd",  op_timers32), keep(0x1D5, "DTON_1MS_K",   "wK",  op_timers32),
    keep(0x1D6, "DTOF_1MS",   "wd",  op_timers32), keep(0x1D7, "DTOF_1MS_K",   "wK",  op_timers32),
    keep(0x1E2, "DRTO_10MS",  "bwd", op_timers32), keep(0x1E3, "DRTO_10MS_K",  "bwK", op_timers32),
    keep(0x1E4, "DTON_10MS",  "wd",  op_timers32), keep(0x1E5, "DTON_10MS_K",  "wK",  op_timers32),
    keep(0x1E6, "DTOF_10MS",  "wd",  op_timers32), keep(0x1E7, "DTOF_10MS_K",  "wK",  op_timers32),
    keep(0x1F2, "DRTO_100MS", "bwd", op_timers32), keep(0x1F3, "DRTO_100MS_K", "bwK", op_timers32),
    keep(0x1F4, "DTON_100MS", "wd",  op_timers32), keep(0x1F5, "DTON_100MS_K", "wK",  op_timers32),
    keep(0x1F6, "DTOF_100MS", "wd",  op_timers32), keep(0x1F7, "DTOF_100MS_K", "wK",  op_timers32),
    // Shift and rotate, PID and alarm, schedules, LREAL, flow, files.
    row(0x076, "MSHIFT",  "?", op_shift, -1),   row(0x077, "MROT",   "?", op_rotate, -1),
    row(0x211, "MSHIFTP", "?", op_shift_p, -1), row(0x212, "MROTP",  "?", op_rotate_p, -1),
    keep(0x0F0, "PID",    "kwwwbbbw",    op_pid, 0),
    keep(0x0F1, "PIDD",   "kwwwbbbw",    op_pid, kLadPidDependent),
    keep(0x0F2, "PIDT",   "kwwwbbbbkwb", op_pid, kLadPidTune),
    keep(0x0F3, "PIDTD",  "kwwwbbbbkwb", op_pid, kLadPidTune | kLadPidDependent),
    keep(0x20B, "PIDP",   "kdwwbbbw",    op_pid, kLadPidPointer),
    keep(0x20C, "PIDPD",  "kdwwbbbw",    op_pid, kLadPidPointer | kLadPidDependent),
    keep(0x20D, "PIDPT",  "kdwwbbbbkwb", op_pid, kLadPidPointer | kLadPidTune),
    keep(0x20E, "PIDPTD", "kdwwbbbbkwb", op_pid,
         kLadPidPointer | kLadPidTune | kLadPidDependent),
    keep(0x210, "ALARM",  "xxxxxxxxx",   op_alarm),
    keep(0x172, "SCHTOD",  "VVVV", conv_b<Schedule_TimeOfDay>),
    keep(0x174, "SCHDOW",  "k",    conv_b<Schedule_DayOfWeekImm>),
    keep(0x175, "SCHDOWR", "w",    conv_b<Schedule_DayOfWeekReg>),
    keep(0x176, "SCHDOM",  "K",    conv_b<Schedule_DayOfMonthImm>),
    keep(0x177, "SCHDOMR", "d",    conv_b<Schedule_DayOfMonthReg>),
    keep(0x178, "SCHMOY",  "k",    conv_b<Schedule_MonthOfYearImm>),
    keep(0x179, "SCHMOYR", "w",    conv_b<Schedule_MonthOfYearReg>),
    keep(0x17A, "SCHYR",   "kk",   conv_b<Schedule_YearImm>),
    keep(0x17B, "SCHYRR",  "d",    conv_b<Schedule_YearReg>),
    row(0x21F, "LREAL",   "?", op_lreal, -1),
    row(0x17D, "FLOW",    "?", conv_b<Flow_Funs>, -1),
    svc(0x0F8, "FILE0", "?", -1), svc(0x0F9, "FILE1", "?", -1),
    svc(0x0FA, "FILE2", "?", -1), svc(0x0FB, "FILE3", "?", -1),
    svc(0x0FC, "FILE4", "?", -1), svc(0x0FD, "FILE5", "?", -1),
    svc(0x0FE, "FILE6", "?", -1),
    // Recipes and the communication instructions.
    svc(0x170, "RECIPE",   "?",  -1),
    svc(0x084, "TOPEN",    "?",  -1),
    svc(0x085, "TSEND",    "?",  -1),
    svc(0x086, "TRECV",    "?",  -1),
    svc(0x087, "TCLOSE",   "?",  -1),
    svc(0x088, "TMODEM",   "?",  -1),
    svc(0x089, "TMODBUS",  "?",  -1),
    svc(0x213, "TMODBUS2", "?",  -1),
    svc(0x18A, "TCOMM",    "k?", -1),
};
// clang-format on

// Codes of groups 1 and 2 that are skipped rather than stopping the scan.
constexpr uint16_t kIgnored[] = {0x042, 0x043, 0x048, 0x08A, 0x08B, 0x09F, 0x0B4,
                                 0x0B5, 0x0B9, 0x0BA, 0x0BD, 0x0BE, 0x0BF};

constexpr bool ignored(uint16_t op) {
    for (uint16_t c : kIgnored)
        if (c == op) return true;
    return false;
}

struct Table {
    std::array<LadOp, kLadContactMin> op{};
};
constexpr Table build() {
    Table t;
    for (uint16_t c = 0; c < kLadContactMin; ++c)
        t.op[c] = {nullptr, nullptr, ignored(c) ? op_ignore : op_undefined, 0, 0, N, 0, false};
    for (const Row &r : kRows) {
        t.op[r.code] = r.op;
        if (r.op.service) t.op[r.code].handler = op_service_unset;
    }
    return t;
}
// Built at compile time; only Lad_SetHandler changes it, and only the
// handlers of service rows.
constinit Table g_table = build();

// Every row lies in the opcode groups (the handlers are checked by the tests).
constexpr bool rows_sound() {
    for (const Row &r : kRows)
        if (r.code >= kLadOpcodes) return false;
    return true;
}
static_assert(rows_sound());

} // namespace

const LadOp &Lad_Op(uint16_t op) {
    return g_table.op[op < kLadContactMin ? op : 0];
}

bool Lad_Ignored(uint16_t op) {
    return ignored(op);
}

bool Lad_SetHandler(uint16_t op, LadHandler h) {
    if (op >= kLadContactMin || !g_table.op[op].service) return false;
    g_table.op[op].handler = h ? h : op_service_unset;
    return true;
}

int Lad_Opcode(const char *name) {
    for (const Row &r : kRows) {
        const char *a = r.op.name, *b = name;
        while (*a && *b && std::toupper(static_cast<unsigned char>(*b)) == *a) {
            ++a;
            ++b;
        }
        if (!*a && !*b) return r.code;
    }
    return -1;
}
