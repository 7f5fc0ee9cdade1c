// Models of two plug-in modules of the local I/O rack (see io_modules.h for
// the others): the AC metering module's chip and the bus-slave module's
// memory window.
//
// Metering module (identities 0x500F, 0x520F; chip at 0x50 or 0x52): inputs
//   vN        RMS voltage of phase N (1-3): "230V", or plain chip counts
//   aN        RMS current of phase N: "5A", or counts
//   hz        line frequency: "50Hz", or counts (1/16 Hz)
//   eaN, erN  active and reactive energy counts that each read of phase N's
//             energy register gives (signed, -32768..32767)
//   vpeak     voltage peak: "325V", or counts
//   apeak     current peak: "7A", or counts
//   i, iN     the 20 digital inputs
// Volts and amps are turned into the counts that read back as that value
// with transformer ratios of 1 (the voltages with the frequency correction
// of the frequency set). Outputs: "writes", the register writes the chip
// received in order ("0x30=0x000034 ...", the latest 512), and "events", the
// number of 0x1A commands.
//
// Bus-slave module (identity 0x9F0F, memory window at 0x1C or 0x1E; layout
// in platform/io_drv.h): inputs "status" (the status byte; 0xE0 at start),
// "i", "iN" (digital input bytes from 0x100), "aiN" (input words from 0x200,
// counts), "word" (the word at 0xFD), "startword" (the word at 2); outputs "q" (the first four
// output bytes as one number), "aqN" (output words from 0x300), "control", "node", "sizes".
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace host {

class I2cBus;

void meter_plug(I2cBus &bus, int slot, uint16_t id);
bool meter_set(int slot, const std::string &name, const std::string &value, std::string *error);
bool meter_get(int slot, const std::string &name, std::string *out);
std::vector<std::string> meter_names();

void slave_plug(I2cBus &bus, int slot);
bool slave_set(int slot, const std::string &name, const std::string &value, std::string *error);
bool slave_get(int slot, const std::string &name, std::string *out);
std::vector<std::string> slave_names();

// Forgets the injected values and the windows' contents (test fixtures).
void meter_slave_reset();

} // namespace host
