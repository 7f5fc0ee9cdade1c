// The programming tool's file transfer and register datagrams against a
// running panel over the programming port's pty, with the card inserted.
#include "process_util.h"
#include "supervised_panel.h"

#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <string>

namespace {

class FxpProcessTest : public SupervisedPanelTest {
protected:
    void SetUp() override {
        SupervisedPanelTest::SetUp();
        write_file("/host.conf", "screen = 480x272\n");
    }
    std::string tool(const std::string &args, int *rc) {
        return run(bin("pgmtool") + " --port " + root_dir + "/dev/ttySP0.peer " + args + " 2>&1",
                   rc);
    }
    std::string read(const std::string &name) {
        std::ifstream in(root_dir + name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
};

TEST_F(FxpProcessTest, FilesOnTheCardAndDatagrams) {
    start();
    int rc = -1;
    std::string out = ctl("media insert sd", &rc);
    ASSERT_EQ(rc, 0) << out;

    out = tool("fxp 'mkd A:\\LOGS'", &rc);
    ASSERT_EQ(rc, 0) << out;
    EXPECT_NE(out.find("reply 257"), std::string::npos) << out;
    struct stat st;
    ASSERT_EQ(::stat((root_dir + "/mnt/USB0/LOGS").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));

    std::string text(3000, 'x');
    for (size_t i = 0; i < text.size(); ++i)
        text[i] = char('a' + i % 26);
    write_file("/x.txt", text);
    out = tool("fxp 'stor A:\\LOGS\\X.TXT' put " + root_dir + "/x.txt", &rc);
    ASSERT_EQ(rc, 0) << out;
    EXPECT_EQ(read("/mnt/USB0/LOGS/X.TXT"), text);

    out = tool("fxp 'list A:\\LOGS'", &rc);
    ASSERT_EQ(rc, 0) << out;
    EXPECT_NE(out.find("reply 619"), std::string::npos) << out;
    EXPECT_NE(out.find("F X.TXT 3000 "), std::string::npos) << out;

    out = tool("fxp 'retr A:\\LOGS\\X.TXT' get " + root_dir + "/back.txt ';' fxp 'mkd A:\\LOGS'",
               &rc);
    EXPECT_EQ(read("/back.txt"), text);
    EXPECT_NE(out.find("reply 614"), std::string::npos) << out;
    EXPECT_NE(rc, 0);

    out = tool("datagram create 0 77 %R1 %R2 ';' datagram write 0 77 11 22 ';' datagram read 0 77",
               &rc);
    ASSERT_EQ(rc, 0) << out;
    EXPECT_NE(out.find("datagram 0"), std::string::npos) << out;
    EXPECT_NE(out.find("values 11 22"), std::string::npos) << out;
    EXPECT_EQ(reg("%R2"), 22);
}

} // namespace
