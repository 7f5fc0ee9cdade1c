// The instructions of the ladder engine whose work belongs to upper
// subsystems: communication, recipes, file instructions, keys and the network
// instructions. Their rows stay in the opcode table; this file sets their
// handlers, and is the only part of the engine that reaches those subsystems.
#include "base/le.h"
#include "data/data.h"
#include "net/net.h"
#include "platform/can.h"
#include "platform/keys.h"
#include "platform/tick.h"
#include "plc/ladder.h"
#include "plc/ladder_fam.h"
#include "plc/ladder_ops.h"
#include "regs/plc_reg.h"
#include "serial/serial.h"
#include "system/run_ctrl.h"

#include <cstdlib>

namespace {

constexpr uint32_t kAreaEnd = reg::kESR + 0x200; // %IG .. end of %ESR

// Persistent state of the node-number change (NODEID).
struct NodeChange {
    int state = 0;
    uint32_t requested_at = 0; // tick of the last request
    int retry = 0;
};
NodeChange g_node;

// `n` bytes at a decoded word reference, or null when they leave the area.
uint8_t *bytes_of_word(uint32_t ref, uint32_t n) {
    if (ref < 1024) return nullptr;
    uint64_t offset = ((ref - 1024) >> 4) * 2;
    if (offset + n > kAreaEnd) return nullptr;
    return plc_reg + offset;
}

// A value-or-register word: a number up to 1024 (1023 for the network
// instructions), else the 16-bit content of the word it references.
uint16_t value_or_register(uint16_t word, uint16_t limit) {
    if (word <= limit) return word;
    const uint8_t *p = Lad_Word16(word);
    return p ? le16(p) : 0;
}

// ---------------------------------------------------------------------------
// Network instructions.

// Global words of a node: digital (in %IG/%QG) or analog (in %AIG/%AQG), at
// the word index of the reference within its area; -1 when the reference is
// in neither.
int global_index(uint32_t ref, bool *analog) {
    if (ref < 1024) return -1;
    uint32_t offset = ((ref - 1024) >> 4) * 2;
    if (offset >= reg::kIG && offset < reg::kS) { // %IG, %QG
        *analog = false;
        return int(((offset - reg::kIG) % (reg::kQG - reg::kIG)) / 2);
    }
    if (offset >= reg::kAIG && offset < reg::kSR) { // %AIG, %AQG
        *analog = true;
        return int(((offset - reg::kAIG) % (reg::kAQG - reg::kAIG)) / 2);
    }
    return -1;
}

void global_data(bool get) {
    uint32_t local_ref = Lad_WordRef(&lad_pc);
    uint16_t node_word = Lad_Word(&lad_pc);
    uint32_t global_ref = Lad_WordRef(&lad_pc);
    uint16_t count = Lad_Word(&lad_pc);
    if (lad_fault) return;
    uint8_t &top = Lad_Top();
    uint8_t *local = bytes_of_word(local_ref, 2u * count);
    if (!local) {
        top = 0;
        return;
    }
    uint8_t *pending = old_reg + (local - plc_reg); // request-pending flag
    if (!top) {
        put_le16(pending, 0);
        return;
    }
    bool analog = false;
    int index = global_index(global_ref, &analog);
    int node = value_or_register(node_word, 1023);
    if (index < 0 || count == 0 || count > 32) {
        top = 0;
        return;
    }
    uint16_t words[32];
    if (get) {
        if (sbit_get(sbit::kFirstScan) || le16(pending) == 0) {
            (analog ? Net_ReqAQG : Net_ReqQG)(node);
            put_le16(pending, 1);
        }
        if (!(analog ? Net_GetAQG : Net_GetQG)(node, index, words, count)) {
            top = 0;
            return;
        }
        for (unsigned i = 0; i < count; ++i)
            put_le16(local + 2 * i, words[i]);
        return;
    }
    // Put: the registers go out as the node's global words.
    put_le16(pending, 1);
    for (unsigned i = 0; i < count; ++i)
        words[i] = le16(local + 2 * i);
    if (!(analog ? Net_QueAQG : Net_QueQG)(node, index, words, count)) top = 0;
}

void heartbeat(bool get) {
    uint32_t status_ref = Lad_WordRef(&lad_pc);
    uint16_t node_word = Lad_Word(&lad_pc);
    uint16_t period = Lad_Word(&lad_pc);
    if (lad_fault) return;
    uint8_t *status = Lad_Word16(status_ref);
    if (!status) return;
    uint16_t bit = get ? 2 : 1;
    uint8_t &top = Lad_Top();
    uint16_t st = le16(status);
    if (!top) {
        put_le16(status, uint16_t(st & ~bit));
        return;
    }
    int node = value_or_register(node_word, 1023);
    int arg = (sbit_get(sbit::kFirstScan) || !(st & bit)) ? 0 : period / 10;
    int ok;
    if (get) {
        ok = Net_GetQHB(node, arg);
    } else if (period & 1) {
        ok = Net_PutIHB(node, arg);
    } else {
        int own = sr_get(sr::kNetId), ids = sr_get(sr::kNetIdCount);
        ok = node >= own && node < own + ids ? Net_PutQHB(node, arg) : 0;
    }
    if (ok)
        put_le16(status, uint16_t(st | bit));
    else
        top = 0;
}

// NODEID: change of the panel's node number with a test for a duplicate.
void node_number() {
    uint16_t word = Lad_Word(&lad_pc);
    if (lad_fault) return;
    uint8_t &top = Lad_Top();
    if (!top) return;
    int n = value_or_register(word, 1024);
    switch (g_node.state) {
    case 0:
        g_node.requested_at = 0;
        g_node.retry = 0;
        if (n == 0 || n > 254 - int(sr_get(sr::kNetIdCount))) {
            top = 0;
            return;
        }
        top = 1;
        if (n == sr_get(sr::kNetId)) return;
        sr_put(sr::kNetId, uint16_t(n));
        Plc_NetInit();
        Net_Test(3);
        if (!(_Can_Status(0) & 0x40)) {
            Plc_StopRxHandler();
            g_node.state = 1;
        } else {
            Net_Test(5);
        }
        return;
    case 1:
        Net_ReqQG(n);
        g_node.requested_at = FPGA_GetFrt();
        g_node.state = 2;
        break;
    case 2:
        Can_Isr();
        if (!_Can_GetEvent(0, 0)) Net_RxHandler();
        if (Net_Test(2) & 0x10) {
            Net_Test(4);
            g_node.state = 3;
        } else if (FPGA_GetFrt() - g_node.requested_at > 5000) {
            // One more request after the first half second, then give up.
            g_node.state = ++g_node.retry == 1 ? 1 : 3;
        }
        break;
    default:
        Plc_ResumeRxHandler();
        if (Net_Test(2) == 128) Net_Test(6);
        g_node.state = 0;
        break;
    }
    top = 1;
}

// ---------------------------------------------------------------------------
// The handlers.

void op_global_put(uint16_t, uint8_t) {
    global_data(false);
}
void op_global_get(uint16_t, uint8_t) {
    global_data(true);
}
void op_heartbeat_set(uint16_t, uint8_t) {
    heartbeat(false);
}
void op_heartbeat_get(uint16_t, uint8_t) {
    heartbeat(true);
}
void op_node_number(uint16_t, uint8_t) {
    node_number();
}

// Program counter on the opcode word (the handler reads it again).
void op_file(uint16_t, uint8_t) {
    uint32_t pc = lad_pc - 1;
    uint8_t p = File_Access(&pc, Lad_Top());
    lad_pc = pc;
    Lad_Top() = p;
}

template <uint8_t (*F)(uint32_t *, uint8_t)> void conv_b(uint16_t, uint8_t) {
    Lad_Top() = F(&lad_pc, Lad_Top());
}
template <uint8_t (*F)(uint32_t *, uint8_t, int), int Form> void conv_b3(uint16_t, uint8_t) {
    Lad_Top() = F(&lad_pc, Lad_Top(), Form);
}
void op_comm_select(uint16_t, uint8_t) {
    uint16_t selector = Lad_Word(&lad_pc);
    if (lad_fault) return;
    if (selector == 3)
        Lad_Top() = IEC_TalkReceive(&lad_pc, Lad_Top(), 1);
    else if (selector <= 2)
        Lad_Top() = TalkSelect(&lad_pc, Lad_Top(), selector);
}

struct Service {
    const char *name; // mnemonic of the row
    LadHandler handler;
};
// clang-format off
constexpr Service kServices[] = {
    // Communication.
    {"TOPEN",    conv_b<TalkOpen>},
    {"TSEND",    conv_b3<IEC_TalkSend, 0>},
    {"TRECV",    conv_b3<IEC_TalkReceive, 0>},
    {"TCLOSE",   conv_b<TalkClose>},
    {"TMODEM",   conv_b<TalkModem>},
    {"TMODBUS",  conv_b<TalkModbus>},
    {"TMODBUS2", conv_b<IEC_TalkModbus>},
    {"TCOMM",    op_comm_select},
    // Recipes, keys.
    {"RECIPE",   conv_b<RecipeLadderBlock>},
    {"KEYPRESS", conv_b<PressKeyProcess>},
    // File instructions.
    {"FILE0", op_file}, {"FILE1", op_file}, {"FILE2", op_file}, {"FILE3", op_file},
    {"FILE4", op_file}, {"FILE5", op_file}, {"FILE6", op_file},
    // Network.
    {"GDPUT",  op_global_put},    {"GDGET",  op_global_get},
    {"HBSET",  op_heartbeat_set}, {"HBGET",  op_heartbeat_get},
    {"NODEID", op_node_number},
};
// clang-format on

void reset_services() {
    g_node = NodeChange{};
}

} // namespace

void Ladder_InstallServiceHandlers() {
    for (const Service &s : kServices) {
        int op = Lad_Opcode(s.name);
        // A name that is not a service row is a fault of this list.
        if (op < 0 || !Lad_SetHandler(uint16_t(op), s.handler)) std::abort();
    }
    Lad_SetServiceReset(reset_services);
}
