// Decoding of instructions by their operand shapes, and the check of a whole
// program before it runs.
#include "base/le.h"
#include "plc/appblocks.h"
#include "plc/ladder.h"
#include "plc/ladder_ops.h"
#include "regs/plc_reg.h"

#include <set>
#include <string_view>
#include <vector>

namespace {
constexpr uint32_t kAreaEnd = reg::kESR + 0x200; // %IG .. end of %ESR
// Largest program a control program block holds.
constexpr uint32_t kLadderMaxBytes = 4194304 - 8;

struct Fold {
    uint32_t first, last, minus;
};
constexpr Fold kFolds[] = {
    {0x10008000u, 0x1000BFFFu, 0x0FF3BC00u}, // %ET
    {0x1001C000u, 0x1001FFFFu, 0x0FF4BC00u}, // %EM
    {0x10030000u, 0x10030FFFu, 0x0FF5BC00u}, // %ESR
};

} // namespace

uint32_t Lad_Fold(uint32_t ref32) {
    for (const Fold &f : kFolds)
        if (ref32 >= f.first && ref32 <= f.last) return ref32 - f.minus;
    return ref32;
}

bool Lad_RefValid(uint32_t ref, uint32_t bits) {
    if (ref < 1024) return false;
    uint64_t bit = ref - 1024u;
    uint64_t offset = bits >= 16 ? (bit / 16) * 2 : bit / 8;
    uint64_t len = bits >= 16 ? bits / 8 : 1;
    return offset + len <= kAreaEnd;
}

uint32_t Ladder_Bytes() {
    if (!ladder_bl) return 0;
    uint32_t n = le32(ladder_bl + 4);
    return n > kLadderMaxBytes ? kLadderMaxBytes : n;
}

LadDecode Lad_Decode(const uint8_t *prog, uint32_t words, uint32_t pos, bool tokens16,
                     LadInstr *out) {
    *out = LadInstr{};
    out->pos = pos;
    if (pos >= words) return LadDecode::Truncated;
    uint32_t at = pos;
    auto word = [&](uint32_t i) { return le16(prog + 2 * i); };
    uint16_t w = word(at++);
    out->op = w;
    out->words = 1;
    if (w >= kLadContactMin) {
        out->contact = true;
        return LadDecode::Ok;
    }
    const LadOp &op = Lad_Op(w);
    if (!op.name) return LadDecode::Ok;
    uint32_t inline_bytes = 0;
    LadDecode result = LadDecode::Ok;
    for (const char *s = op.shape; *s; ++s) {
        if (*s == '?') {
            out->opaque = true;
            break;
        }
        if (out->count >= kLadMaxOperands) break;
        LadOperand &o = out->operand[out->count];
        o.kind = *s;
        o.pos = at;
        uint32_t need;
        switch (*s) {
        case 'b':
        case 'w':
        case 'y':
        case 'd':
        case 'q':
        case 'V':
            need = tokens16 ? 1 : 2;
            break;
        case 'K':
        case 'J':
            need = 2;
            break;
        case 'Q':
            need = 4;
            break;
        case 's':
            need = (inline_bytes + 1) / 2;
            break;
        case 't':
            need = 10;
            break;
        default:
            need = 1;
            break;
        }
        if (uint64_t(at) + need > words) return LadDecode::Truncated;
        // Inline bytes of length 0 take no word at all.
        o.raw = need >= 2 ? le32(prog + 2 * at) : need == 1 ? word(at) : 0;
        switch (*s) {
        case 'b':
            o.value = tokens16 ? word(at) : Lad_Fold(le32(prog + 2 * at));
            break;
        case 'w':
        case 'y':
        case 'd':
        case 'q':
        case 'V':
            if (!tokens16) {
                o.value = Lad_Fold(le32(prog + 2 * at));
            } else if (word(at) == kLadEscape1 || word(at) == kLadEscape2) {
                if (uint64_t(at) + 2 > words) return LadDecode::Truncated;
                o.value = (word(at) == kLadEscape1 ? 0x10000u : 0x20000u) + word(at + 1);
                o.escape = true;
                need = 2;
            } else {
                o.value = word(at);
            }
            break;
        case 'r':
            o.value = word(at);
            break;
        case 'K':
            o.value = le32(prog + 2 * at);
            break;
        case 'Q':
            o.value = le32(prog + 2 * at);
            break;
        case 'j':
            o.value = uint32_t(int64_t(at) + 1 + int16_t(word(at)));
            break;
        case 'J':
            o.value = uint32_t(int64_t(at) + 2 + int32_t(le32(prog + 2 * at)));
            break;
        case 'n':
            o.value = word(at);
            break;
        case 'L':
            o.value = inline_bytes = word(at);
            break;
        case 's':
            o.value = inline_bytes;
            break;
        default:
            o.value = word(at);
            break;
        }
        o.words = need;
        at += need;
        out->words = at - pos;
        out->count++;
        if (result != LadDecode::Ok) continue;
        bool is_ref = std::string_view("bwydqr").find(*s) != std::string_view::npos;
        if (is_ref && !Lad_RefValid(o.value, Lad_OperandBits(*s))) result = LadDecode::BadReference;
        if (*s == 'v' && o.value > 1024 && !Lad_RefValid(o.value, 16))
            result = LadDecode::BadReference;
        if (*s == 'V' && o.value >= 1024 && !Lad_RefValid(o.value, 16))
            result = LadDecode::BadReference;
        if (*s == 'j' || *s == 'J') {
            int64_t target = *s == 'j' ? int64_t(at) + int16_t(word(o.pos))
                                       : int64_t(at) + int32_t(le32(prog + 2 * o.pos));
            if (target < 0 || target >= int64_t(words)) result = LadDecode::BadTarget;
        }
        if (result != LadDecode::Ok) {
            // Report at the operand: the interpreter stops after reading it.
            out->words = at - pos;
            return result;
        }
    }
    return result;
}

