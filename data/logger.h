// Data logger and debug log: groups of registers sampled into one shared RAM
// ring and written as CSV rows, and the modem's diagnostic texts appended to a
// daily file, both through the data logger's file mailbox, one step per
// control scan. LOG_Start, LOG_Stop, LOG_Update and DLOG_Update are declared
// in data/data.h.
#pragma once
#include <cstdint>

// The configuration's tables: what a downloaded configuration must stay
// within, or it is refused whole at LOG_Start.
namespace logcfg {
constexpr uint32_t kTag = 0x444C4F47;
constexpr uint32_t kMinSize = 84;     // header, one group, one column
constexpr uint32_t kHeaderBytes = 24; // then the group records
constexpr uint32_t kGroupBytes = 44;  // then 16 bytes per column
constexpr uint32_t kColumnBytes = 16;
constexpr int kGroups = 10;
constexpr uint32_t kRawBuf = 40960;  // shared by all groups
constexpr uint32_t kRowMax = 492;    // raw row: stamps (12) and the columns' values
constexpr uint32_t kLineMax = 595;   // header or row line, CR LF included
constexpr uint32_t kPathMax = 512;   // path of a group's file, NUL included
constexpr uint32_t kNameChars = 16;  // of a column name
constexpr uint32_t kStampBytes = 12; // date and time at the start of every raw row
constexpr int kTypes = 13;           // value types 0..12
} // namespace logcfg

// Bytes a sample of a value type takes in the ring (0 for a type beyond the
// table).
uint32_t LOG_RawSize(uint32_t type);

// Checks the configuration of a data-log block (header and data, as the
// application loads it into `datalog_table`) against the tables. 0 when it
// is usable or is no configuration at all (too short, another tag); -1 with
// the reason in `why` (at most `why_size` bytes) when it reaches past its
// block, its string pool or one of the tables.
int LOG_CheckBlock(const uint8_t *block, uint32_t capacity, char *why, uint32_t why_size);

// Where the logger's console lines go (set by the top layer; null: nowhere).
void LOG_SetConsole(void (*line)(const char *text));

// The write state of the file writer (0..17) and the group it writes, for tests.
int LOG_WriteState();
int LOG_WriteGroup();
// Rows buffered in a group's share of the ring.
uint32_t LOG_RowsBuffered(int group);
uint32_t LOG_RowCapacity(int group);

// Puts the logger back to its power-up values: no configuration, empty rings,
// the next LOG_Start rebuilds.
void LOG_Reset();

// The debug log's configuration, set up with the GSM configuration: the
// reference of its enable register (a 16-bit mask; the status register is the
// 16-bit register after it) and its on flag.
struct DbgLogConfig {
    uint32_t enable_ref;
    uint8_t on;
};
extern DbgLogConfig DbgLog;

constexpr uint32_t kDbgLogBufBytes = 20480;
// Appends a diagnostic text: 3 when the debug log is off or the controller is
// not in Run, 2 when `mask` has no bit of the enable register, 1 when the
// text is empty or does not fit (never cut), 0 when buffered.
int DBG_WriteLog(uint16_t mask, const char *text);
// Bytes buffered and the writer's state (0..17), for tests.
uint32_t DLOG_Buffered();
int DLOG_WriteState();
// Empties the buffer and the writer: nothing open, state 0.
void DLOG_Reset();
