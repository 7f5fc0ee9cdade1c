// The runtime's plug-in libraries, loaded from the root folder: the block
// library and the SNMP agent (small libraries built with the tests).
#include "host/root.h"
#include "iec/kernel/trbdll.h"
#include "iec/kernel/trglue.h"
#include "iec/kernel/trvm.h"
#include "panel_fixture.h"
#include "vm_db.h"

#include <dlfcn.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

class Plugins : public PanelTest {
protected:
    void install(const char *built, const char *as) {
        std::filesystem::copy_file(std::string(PANEL_PLUGIN_DIR) + "/lib" + built + ".so",
                                   host::path(std::string("/") + as));
    }
    uint32_t open() {
        testing::internal::CaptureStdout();
        uint32_t r = TrBdll_OpenDynaLinks();
        printed = testing::internal::GetCapturedStdout();
        return r;
    }
    std::string printed;
};

TEST_F(Plugins, NoLibraryNoBlocks) {
    EXPECT_EQ(open(), 0u);
    EXPECT_EQ(TrBdll_StartEnumerate(), 0);
    uint32_t id = 5;
    EXPECT_EQ(TrBdll_GetFirstID(&id), 0u);
    EXPECT_EQ(TrBdll_GetName(1), nullptr);
}

TEST_F(Plugins, ALibraryThatIsNotValidIsDropped) {
    install("trblocks_invalid", "libtrblocks.so");
    EXPECT_EQ(open(), 0u);
    EXPECT_EQ(printed, "");
    EXPECT_EQ(TrBdll_StartEnumerate(), 0);
    EXPECT_EQ(TrBdll_GetName(1), nullptr);
}

TEST_F(Plugins, TwoBlocksInOrder) {
    install("trblocks_two", "libtrblocks.so");
    EXPECT_EQ(open(), 1u);
    EXPECT_EQ(printed, "Load libtrblocks.so successful\n");
    ASSERT_EQ(TrBdll_StartEnumerate(), 1);
    std::vector<std::string> names;
    std::vector<uint32_t> answers;
    uint32_t id = 0;
    for (TrBdll_GetFirstID(&id); id; TrBdll_GetNextID(&id)) {
        names.push_back(TrBdll_GetName(id));
        TrBlockHandler h = TrBdll_GetProc(id);
        ASSERT_NE(h, nullptr);
        answers.push_back(h(1, nullptr, nullptr, nullptr, 0));
    }
    TrBdll_StopEnumerate();
    EXPECT_EQ(names, (std::vector<std::string>{"BLKA", "BLKB"}));
    EXPECT_EQ(answers, (std::vector<uint32_t>{0xA01, 0xB01}));
    TrBdll_CloseDynaLinks();
    EXPECT_EQ(TrBdll_StartEnumerate(), 0);
}

TEST_F(Plugins, SnmpItems) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(TrRT_LoadSnmp("agent", "/mnt/mib"), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout().rfind("\nLoading Trsnmp lib failed:", 0), 0u);

    install("trsnmp_stub", "libtrsnmp.so");
    ASSERT_EQ(TrRT_LoadSnmp("agent", "/mnt/mib"), 1);
    void *lib = dlopen(host::path("/libtrsnmp.so").c_str(), RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(lib, nullptr);
    auto query = reinterpret_cast<int (*)(int, char *, size_t)>(dlsym(lib, "snmp_stub_query"));
    auto other =
        reinterpret_cast<int (*)(int, char *, size_t)>(dlsym(lib, "snmp_stub_query_other"));
    auto folder = reinterpret_cast<const char *(*)()>(dlsym(lib, "snmp_stub_folder"));
    auto running = reinterpret_cast<int (*)()>(dlsym(lib, "snmp_stub_running"));
    EXPECT_STREQ(folder(), "/mnt/mib");
    auto item = [&](int n) {
        char text[64] = "x";
        int r = query(n, text, sizeof text);
        return r ? std::string(text) : std::string("<0>");
    };
    // Without a database.
    TrRT_SetDB(nullptr);
    std::vector<std::string> none;
    for (int n = 1; n <= 8; ++n)
        none.push_back(item(n));
    EXPECT_EQ(none, (std::vector<std::string>{"0", "0", "0", "0", "0", "", "", "<0>"}));
    // With one: a running application of period 10 ms.
    VmDb v;
    ASSERT_EQ(
        v.build(".app SNMPAPP period=10000\n.var BOOL b\n.program main kind=0\n        END\n"), 0);
    put_le32(v.st() + trst::kLongestCycle, 4500);
    put_le32(v.st() + trst::kOverruns, 3);
    TrRT_SetDB(v.db());
    std::vector<std::string> with;
    for (int n = 1; n <= 8; ++n)
        with.push_back(item(n));
    EXPECT_EQ(with, (std::vector<std::string>{"1", "1", "4", "10", "3", "SNMPAPP", "0", "<0>"}));
    v.set_flags(trst::kStopped);
    EXPECT_EQ(item(2), "2");
    v.set_flags(0);
    EXPECT_EQ(item(2), "4") << "neither running nor stopped, not at a breakpoint";
    char text[8];
    EXPECT_EQ(other(1, text, sizeof text), 0) << "another instance";
    TrRT_UnloadSnmp();
    EXPECT_EQ(running(), 0) << "stopped before the library is closed";
    dlclose(lib);
    TrRT_SetDB(nullptr);
}

} // namespace
