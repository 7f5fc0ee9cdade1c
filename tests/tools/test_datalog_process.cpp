// The data logger in the running panel: the example application logs %R1-%R4
// every second onto the card; rows sampled while the card is out are written
// once it is back.
#include "host/root.h"
#include "process_util.h"
#include "supervised_panel.h"

#include <dirent.h>

#include <chrono>
#include <cstdlib>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

class DatalogProcessTest : public SupervisedPanelTest {
protected:
    // The rows of every CSV file of the group's folder.
    std::vector<std::string> rows() {
        std::vector<std::string> out;
        std::string dir = root_dir + "/mnt/USB0/LOG/COUNT";
        DIR *d = opendir(dir.c_str());
        if (!d) return out;
        std::set<std::string> names;
        while (dirent *e = readdir(d))
            if (std::string(e->d_name).find(".CSV") != std::string::npos) names.insert(e->d_name);
        closedir(d);
        for (const std::string &n : names) {
            std::istringstream in(read_file("/mnt/USB0/LOG/COUNT/" + n));
            std::string line;
            while (std::getline(in, line))
                if (line.rfind("Date,", 0) != 0) out.push_back(line);
        }
        return out;
    }
    // Seconds of the day of a row "YYYY-MM-DD,HH:MM:SS,...".
    static long seconds(const std::string &row) {
        return std::atol(row.c_str() + 11) * 3600 + std::atol(row.c_str() + 14) * 60 +
               std::atol(row.c_str() + 17);
    }
};

TEST_F(DatalogProcessTest, ExampleLogsEverySecondAndCatchesUpAfterTheCardWasOut) {
    host::make_dirs("/mnt/USB0");
    host::make_dirs("/mnt/USB1");
    start();
    stop();
    int rc = 0;
    std::string out =
        run(bin("mkapp") + " -o " + root_dir + "/mnt/cfg " + src("examples/datalog.json"), &rc);
    ASSERT_EQ(rc, 0) << out;
    start();
    EXPECT_EQ(ctl("media insert sd"), "sd card inserted\n");
    ASSERT_NE(ctl("reg set %SR5 2").find("= 2"), std::string::npos);
    ASSERT_TRUE(wait_for([&] { return rows().size() >= 3; }, 10000)) << rows().size();
    EXPECT_EQ(ctl("media remove sd"), "sd card removed\n");
    std::this_thread::sleep_for(std::chrono::seconds(3));
    size_t before = rows().size();
    EXPECT_EQ(ctl("media insert sd"), "sd card inserted\n");
    ASSERT_TRUE(wait_for([&] { return rows().size() >= before + 5; }, 10000)) << rows().size();
    // One row a second, none missing; %R1 counts the scans.
    std::vector<std::string> r = rows();
    for (size_t i = 1; i < r.size(); ++i) {
        EXPECT_EQ(seconds(r[i]), seconds(r[i - 1]) + 1) << r[i - 1] << "\n" << r[i];
        EXPECT_NE(r[i].substr(20), r[i - 1].substr(20)) << "%R1 moves";
    }
    EXPECT_EQ(reg("%R22"), 0) << "the group's status: no error";
}
