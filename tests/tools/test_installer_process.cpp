// The boot installer of a panel started as a loader under its supervisor:
// the card inserted through panelctl, the install chosen by touch.
#include "base/le.h"
#include "host/root.h"
#include "png_snapshot.h"
#include "supervised_panel.h"

#include <string>
#include <vector>

class InstallerProcessTest : public SupervisedPanelTest {};

TEST_F(InstallerProcessTest, LoaderInstallsFromTheCard) {
    std::string cal(24, '\0');
    const int32_t rec[6] = {800, 480, 0, 0, 800, 480};
    for (int i = 0; i < 6; ++i)
        put_le32(cal.data() + 4 * i, uint32_t(rec[i]));
    write_file("/mnt/cfg/cal.dta", cal);
    for (const char *f :
         {"pqkern.sb", "pqinit.ufs", "pqfirm.ufs", "pqcfg.ufs", "k7", "keys.bmp", "splash.bmp"})
        write_file(std::string("/mnt/USB0/") + f, "dummy");
    write_file("/mnt/USB0/MACIDS.TXT", "02:50:4E:00:00:FF\r\n02:50:4E:00:01:00\r\n");
    host::make_dirs("/mnt/USB");
    host::make_dirs("/mnt/firm");

    start({"x"}); // one argument: the loader
    ASSERT_TRUE(wait_for([&] { return reg("%SR3") == 22; }, 5000));
    EXPECT_EQ(field("boot_mode"), "1");
    EXPECT_EQ(ctl("media insert sd"), "sd card inserted\n");
    // On 800 x 480: "Install Bootloader" at (200, 80)-(600, 160), Yes at
    // (335, 247)-(390, 274), OK at (373, 330)-(427, 357).
    ASSERT_TRUE(wait_for(
        [&] {
            ctl("touch 400 120");
            ctl("touch 360 260");
            return slurp(root_dir + "/mnt/USB0/log.txt").find("Done Install Process") !=
                   std::string::npos;
        },
        20000));
    const std::string log = slurp(root_dir + "/mnt/USB0/log.txt");
    EXPECT_NE(log.find("--INSTALL Mode"), std::string::npos) << log;
    EXPECT_NE(log.find("cp /mnt/USB/k7  /mnt/firm/firmware\n"), std::string::npos) << log;
    EXPECT_EQ(read_file("/mnt/firm/firmware"), "dummy");
    EXPECT_EQ(read_file("/mnt/USB0/MACIDS.TXT").substr(0, 17), "02:50:4E:00:01:00")
        << "one address handed out";
}
