// A panel with a ladder program assembled from text and loaded as the control
// program block.
#pragma once
#include "base/le.h"
#include "panel_fixture.h"
#include "plc/ladder.h"
#include "regs/plc_reg.h"
#include "regs/regname.h"
#include "system/appfile.h"
#include "system/nvram.h"
#include "tools/lib/ladasm.h"

#include <cstring>
#include <string>
#include <vector>

class LadderTest : public PanelTest {
protected:
    // Assembles `source` and loads it: the block in ladder_bl, the feature
    // word as the start-up validation takes it. The next scan is a first scan.
    void load(const std::string &source) {
        std::string error;
        program.clear();
        ASSERT_TRUE(Ladasm_Assemble(source, &program, &error)) << error << "\n" << source;
        load_bytes(program);
    }
    void load_bytes(const std::vector<uint8_t> &bytes) {
        program = bytes;
        std::vector<uint8_t> block = Ladasm_Block(bytes);
        std::memcpy(ladder_bl, block.data(), block.size());
        NV_EditorFeatures = Ladder_Features(bytes.data(), uint32_t(bytes.size()));
        Ladder_ProgramChanged();
        sbit_put(sbit::kFirstScan, 1);
    }
    int32_t scan() { return LogicUpdate(ladder_bl + 8, Ladder_Bytes()); }

    static uint32_t ref(const std::string &name) {
        uint32_t r = 0, bits = 0;
        std::string error;
        EXPECT_TRUE(RegName_Parse(name, &r, &bits, &error)) << name << ": " << error;
        return r;
    }
    static int bit(const std::string &name) {
        uint8_t v = 0;
        PlcReg_Get(&v, ref(name), 1);
        return v;
    }
    static void set_bit(const std::string &name, int on) {
        uint8_t v = uint8_t(on);
        PlcReg_Store(ref(name), &v, 1);
    }
    static uint16_t word(const std::string &name) {
        uint8_t v[2] = {};
        PlcReg_Get(v, ref(name), 16);
        return le16(v);
    }
    static void set_word(const std::string &name, uint16_t value) {
        uint8_t v[2];
        put_le16(v, value);
        PlcReg_Store(ref(name), v, 16);
    }

    std::vector<uint8_t> program;
};
