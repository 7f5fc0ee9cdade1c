// Schedule contacts: time-of-day windows, day, month and year masks, in
// ladder programs written with ladasm, and on the running clock.
#include "host/clock.h"
#include "platform/rtc.h"
#include "plc/ladder_ops.h"
#include "plc/schedule.h"
#include "support/ladder_fixture.h"
#include "system/run_ctrl.h"

#include <string>
#include <vector>

namespace {

// The clock registers %SR44-%SR50.
void clock(uint16_t hour, uint16_t minute, uint16_t day = 15, uint16_t month = 6,
           uint16_t year = 2024, uint16_t weekday = 7, uint16_t second = 30) {
    const uint16_t c[7] = {second, minute, hour, day, month, year, weekday};
    for (int i = 0; i < 7; ++i)
        sr_put(44 + i, c[i]);
}

class ScheduleTest : public LadderTest {
protected:
    // One rung: %M1 -> instruction -> %Q1; a second rung shows the scan went on.
    void rung(const std::string &instruction, const std::string &tokens = "32") {
        load(".tokens " + tokens + "\nLD %M1\n" + instruction +
             "\nOUT %Q1\nLD %M2\nOUT %Q2\nEND\n");
        set_bit("%M1", 1);
        set_bit("%M2", 1);
    }
    int run() {
        EXPECT_EQ(scan(), kLadderScanDone);
        EXPECT_EQ(bit("%Q2"), 1) << "the scan went on after the instruction";
        return bit("%Q1");
    }
};

} // namespace

TEST_F(ScheduleTest, TimeOfDayWindows) {
    struct Case {
        const char *window;
        uint16_t hour, minute;
        int on;
    };
    // clang-format off
    const Case cases[] = {
        {"22, 0, 6, 0",  23, 59, 1}, {"22, 0, 6, 0",  5, 59, 1},  {"22, 0, 6, 0", 6, 0, 0},
        {"22, 0, 6, 0",  21, 59, 0}, {"22, 0, 6, 0",  22, 0, 1},  {"22, 0, 6, 0", 0, 0, 1},
        {"8, 30, 17, 0", 8, 29, 0},  {"8, 30, 17, 0", 8, 30, 1},  {"8, 30, 17, 0", 16, 59, 1},
        {"8, 30, 17, 0", 17, 0, 0},
        {"8, 0, 8, 0",   8, 0, 0},   {"8, 0, 8, 0",   12, 0, 0},  // an empty window
        {"0, 0, 24, 0",  12, 0, 0},  {"0, 60, 1, 0",  0, 30, 0},  // out of range: never
        {"%R1, %R2, %R3, %R4", 23, 15, 1}, {"%R1, %R2, %R3, %R4", 1, 0, 0},
    };
    // clang-format on
    set_word("%R1", 23);
    set_word("%R2", 10);
    set_word("%R3", 0);
    set_word("%R4", 45);
    for (const char *tokens : {"16", "32"}) {
        for (const Case &c : cases) {
            SCOPED_TRACE(std::string(c.window) + " at " + std::to_string(c.hour) + ":" +
                         std::to_string(c.minute) + ", tokens " + tokens);
            rung(std::string("SCHTOD ") + c.window, tokens);
            clock(c.hour, c.minute, 15, 6, 2024, 7, 59);
            EXPECT_EQ(run(), c.on);
        }
    }
}

