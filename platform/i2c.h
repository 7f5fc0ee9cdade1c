// I2C on the board's bus I2C0.
//
// Bus driver: the controller is driven either by the kernel's I2C service
// (kernels whose build number is above 31) or, on older kernels, through its
// registers. Addresses are bus address bytes (7-bit address shifted left, bit
// 0 the read flag). The operations report 1 for success and 0 for failure.
//
// Device access on top of it: memories addressed by a sub-address, register
// devices, the junction temperature sensor and presence probing. These report
// 0 for success and a non-zero code for failure, as listed with each.
#pragma once
#include <cstdint>

// ---------------------------------------------------------------- bus driver

// Build number of the running kernel, taken from its revision text in the
// system registers when the driver starts.
extern uint16_t KernelBuild;

int i2c0_init();
int i2c0_close();
// Bus speed: 1 100 kHz, 2 400 kHz; with the kernel service any other value
// passes on (3125 x 2^n Hz, n in bits 8-11).
int i2c_timing(int mode);
// Addresses a device: 1 when it acknowledged. Without `last` the transfer
// stays open for the data that follows.
int i2c0_query(uint8_t address, int last);
int i2c_data_write(uint8_t address, const uint8_t *buffer, int count);
int i2c_data_read(uint8_t address, uint8_t *buffer, int count);

// ------------------------------------------------------------- device access

// Byte orders of register transfers: as passed, first two swapped, three reversed.
extern const uint8_t i2cbytemap0[3], i2cbytemap1[3], i2cbytemap2[3];

// Starts the controller (once; a failed start is tried again at the next
// call) and selects 400 kHz for 400000, else 100 kHz. 1, or 0 on failure.
int I2C_init(int speed);

// Memories. `addr` packs the device and the sub-address as `mode` says:
//   0  100 kHz, device 0xA0 | (addr bits 8-10 << 1), one address byte (bits 0-7)
//   1  400 kHz, device 0xA0 | (addr bits 16-18 << 1), two address bytes (bits 0-15)
//   2  100 kHz, device (addr bits 8-14) << 1, one address byte
//   3  400 kHz, device addr bits 16-23, two address bytes
//   4  3125 x 2^n Hz (n = mode bits 8-11), device as mode 2, one address byte
//   5, 6  100 kHz, the clock chip 0x64, one address byte
//   other  speed unchanged, device addr bits 0-7, no sub-address
// Read: 0 done, 1 when the device did not take the sub-address or did not
// answer the read.
int I2C_read_mem(uint8_t *buf, uint32_t addr, int len, int mode);
// Write: mode 3 in pieces of up to 100 bytes (len 1-1023, other lengths write
// nothing): 0, or 1 when a piece fails. Other modes byte by byte, each write
// repeated while the device refuses it, then waiting until the device ends its
// write cycle: 0, or 2 after 1000 refusals in a row or when it never answers.
int I2C_write_mem(const uint8_t *buf, uint32_t addr, int len, int mode);

// One register transfer (mode in the low byte; mode 5 carries a count in the
// high byte):
//   mode  speed    written                      read
//   0     100 kHz  1                            1
//   1     400 kHz  2                            2
//   2     400 kHz  1                            3, first two swapped
//   3     400 kHz  2, first two swapped         n
//   5     400 kHz  (mode >> 8) + 1              mode >> 8
//   6     400 kHz  3, reversed                  n
//   7     400 kHz  1                            n
//   8     400 kHz  3                            2
//   other unchanged n                           n
// 0, or 1 when the device does not acknowledge.
int I2C_read_io(uint8_t dev, uint8_t *buf, int mode, int n);
int I2C_write_io(uint8_t dev, const uint8_t *buf, int mode, int n);

// Temperature in 1/16 °C from a junction temperature sensor (12-bit sensor at
// 0x9E, which is configured at its first use; 13-bit elsewhere). 0, or 1.
int I2C_read_LM92(uint8_t dev, int16_t *out);

// 100 kHz probe: 0 when the address acknowledges, 1 otherwise.
int I2C_query(uint8_t dev);

// Closes the controller and forgets the state of both layers (test fixtures).
void I2c_Reset();
void I2cDev_Reset(); // the device layer's part of I2c_Reset
