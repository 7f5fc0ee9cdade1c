// Register names typed by people: any text must give either a reference that
// names itself again or a refusal, never a crash.
#include "regs/regname.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string text(reinterpret_cast<const char *>(data), size);
    uint32_t ref = 0, bits = 0;
    std::string error;
    if (RegName_Parse(text, &ref, &bits, &error)) {
        uint32_t again = 0, bits_again = 0;
        if (!RegName_Parse(RegName_Format(ref, bits), &again, &bits_again, nullptr) ||
            again != ref || bits_again != bits)
            std::abort();
    } else if (error.empty()) {
        std::abort();
    }
    return 0;
}
