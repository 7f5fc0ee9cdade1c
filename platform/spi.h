// SPI master driver of the SoC's synchronous serial ports (SSP1-SSP3) at
// register level: the FRAM, the FPGA's register and programming interfaces,
// and the bit-banged shift-register chain on SSP2's pins.
//
// SPI descriptor (owned by the caller, 2 to 4 bytes): byte 0 channel (1 SSP1,
// 2 and 3 SSP2, 4 SSP3); byte 1 the device (chip select) for the select
// operations, or the SPI mode (bits 0-1) for spi_init; byte 2 speed index
// 1-12; byte 3 the pin-set argument for SSP2.
#pragma once
#include <cstdint>

int spi_init(const uint8_t *descriptor);
int spi_close(const uint8_t *descriptor);
int spi_enable_cs(const uint8_t *descriptor);
int spi_disable_cs(const uint8_t *descriptor);
// Exchanges `count` bytes (1 to 4). Write: stages the bytes of `buffer` and
// sends them; read: sends the staged bytes again and stores what comes back.
// 0 on a time-out, a bad channel or a bad count.
int spi_data_trans(int channel, uint8_t *buffer, int count, int read);
// FRAM transfers of any length, one item at a time: bytes, or 16-bit words
// (little-endian in memory, `count` words). 0 for a bad channel or a port
// that does not finish an item within its bounded wait.
int spi_data_byte_trans_FRAM(int channel, uint8_t *buffer, uint32_t count, int read);
int spi_data_word_trans_FRAM(int channel, uint8_t *buffer, uint32_t count, int read);
// The same words as one block through the port's DMA channel (item by item
// where the port has none), with a bounded wait for its end.
int spi_data_block_trans_FRAM(int channel, uint8_t *buffer, uint32_t count, int read);
// Sets and clears bits of a device's output word (device 0-2) and shifts it
// out; returns the 16 bits read back for devices 0 and 1, else 0.
uint32_t Ssp2_Xch(uint32_t set_bits, uint32_t clear_bits, int device);
int ssp2_pin_ctrl(int pin_set, int ignored);

// Closes every port and forgets the driver's state (test fixtures).
void Spi_Reset();
