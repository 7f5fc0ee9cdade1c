// IEC assembly texts of any bytes: the assembler refuses or builds an image;
// a built image's disassembly must assemble to the same bytes.
//
// Input: the source text.
#include "tools/lib/iecasm.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string src(reinterpret_cast<const char *>(data), size);
    IecAsmOutput out;
    std::string error;
    if (!Iecasm_Assemble(src, &out, &error)) return 0;
    std::string text = Iecasm_Disassemble(out.image.data(), out.image.size());
    IecAsmOutput again;
    if (!Iecasm_Assemble(text, &again, &error) || again.image != out.image) std::abort();
    return 0;
}
