// Names and addresses the IEC programming tool and IEC programs hand the
// runtime: a transfer name must map to a name that stays inside the root
// folder or be refused, and an address text must parse or be refused, never
// read past its end.
#include "iec/kernel/tros.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string text(reinterpret_cast<const char *>(data), size);
    const char *c = text.c_str(); // up to the first NUL, as the runtime reads it
    char out[256];
    if (TrFT_MapName(c, out, sizeof out)) {
        if (!std::memchr(out, 0, sizeof out)) std::abort();
        std::string s(out);
        if (s.empty() || s.find("..") != std::string::npos || s.find('\\') != std::string::npos)
            std::abort();
    }
    char small[8];
    if (TrFT_MapName(c, small, sizeof small) && !std::memchr(small, 0, sizeof small)) std::abort();
    TrUdpAddr a{};
    if (TrSocket_UdpAddrMake(&a, c, 502) && std::strlen(c) >= 64) std::abort();
    return 0;
}