TEST_F(ScheduleTest, DayMonthAndYearMasks) {
    struct Case {
        const char *instruction;
        uint16_t day, month, year, weekday;
        int on;
    };
    // clang-format off
    const Case cases[] = {
        {"SCHDOW 0x41",  1, 1, 2024, 1, 1}, {"SCHDOW 0x41", 1, 1, 2024, 7, 1},
        {"SCHDOW 0x41",  1, 1, 2024, 2, 0}, {"SCHDOW 0x41", 1, 1, 2024, 0, 0},
        {"SCHDOW 0xFF",  1, 1, 2024, 1, 0}, {"SCHDOW 128",  1, 1, 2024, 8, 0},
        {"SCHDOWR %R10", 1, 1, 2024, 7, 1}, {"SCHDOWR %R10", 1, 1, 2024, 3, 0},
        {"SCHDOM K32 0x40000000", 31, 1, 2024, 1, 1}, {"SCHDOM K32 0x40000000", 30, 1, 2024, 1, 0},
        {"SCHDOM K32 0x80000000", 31, 1, 2024, 1, 0}, {"SCHDOM K32 0xC0000001", 1, 1, 2024, 1, 0},
        {"SCHDOM K32 1", 1, 1, 2024, 1, 1},           {"SCHDOM K32 0xFFFFFFFF", 32, 1, 2024, 1, 0},
        {"SCHDOMR %R20", 31, 5, 2024, 1, 1},          {"SCHDOMR %R20", 2, 5, 2024, 1, 0},
        {"SCHMOY 0x801", 1, 1, 2024, 1, 1},  {"SCHMOY 0x801", 1, 12, 2024, 1, 1},
        {"SCHMOY 0x801", 1, 6, 2024, 1, 0},  {"SCHMOY 0x1001", 1, 1, 2024, 1, 0},
        {"SCHMOY 0xFFF", 1, 13, 2024, 1, 0}, {"SCHMOYR %R30", 1, 7, 2024, 1, 1},
        {"SCHYR 2020, 2020", 1, 1, 2020, 1, 1}, {"SCHYR 2020, 2020", 31, 12, 2019, 1, 0},
        {"SCHYR 2020, 2020", 1, 1, 2021, 1, 0}, {"SCHYR 1999, 2030", 1, 1, 2020, 1, 0},
        {"SCHYR 2000, 2101", 1, 1, 2020, 1, 0}, {"SCHYR 2000, 2100", 1, 1, 2100, 1, 1},
        {"SCHYRR %R40", 1, 1, 2026, 1, 1},      {"SCHYRR %R40", 1, 1, 2027, 1, 0},
    };
    // clang-format on
    set_word("%R10", 0x40);   // Saturday
    set_word("%R20", 0x0000); // days 31 (bit 30, high word) only
    set_word("%R21", 0x4000);
    set_word("%R30", 0x40); // July
    set_word("%R40", 2024);
    set_word("%R41", 2026);
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.instruction) + " on " + std::to_string(c.day) + "." +
                     std::to_string(c.month) + "." + std::to_string(c.year) + " weekday " +
                     std::to_string(c.weekday));
        rung(c.instruction);
        clock(12, 0, c.day, c.month, c.year, c.weekday);
        EXPECT_EQ(run(), c.on);
    }
}

TEST_F(ScheduleTest, WithoutPowerFlowEveryScheduleIsOffAndConsumesItsOperands) {
    clock(12, 0, 31, 12, 2024, 3);
    set_word("%R10", 0xFFFF);
    set_word("%R11", 0x7FFF);
    for (const char *tokens : {"16", "32"}) {
        for (const char *instruction :
             {"SCHTOD 0, 0, 23, 59", "SCHTOD %R1, 0, %SR46, 59", "SCHDOW 0x7F", "SCHDOWR %R32",
              "SCHDOM K32 0x7FFFFFFF", "SCHDOMR %R10", "SCHMOY 0xFFF", "SCHMOYR %R30",
              "SCHYR 2024, 2024", "SCHYRR %R40"}) {
            SCOPED_TRACE(std::string(instruction) + ", tokens " + tokens);
            set_word("%R1", 0);
            set_word("%R30", 0xFFF);
            set_word("%R32", 0x7F);
            set_word("%R40", 2024);
            set_word("%R41", 2024);
            rung(instruction, tokens);
            EXPECT_EQ(run(), 1) << "matches with power";
            set_bit("%M1", 0);
            EXPECT_EQ(run(), 0);
        }
    }
}

