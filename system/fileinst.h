// File instructions of the ladder program (write, read, rename, format
// through the generic file slot; copy and delete in worker threads).
#pragma once
#include <pthread.h>

#include <atomic>
#include <cstdint>

// The instruction that owns each of the two file slots (its program
// position + 1), 0 = free.
extern uint32_t FileStatus[2];
// Results of the workers: 0 success, 5 the command failed, -2 running, -4
// abandoned.
extern std::atomic<int16_t> CopyRet, DeleteRet;
extern pthread_t RmCopyOpsThreadId;

// 1 when the name matches the pattern ("*" any run, "?" one character),
// compared exactly.
int TestForMatchingFilename(const char *pattern, const char *name);
void StrUpper(char *text);

// Worker threads still running.
int FileInst_WorkersRunning();

// Waits for running workers to end (their commands are ended first) and
// clears the slots (tests).
void FileInst_Reset();
