// Host file transfer: the programming tool manages files on the SD card (A:),
// the USB stick (B:) and the internal flash (Z:) with FTP-like text commands
// (opcode 28), streams file data to the panel (29) and file data or a
// directory listing from it (30). The handlers only hand text and data over
// through FxpInterface; FxpMain does the file work once per pass.
#pragma once
#include <cstdint>
#include <string>

constexpr int kFxpTextBytes = 512, kFxpRingBytes = 2048, kFxpWordMax = 256;
constexpr uint32_t kFxpNoValue = 0xFFFFFFFFu;

// Transfer states.
namespace fxp {
constexpr uint8_t kNone = 0, kReading = 1, kReadDone = 2, kWriting = 3, kWritten = 4, kListing = 5,
                  kListDone = 6;
}

struct FxpInterfaceT {
    uint32_t reply_code;
    uint32_t reply_value; // a byte count, kFxpNoValue when the reply carries none
    uint16_t ring_wr, ring_rd, ring_count;
    uint8_t pending, done, end, state;
    char text[kFxpTextBytes];
    uint8_t ring[kFxpRingBytes];
};
extern FxpInterfaceT FxpInterface;

// Clears the interface, the flags and the current directories.
void Fxp_Initialise();
// Hands a command text over; sets the "command while one is pending" flag
// instead when one is pending or its reply not yet collected.
void Fxp_DoParseCommand(const char *text);
// Data toward a file being stored: 1 stored, 0 no room yet, -1 refused (a
// write error, or no file being stored).
int Fxp_DoWriteData(const uint8_t *data, uint32_t n);
// Up to max bytes of a file or a listing being read.
uint32_t Fxp_DoReadData(uint8_t *out, uint32_t max);

// The words of a command text: at most three, a word in double quotes may
// hold blanks. False when a word is longer than kFxpWordMax characters.
bool Fxp_SplitWords(const char *text, std::string words[3], int *count);
// A path argument as a drive and its directory levels, made upper case and
// with "." and ".." taken out; `cwd` is the drive's current directory
// ("\LEVEL\LEVEL", "" the root). False when the path names no drive of the
// panel or climbs above the drive's root.
bool Fxp_ResolvePath(const std::string &arg, int current_drive, const std::string cwd[3],
                     int *drive, std::string *path);

void Fxp_Reset();