TEST_F(ScheduleTest, IecEntriesTakePlainValues) {
    clock(23, 30, 31, 12, 2024, 3);
    EXPECT_EQ(TrSchedule_TimeOfDay(22, 0, 6, 0), 1);
    EXPECT_EQ(TrSchedule_TimeOfDay(22, 0, 23, 30), 0);
    EXPECT_EQ(TrSchedule_TimeOfDay(24, 0, 23, 59), 0);
    EXPECT_EQ(TrSchedule_DayOfWeek(0x04), 1);
    EXPECT_EQ(TrSchedule_DayOfWeek(0x84), 0);
    EXPECT_EQ(TrSchedule_DayOfMonth(0x40000000), 1);
    EXPECT_EQ(TrSchedule_DayOfMonth(-1), 0);
    EXPECT_EQ(TrSchedule_MonthOfYear(0x800), 1);
    EXPECT_EQ(TrSchedule_MonthOfYear(0x1800), 0);
    const uint16_t years[2] = {2024, 2024}, early[2] = {1999, 2024};
    EXPECT_EQ(TrSchedule_Year(years), 1);
    EXPECT_EQ(TrSchedule_Year(early), 0);
}

TEST_F(ScheduleTest, TheLoadCheckKnowsTheOperandsAndLadasmWritesThemBack) {
    const std::string source = "LD %M1\nSCHTOD 22, %R7, 6, 0\nSCHDOW 0x41\nSCHDOWR %R10\n"
                               "SCHDOM K32 0x40000001\nSCHDOMR %R20\nSCHMOY 0x801\nSCHMOYR %R30\n"
                               "SCHYR 2020, 2030\nSCHYRR %R40\nOUT %Q1\nEND\n";
    for (const char *tokens : {".tokens 16\n", ".tokens 32\n"}) {
        SCOPED_TRACE(tokens);
        load(tokens + source);
        EXPECT_EQ(Ladder_Check(program.data(), uint32_t(program.size()), tokens[8] == '1'),
                  kLadderScanDone);
        std::string text = Ladasm_Disassemble(program.data(), program.size());
        EXPECT_NE(text.find("SCHTOD  22, %R7, 6, 0"), std::string::npos) << text;
        std::vector<uint8_t> again;
        std::string error;
        ASSERT_TRUE(Ladasm_Assemble(text, &again, &error)) << error;
        EXPECT_EQ(again, program);
    }
    // A value operand of 1024 or more is a register and must lie in the image.
    std::vector<uint8_t> bad;
    std::string error;
    ASSERT_TRUE(
        Ladasm_Assemble("LD %M1\nSCHTOD @0x7FFFFFF0, 0, 6, 0\nOUT %Q1\nEND\n", &bad, &error))
        << error;
    EXPECT_EQ(Ladder_Check(bad.data(), uint32_t(bad.size()), false), 4) << "at its first operand";
    EXPECT_FALSE(Ladasm_Assemble("SCHTOD 1024, 0, 6, 0\nEND\n", &bad, &error))
        << "numbers stop at 1023";
}

// The control scan keeps the clock registers current from the clock chip, so
// the rungs switch at the right minute of the virtual clock.
TEST_F(ScheduleTest, RungsSwitchAtTheRightVirtualMinute) {
    load("LD %M1\nSCHTOD 23, 59, 0, 1\nOUT %Q1\nLD %M1\nSCHYR 2025, 2025\nOUT %Q2\n"
         "LD %M1\nSCHDOW 0x08\nOUT %Q3\nEND\n"); // %Q3: Wednesdays (1 January 2025)
    set_bit("%M1", 1);
    const uint16_t start[7] = {30, 58, 23, 31, 12, 2024, 0};
    ASSERT_EQ(RtcSet(start), 1);
    SetPlcMode(2);
    std::vector<int> q1_on, q1_off, q2_on, q3_on;
    int q1 = 0, q2 = 0, q3 = 0;
    for (int second = 1; second <= 200; ++second) {
        host::clock_advance_ms(1000);
        PlcScan();
        if (bit("%Q1") != q1) (q1 ? q1_off : q1_on).push_back(second);
        if (bit("%Q2") != q2) q2_on.push_back(second);
        if (bit("%Q3") != q3) q3_on.push_back(second);
        q1 = bit("%Q1");
        q2 = bit("%Q2");
        q3 = bit("%Q3");
    }
    EXPECT_EQ(q1_on, std::vector<int>{30}) << "23:59:00";
    EXPECT_EQ(q1_off, std::vector<int>{150}) << "00:01:00";
    EXPECT_EQ(q2_on, std::vector<int>{90}) << "the new year";
    EXPECT_EQ(q3_on, std::vector<int>{90}) << "the new day, a Wednesday";
}
