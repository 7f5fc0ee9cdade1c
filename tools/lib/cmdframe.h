// Packets of the panel's command protocol as the programming tool writes
// them: opcode, length (0xFF and a 16-bit little-endian length in the long
// form), data, and a checksum that makes the OEM seed plus every byte zero
// modulo 256.
#pragma once
#include <cstdint>
#include <vector>

namespace cmdframe {

inline std::vector<uint8_t> frame(uint8_t seed, uint8_t op, const std::vector<uint8_t> &data,
                                  bool long_form = false) {
    std::vector<uint8_t> p = {op};
    if (long_form || data.size() > 254) {
        p.push_back(0xFF);
        p.push_back(uint8_t(data.size()));
        p.push_back(uint8_t(data.size() >> 8));
    } else {
        p.push_back(uint8_t(data.size()));
    }
    p.insert(p.end(), data.begin(), data.end());
    uint8_t sum = seed;
    for (uint8_t b : p)
        sum = uint8_t(sum + b);
    p.push_back(uint8_t(-sum));
    return p;
}

// A command to a node: the node id is data byte 0.
inline std::vector<uint8_t> command(uint8_t seed, uint8_t node, uint8_t op,
                                    std::vector<uint8_t> args, bool long_form = false) {
    args.insert(args.begin(), node);
    return frame(seed, op, args, long_form);
}

} // namespace cmdframe
