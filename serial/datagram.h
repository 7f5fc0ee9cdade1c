// Register datagrams: the programming tool defines a list of up to 30
// register words once under a number and a key, then reads or writes the
// whole list with one short command; datagrams that are not used age out.
#pragma once
#include <cstdint>

constexpr int kDgEntries = 64, kDgWords = 30;
constexpr uint8_t kDgRefused = 255;

struct DgDef {
    uint8_t in_use;
    uint8_t time_out; // steps of 100 ms without use; 0 never expires
    uint8_t age;
    uint8_t count; // register words, 0 to 30
    uint16_t key;
    uint32_t address[kDgWords]; // register references divided by 16
};
extern DgDef DgDefTable[kDgEntries];

// The entry number, or 255 (too many words, a zero word without the high
// half after it, no free entry).
uint8_t Datagram_Create(uint8_t time_out, uint16_t key, const uint16_t *words, uint32_t n);
uint8_t Datagram_Write(uint8_t number, uint16_t key, const uint16_t *values, uint32_t n);
// The count of words read into out (kDgWords room), or 255.
uint8_t Datagram_Read(uint8_t number, uint16_t key, uint16_t *out);
uint8_t Datagram_Delete(uint8_t number, uint16_t key);

void Datagram_Reset();
