// Trend log channel of a trend graph: the record through which a graph hands
// its samples to the trend logger, which writes them as CSV rows to hourly
// or daily files on the removable media.
#pragma once
#include <cstdint>

constexpr int kTrendPens = 4;
constexpr int kTrendRowBuffer = 1024;

// The log record, the first part of a graph's log and key block.
struct TrendLogRec {
    uint8_t pens;     // pen count of the graph
    uint8_t unit;     // time unit of the sample period (2: hourly files)
    uint8_t started;  // TrendLogToCF_Start was called
    uint8_t clock[6]; // second, minute, hour, day, month, year modulo 100
    int32_t value[kTrendPens];
    uint32_t name;       // string-table offset of the log name
    uint16_t rows;       // rows in the buffer
    uint16_t fill;       // bytes in the buffer
    uint16_t wraps;      // times the row count wrapped
    uint16_t row_length; // pens x 7 + 23
    uint8_t buffer[kTrendRowBuffer];
};

// Marks the channel as started.
void TrendLogToCF_Start(TrendLogRec *rec);
// One step of the channel; returns the record.
TrendLogRec *TrendLogToCF_Scanner(TrendLogRec *rec);
// Appends the record's row to its buffer; the bytes appended.
int LoadTrendEventsToBuffer(TrendLogRec *rec);
// The lock that lets one channel at a time own the trend file mailbox.
extern uint8_t LogFileBusy;

// Puts the trend log's state back to its start values (tests).
void TrendLog_Reset();