void Ladder_SkipOperands(uint32_t *pc) {
    LadInstr ins;
    if (*pc == 0 || *pc > lad_words ||
        Lad_Decode(lad_prog, lad_words, *pc - 1, RegTokLen_16b != 0, &ins) != LadDecode::Ok ||
        ins.opaque || ins.contact) {
        lad_fault = 1;
        return;
    }
    *pc = ins.pos + ins.words;
}

namespace {

using Mask = uint32_t; // bit d: the logic stack may hold d entries here
constexpr Mask kAllDepths = (Mask(1) << (kLogicStackSize + 1)) - 1;

// Depth set after popping `pops` and pushing `pushes`; false when some depth
// would underflow or overflow.
bool apply(Mask in, int pops, int pushes, Mask *out) {
    if (in & ((Mask(1) << pops) - 1)) return false; // fewer entries than popped
    Mask m = in >> pops;
    m <<= pushes;
    if (m & ~kAllDepths) return false;
    *out = m;
    return true;
}

class Checker {
public:
    Checker(const uint8_t *prog, uint32_t words, bool tokens16)
        : prog_(prog), words_(words), tokens16_(tokens16), depth_(words, 0), sure_(words, 0),
          role_(words, 0) {}

    int32_t run() {
        if (words_ == 0) return 0;
        reach(0, 1, false);
        // In program order, so that the fault reported is the first one met.
        while (!work_.empty()) {
            uint32_t pos = *work_.begin();
            work_.erase(work_.begin());
            int32_t r = step(pos);
            if (r != kLadderScanDone) return r;
        }
        return kLadderScanDone;
    }

private:
    enum : uint8_t { kNone, kStart, kOperand };

    // Returns kLadderScanDone, or a fault position. `top_true`: on this path
    // the top of the logic stack is certainly true (set by TRUE), so a
    // conditional jump or return there always goes.
    int32_t reach(uint64_t pos, Mask m, bool top_true) {
        if (pos >= words_) return int32_t(words_); // runs off the end
        uint8_t sure = sure_[pos] == 0 ? (top_true ? 2 : 1) : (sure_[pos] == 2 && top_true ? 2 : 1);
        Mask now = depth_[pos] | m;
        if (now != depth_[pos] || sure != sure_[pos]) {
            depth_[pos] = now;
            sure_[pos] = sure;
            work_.insert(uint32_t(pos));
        }
        return kLadderScanDone;
    }

    int32_t step(uint32_t pos) {
        LadInstr ins;
        LadDecode d = Lad_Decode(prog_, words_, pos, tokens16_, &ins);
        if (d == LadDecode::Truncated) return int32_t(words_);
        uint32_t end = pos + ins.words; // words read: the stop position of this instruction
        if (d != LadDecode::Ok) return int32_t(end);
        if (role_[pos] == kOperand) return int32_t(pos + 1);
        role_[pos] = kStart;
        for (uint32_t i = pos + 1; i < end; ++i) {
            if (role_[i] == kStart) return int32_t(i + 1);
            role_[i] = kOperand;
        }
        Mask in = depth_[pos];
        bool top_true = sure_[pos] == 2;
        if (ins.contact) {
            Mask out;
            if (!apply(in, 0, 1, &out)) return int32_t(end);
            return reach(end, out, false);
        }
        const LadOp &op = Lad_Op(ins.op);
        if (!op.name) {
            if (Lad_Ignored(ins.op)) return reach(end, in, top_true);
            return int32_t(pos + 1); // undefined opcode
        }
        // Operands only the handler knows: checked at run time.
        if (ins.opaque || op.pops < 0) return kLadderScanDone;
        Mask out;
        if (!apply(in, op.pops, op.pushes, &out)) return int32_t(end);
        switch (op.flow) {
        case LadFlow::End:
            return kLadderScanDone;
        case LadFlow::Next:
            return reach(end, out, ins.op == kLadTrue);
        case LadFlow::Jump:
            return both(top_true ? kLadderScanDone : reach(end, out, false),
                        reach(ins.operand[0].value, out, false));
        case LadFlow::Skip:
            return both(reach(end, out, top_true),
                        top_true ? kLadderScanDone
                                 : reach(uint64_t(end) + ins.operand[0].value, out, false));
        case LadFlow::Call:
            calls_.push_back(end);
            return both(both(top_true ? kLadderScanDone : reach(end, out, false),
                             returns_ ? reach(end, returns_, false) : kLadderScanDone),
                        reach(ins.operand[0].value, out, false));
        case LadFlow::Return:
            if ((returns_ | out) != returns_) {
                returns_ |= out;
                for (uint32_t c : calls_) {
                    int32_t r = reach(c, returns_, false);
                    if (r != kLadderScanDone) return r;
                }
            }
            return top_true ? kLadderScanDone : reach(end, out, false);
        }
        return kLadderScanDone;
    }
    static int32_t both(int32_t a, int32_t b) { return a != kLadderScanDone ? a : b; }

    const uint8_t *prog_;
    uint32_t words_;
    bool tokens16_;
    std::vector<Mask> depth_;
    std::vector<uint8_t> sure_; // 0 not reached, 1 top unknown, 2 top certainly true
    std::vector<uint8_t> role_;
    std::set<uint32_t> work_;
    std::vector<uint32_t> calls_; // positions after the call instructions
    Mask returns_ = 0;            // depths at which subroutines return
};

} // namespace

int32_t Ladder_Check(const uint8_t *ladder, uint32_t bytes, bool tokens16) {
    if (!ladder) bytes = 0;
    return Checker(ladder, bytes / 2, tokens16).run();
}
