// Test helpers for the runtime glue and the VM shell: code images assembled
// from text, written where the runtime reads them.
#pragma once
#include "iec/kernel/trcode.h"
#include "tools/lib/iecasm.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// An application whose one program is `END`, with the given extra lines.
inline std::string iec_app(const std::string &extra = "", const std::string &app = ".app T") {
    return app + "\n.var BOOL b\n" + extra + "\n.program main kind=0\n        END\n";
}

inline std::vector<uint8_t> iec_image(const std::string &source) {
    IecAsmOutput out;
    std::string error;
    EXPECT_TRUE(Iecasm_Assemble(source, &out, &error)) << error;
    return out.image;
}

inline std::string as_text(const std::vector<uint8_t> &v) {
    return std::string(v.begin(), v.end());
}
