// Removable media in a running panel: inserting and removing the card with
// panelctl, its status and free space in the system registers, and a firmware
// update started by the supervisor.
#include "host/root.h"
#include "process_util.h"
#include "supervised_panel.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

class MediaProcessTest : public SupervisedPanelTest {
protected:
    void start() {
        host::make_dirs("/mnt/USB0");
        host::make_dirs("/mnt/USB1");
        host::make_dirs("/mnt/cfg");
        SupervisedPanelTest::start();
    }
    long reg(int sr) {
        std::string out = ctl("reg get %SR" + std::to_string(sr));
        size_t eq = out.find("= ");
        return eq == std::string::npos ? -1 : std::atol(out.c_str() + eq + 2);
    }
    long reg32(int sr) { return reg(sr) + reg(sr + 1) * 65536; }
};

TEST_F(MediaProcessTest, CardStatusAndFreeSpaceInTheSystemRegisters) {
    start();
    EXPECT_TRUE(wait_for([&] { return reg(175) == 2; }, 5000)) << "no card: absent";
    EXPECT_EQ(ctl("media insert sd"), "sd card inserted\n");
    std::istringstream in(run("stat -f -c '%b %s' " + root_dir + "/mnt/USB0"));
    long long blocks = 0, bsize = 0;
    in >> blocks >> bsize;
    long long total_kb = std::min<long long>(blocks * (bsize / 1024), 0xFFFFFFFFll);
    EXPECT_TRUE(wait_for([&] { return reg(175) == 0 && reg32(178) == total_kb; }, 8000))
        << reg(175) << " " << reg32(178) << " " << total_kb;
    EXPECT_GT(reg32(176), 0);
    EXPECT_LE(reg32(176), reg32(178));
    EXPECT_EQ(ctl("media remove sd"), "sd card removed\n");
    EXPECT_TRUE(wait_for([&] { return reg(175) == 2 && reg32(176) == 0 && reg32(178) == 0; }, 5000))
        << reg(175);
    int rc = 0;
    run(bin("panelctl") + " --root " + root_dir + " media eject sd", &rc);
    EXPECT_EQ(rc, 1);
}

TEST_F(MediaProcessTest, FirmwareUpdateFromTheCardIsStarted) {
    // The new firmware: a program that notes it ran and ends.
    write_file("/mnt/USB0/UPDATE/V9999001/k7",
               "#!/bin/sh\necho \"new firmware ran\" > \"$PANEL_ROOT/new-firmware.txt\"\nexit 0\n");
    write_file("/mnt/firm/firmware", "old");
    start();
    EXPECT_EQ(ctl("media insert sd"), "sd card inserted\n");
    EXPECT_EQ(ctl("reg set %SR154 512"), "%SR154 = 512\n");
    std::string marker = root_dir + "/new-firmware.txt";
    EXPECT_TRUE(wait_for([&] { return access(marker.c_str(), F_OK) == 0; }, 15000));
    EXPECT_EQ(read_file("/new-firmware.txt"), "new firmware ran\n");
    std::string log = read_file("/var/log/supervisor.log");
    EXPECT_NE(log.find("panel ended by reboot: restarting"), std::string::npos) << log;
    EXPECT_NE(log.find("from the installed firmware"), std::string::npos) << log;
}
