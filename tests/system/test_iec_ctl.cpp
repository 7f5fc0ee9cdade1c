// The control socket's "iec" command on a running IEC application.
#include "base/le.h"
#include "host/ctl.h"
#include "host/root.h"
#include "iec/kernel/iec.h"
#include "iec/kernel/trdb.h"
#include "iec/kernel/tros.h"
#include "panel_fixture.h"
#include "system/ctl_cmds.h"
#include "tools/lib/iecasm.h"

#include <cstring>

namespace {

class IecCtlTest : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        Iec_CtlRegister();
    }
    void TearDown() override {
        testing::internal::CaptureStdout();
        __Exit();
        testing::internal::GetCapturedStdout();
        PanelTest::TearDown();
    }
};

TEST_F(IecCtlTest, ShowsTheVmAndReadsVariables) {
    EXPECT_EQ(host::ctl_handle("iec"), "ok\niVmAlive: 0\napplication: none\n");
    EXPECT_EQ(host::ctl_handle("iec var INT 1").rfind("error", 0), 0u);
    IecAsmOutput out;
    std::string error;
    ASSERT_TRUE(Iecasm_Assemble(".app CTL period=1000\n.var INT i\n.var REAL r\n.var STRING(4) s\n"
                                ".program main kind=0\n        END\n",
                                &out, &error))
        << error;
    write_file("/mnt/cfg/tr.cod", std::string(out.image.begin(), out.image.end()));
    testing::internal::CaptureStdout();
    Trevant_init();
    _VMThread();
    _VMThread();
    testing::internal::GetCapturedStdout();
    std::string reply = host::ctl_handle("iec");
    for (const char *want : {"iVmAlive: 1\n", "application: CTL\n", "run flags: 0x8401\n",
                             "cycles: 2\n", "period: 1000 us\n"})
        EXPECT_NE(reply.find(want), std::string::npos) << want << " in\n" << reply;
    // Values written into the database as a program would.
    put_le16(TrTools_GetAnyParam(pDB, 11, 1, nullptr, nullptr), 0xFFFE);
    float f = 2.5f;
    std::memcpy(TrTools_GetAnyParam(pDB, 3, 1, nullptr, nullptr), &f, 4);
    uint8_t *s = TrTools_GetAnyParam(pDB, 5, 1, nullptr, nullptr);
    s[1] = 2;
    std::memcpy(s + 2, "hi", 3);
    struct Case {
        const char *line, *reply;
    };
    const Case cases[] = {
        {"iec var INT 1", "ok -2"},
        {"iec var UINT 1", "ok 65534"},
        {"iec var REAL 1", "ok 2.5"},
        {"iec var STRING 1", "ok \"hi\""},
        {"iec var INT 99", "error: no INT 99"},
        {"iec var INT x", "error: bad index x"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(host::ctl_handle(c.line), std::string(c.reply) + "\n") << c.line;
    EXPECT_EQ(host::ctl_handle("iec var WORD 1").rfind("error: unknown type WORD", 0), 0u);
}

} // namespace
