// The table of module resets names every reset the source declares, and the
// resets of the entry points not built yet put their state back.
#include "panel_fixture.h"

#include "data/cfm.h"
#include "data/data.h"
#include "iec/kernel/iec.h"
#include "net/net.h"
#include "platform/fileinst.h"
#include "platform/unit.h"
#include "platform/video.h"
#include "screens/screens.h"
#include "serial/serial.h"
#include "system/resets.h"
#include "web/web.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

// Folders of the source tree that hold no firmware module.
bool skipped_folder(const std::string &name) {
    return name.empty() || name[0] == '.' || name.rfind("build", 0) == 0 || name == "tests" ||
           name == "bench" || name == "tools" || name == "examples" || name == "scripts";
}

std::string read_all(const fs::path &p) {
    std::ifstream in(p);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Every reset declared in a header: "Xxx_Reset", "Xxx_NotBuiltReset", and in
// host/ "host::xxx_reset"; with the header that declares it.
std::map<std::string, std::string> declared_resets(const fs::path &root) {
    static const std::regex module(R"(^\s*void\s+([A-Za-z]\w*_(NotBuilt)?Reset)\s*\(\s*\)\s*;)");
    static const std::regex host(R"(^\s*void\s+([a-z]\w*_reset)\s*\(\s*\)\s*;)");
    std::map<std::string, std::string> found;
    for (const fs::directory_entry &top : fs::directory_iterator(root)) {
        std::string folder = top.path().filename().string();
        if (!top.is_directory() || skipped_folder(folder)) continue;
        for (const fs::directory_entry &e : fs::recursive_directory_iterator(top.path())) {
            if (e.path().extension() != ".h") continue;
            std::istringstream lines(read_all(e.path()));
            std::string line;
            std::smatch m;
            std::string rel = fs::relative(e.path(), root).string();
            while (std::getline(lines, line)) {
                if (std::regex_search(line, m, module))
                    found[m[1]] = rel;
                else if (folder == "host" && std::regex_search(line, m, host))
                    found["host::" + m[1].str()] = rel;
            }
        }
    }
    return found;
}

TEST(ResetTable, NamesEveryDeclaredResetOnce) {
    const fs::path root = PANEL_SOURCE_DIR;
    std::map<std::string, std::string> declared = declared_resets(root);
    ASSERT_GT(declared.size(), 50u) << "no reset found under " << root;

    std::set<std::string> table;
    std::string twice;
    for (const ResetRow &row : System_Resets()) {
        EXPECT_NE(row.reset, nullptr) << row.name;
        if (!table.insert(row.name).second) twice += std::string(" ") + row.name;
    }
    EXPECT_EQ(twice, "") << "rows named more than once";

    std::string missing, unknown;
    for (const auto &[name, header] : declared)
        if (!table.count(name)) missing += "\n  " + name + " (" + header + ")";
    for (const std::string &name : table)
        if (!declared.count(name)) unknown += "\n  " + name;
    EXPECT_EQ(missing, "") << "declared resets missing from the table in system/resets.cpp";
    EXPECT_EQ(unknown, "") << "table rows whose name no header declares";
}

// A not_built.cpp that holds any code offers its folder's reset, so that a
// global added there has a place to be put back.
TEST(ResetTable, EveryNotBuiltFileHasItsReset) {
    const fs::path root = PANEL_SOURCE_DIR;
    static const std::regex reset(R"(\nvoid\s+\w+_NotBuiltReset\s*\(\s*\)\s*\{)");
    static const std::regex code(R"((^|\n)[^/\n\s])");
    std::string without;
    int files = 0;
    for (const fs::directory_entry &top : fs::directory_iterator(root)) {
        if (!top.is_directory() || skipped_folder(top.path().filename().string())) continue;
        for (const fs::directory_entry &e : fs::recursive_directory_iterator(top.path())) {
            if (e.path().filename() != "not_built.cpp") continue;
            ++files;
            std::string text = read_all(e.path());
            if (std::regex_search(text, code) && !std::regex_search(text, reset))
                without += "\n  " + fs::relative(e.path(), root).string();
        }
    }
    EXPECT_GT(files, 0);
    EXPECT_EQ(without, "");
}

class NotBuiltResetTest : public PanelTest {};

// State that a test leaves behind in the entry points not built yet (an IEC
// runtime marked running sends every later scan down the IEC path) is gone
// after the reset of the next test.
TEST_F(NotBuiltResetTest, ResetAllPutsTheirGlobalsBack) {
    TrevantRuntime = 1;
    trevant_variables_enumerateded = 1;
    TrevantFirstRun = 1;
    iVmAlive = 3;
    OLPMode = 1;
    CmdRun = 1;
    dpram[kDpramBytes - 1] = 7;
    Net_Data[0][0] = 1;
    Dpr_Configuration[1][56] = 1;
    ParviServerState = 3;
    ParviHttp = 1;
    ParviOemPtr = nullptr;
    user_details_list[152] = 1;
    alarmBuf[0] = 1;
    removeSafe = 1;
    pDpramCFCB = nullptr;
    Clon_McInited = 1;
    ExternalRegOnPage = 1;
    RmFormatOpsThreadId = pthread_self();
    crc_header[3] = 0x80;
    Cmd_Downloading = 1;
    StillOpened = 1;

    panel_reset_all();

    EXPECT_EQ(TrevantRuntime, 0);
    EXPECT_EQ(trevant_variables_enumerateded, 0);
    EXPECT_EQ(TrevantFirstRun, 0);
    EXPECT_EQ(iVmAlive, 0);
    EXPECT_EQ(OLPMode, 0);
    EXPECT_EQ(CmdRun, 0);
    EXPECT_EQ(dpram[kDpramBytes - 1], 0);
    EXPECT_EQ(Net_Data[0][0], 0);
    EXPECT_EQ(Dpr_Configuration[1][56], 0);
    EXPECT_EQ(ParviServerState, 0);
    EXPECT_EQ(ParviHttp, 0);
    ASSERT_NE(ParviOemPtr, nullptr);
    EXPECT_EQ(ParviOemPtr[36], 0);
    EXPECT_EQ(user_details_list[152], 0);
    EXPECT_EQ(alarmBuf[0], 0);
    EXPECT_EQ(removeSafe, 0);
    EXPECT_EQ(pDpramCFCB, &tCFCB[1]);
    EXPECT_EQ(Clon_McInited, 0);
    EXPECT_EQ(ExternalRegOnPage, 0);
    EXPECT_EQ(RmFormatOpsThreadId, pthread_t{});
    EXPECT_EQ(crc_header[3], 0);
    EXPECT_EQ(Cmd_Downloading, 0);
    EXPECT_EQ(StillOpened, 0);
}

} // namespace
