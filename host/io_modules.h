// Models of the local I/O modules: what a module of the rack shows on the I2C
// bus besides its identity, with input values injected from outside and the
// outputs it was last given.
//
// Inputs come from host.conf ("io.slot0.ai1 = 12mA", "io.slot0.i = 0x05")
// or from the control socket ("panelctl io set 0 ai1 12mA"); outputs are read
// back with "panelctl io get 0" (every output of the slot) or "io get 1 aq1".
//
// Names of a slot's values:
//   i         digital inputs, one number (bit 0 = first input)
//   iN        one digital input, 0 or 1
//   aiN       analog input N (from 1): a number with a unit: "V", "mA", "ohm"
//             (resistance thermometer inputs), "mV" (thermocouple and
//             millivolt inputs) or none (raw converter counts)
//   cntN      high-speed counter N (1-4) of the on-board I/O: its count
//   q         digital outputs (get), one number
//   aqN       analog output N: the converter value last written (get)
//   pulseN    pulse output N (1-2): on/off, mode, period and duty registers (get)
//   feN       the analog front-end setting of input N of the board with six
//             converted inputs (get)
//
// An analog value is turned into the converter counts that the module's
// factory constants scale to the register value of that input: 10 V, 20 mA
// full scale = 32000. The board with six converted inputs carries its factory
// constants (unity gains) in its memory at 0xA0; a module without a memory
// gets the driver's default constants, and the models assume those.
//
// The base unit's own I/O (identity 0xEF0E in slot 0) lives on the processor:
// its digital inputs on GPIO pins, its analog inputs on the on-chip converter
// (12-bit counts), its outputs and front-end switches on the expander at 0x4C.
// A millivolt value reaches the thermocouple board's converter as the counts
// of the gain that the driver selects for the channel.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace host {

class I2cBus;

// Plugs in the devices of the module of identity `id` in `slot` (0 or 1),
// beside its identity expander, and applies the values of host.conf.
void io_modules_plug(I2cBus &bus, int slot, uint16_t id);
// Then the modules' memories, and the injected inputs into the expanders.
void io_modules_memories(I2cBus &bus);

// Sets an input; false with a message when the name or value is wrong.
bool io_set(int slot, const std::string &name, const std::string &value, std::string *error);
// Reads a value ("" and a message when unknown); an empty name lists every
// output and input of the slot, one "name = value" a line.
bool io_get(int slot, const std::string &name, std::string *out);

// The "io" command of the control socket.
std::string io_ctl(const std::vector<std::string> &args);
void io_ctl_register();

// The base unit's inputs as the processor sees them: the levels of its four
// digital input pins (bits 0-3; the front-end expander's bit 0 inverts them)
// and the converter counts (0-4095) of analog input `input` (0-3).
uint32_t io_base_pins();
uint16_t io_base_adc(int input);

// Value names of the models: true when `name` is `prefix` followed by a
// decimal number from lo to hi, which goes to *n ("ai3" with "ai").
bool io_index_of(const std::string &name, const char *prefix, int lo, int hi, int *n);

// Forgets the injected values (test fixtures).
void io_modules_reset();

} // namespace host
