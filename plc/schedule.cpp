// Calendar contacts of the ladder program and the IEC schedule blocks.
#include "plc/schedule.h"

#include "base/le.h"
#include "plc/ladder.h"
#include "plc/ladder_fam.h"
#include "regs/plc_reg.h"

namespace {

// One reading of the clock registers per instruction.
struct Clock {
    uint16_t second, minute, hour, day, month, year, weekday;
};

Clock snapshot() {
    return {sr_get(sr::kClock),     sr_get(sr::kClock + 1), sr_get(sr::kClock + 2),
            sr_get(sr::kClock + 3), sr_get(sr::kClock + 4), sr_get(sr::kClock + 5),
            sr_get(sr::kClock + 6)};
}

bool in_window(uint16_t sh, uint16_t sm, uint16_t eh, uint16_t em, const Clock &c) {
    if (sh > 23 || eh > 23 || sm > 59 || em > 59) return false;
    int now = c.hour * 60 + c.minute, start = sh * 60 + sm, end = eh * 60 + em;
    if (start <= now && now < end) return true;
    if (end < start) return now >= start || now < end; // across midnight
    return false;
}

// Bit (value - 1) of a mask; a value of 0 or above 32 selects no bit.
bool selected(uint32_t mask, uint16_t value) {
    return value >= 1 && value <= 32 && ((mask >> (value - 1)) & 1);
}

bool weekday_in(uint32_t mask, const Clock &c) {
    return mask < 128 && selected(mask, c.weekday);
}
bool day_in(uint32_t mask, const Clock &c) {
    return !(mask & 0x80000000u) && selected(mask, c.day);
}
bool month_in(uint32_t mask, const Clock &c) {
    return mask < 4096 && selected(mask, c.month);
}
bool year_in(uint16_t start, uint16_t end, const Clock &c) {
    return start >= 2000 && end <= 2100 && start <= c.year && c.year <= end;
}

// A value operand: a register token whose decoded value below 1024 is the
// number itself, else the register's unsigned 16-bit value.
uint16_t value_operand(uint32_t *pc) {
    uint32_t v = Lad_WordRef(pc);
    if (v < 1024) return uint16_t(v);
    const uint8_t *p = Lad_Word16(v);
    return p ? le16(p) : 0;
}

uint16_t word_register(uint32_t *pc) {
    const uint8_t *p = Lad_Word16(Lad_WordRef(pc));
    return p ? le16(p) : 0;
}

// Two consecutive registers (low word first).
const uint8_t *register_pair(uint32_t *pc) {
    return Lad_Word32(Lad_WordRef(pc));
}

// The operands are consumed whatever the power flow; power passes on only
// when it came in and the clock matches.
uint8_t pass(uint8_t power, bool match) {
    return power && match && !lad_fault ? power : 0;
}

} // namespace

uint8_t Schedule_TimeOfDay(uint32_t *pc, uint8_t power) {
    uint16_t sh = value_operand(pc), sm = value_operand(pc);
    uint16_t eh = value_operand(pc), em = value_operand(pc);
    return pass(power, in_window(sh, sm, eh, em, snapshot()));
}

uint8_t Schedule_DayOfWeekImm(uint32_t *pc, uint8_t power) {
    uint16_t mask = Lad_Word(pc);
    return pass(power, weekday_in(mask, snapshot()));
}

uint8_t Schedule_DayOfWeekReg(uint32_t *pc, uint8_t power) {
    uint16_t mask = word_register(pc);
    return pass(power, weekday_in(mask, snapshot()));
}

uint8_t Schedule_DayOfMonthImm(uint32_t *pc, uint8_t power) {
    uint32_t mask = Lad_Dword(pc);
    return pass(power, day_in(mask, snapshot()));
}

uint8_t Schedule_DayOfMonthReg(uint32_t *pc, uint8_t power) {
    const uint8_t *p = register_pair(pc);
    return pass(power, p && day_in(le32(p), snapshot()));
}

uint8_t Schedule_MonthOfYearImm(uint32_t *pc, uint8_t power) {
    uint16_t mask = Lad_Word(pc);
    return pass(power, month_in(mask, snapshot()));
}

uint8_t Schedule_MonthOfYearReg(uint32_t *pc, uint8_t power) {
    uint16_t mask = word_register(pc);
    return pass(power, month_in(mask, snapshot()));
}

uint8_t Schedule_YearImm(uint32_t *pc, uint8_t power) {
    uint16_t start = Lad_Word(pc), end = Lad_Word(pc);
    return pass(power, year_in(start, end, snapshot()));
}

uint8_t Schedule_YearReg(uint32_t *pc, uint8_t power) {
    const uint8_t *p = register_pair(pc);
    return pass(power, p && year_in(le16(p), le16(p + 2), snapshot()));
}

int TrSchedule_TimeOfDay(uint16_t start_hour, uint16_t start_minute, uint16_t end_hour,
                         uint16_t end_minute) {
    return in_window(start_hour, start_minute, end_hour, end_minute, snapshot()) ? 1 : 0;
}
int TrSchedule_DayOfWeek(uint16_t mask) {
    return weekday_in(mask, snapshot()) ? 1 : 0;
}
int TrSchedule_DayOfMonth(int32_t mask) {
    return day_in(uint32_t(mask), snapshot()) ? 1 : 0;
}
int TrSchedule_MonthOfYear(uint16_t mask) {
    return month_in(mask, snapshot()) ? 1 : 0;
}
int TrSchedule_Year(const uint16_t *years) {
    return years && year_in(years[0], years[1], snapshot()) ? 1 : 0;
}
