#include "panel_fixture.h"

#include "base/trace.h"
#include "host/clock.h"
#include "host/root.h"
#include "platform/media.h"
#include "platform/video.h"
#include "system/resets.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string_view>
#include <unistd.h>

namespace {
// The test's own steps, at their places in the table's order.
void test_steps(const char *row) {
    std::string_view name = row;
    if (name == "host::clock_reset") {
        // Tests run on the virtual clock, from before anything reads the time.
        host::clock_use_virtual();
    } else if (name == "host::shell_reset") {
        host::trace_stop();
        host::trace_clear();
        host::trace_set_hook(nullptr);
    }
}
} // namespace

void panel_reset_all() {
    System_ResetAll(test_steps);
}

void PanelTest::SetUp() {
    char tmpl[] = "/tmp/panel-test-XXXXXX";
    root_dir = mkdtemp(tmpl);
    host::set_root(root_dir);
    panel_reset_all();
}

void PanelTest::TearDown() {
    // The playback thread and the free-space task read the root folder's
    // path: they end before the folder and the process's globals go.
    Video_Reset();
    BackTsk_Stop();
    host::clock_reset();
    host::trace_set_hook(nullptr);
    std::string cmd = "rm -rf '" + root_dir + "'";
    if (std::system(cmd.c_str()) != 0) {
    }
}

void PanelTest::write_file(const std::string &board_path, const std::string &data) {
    std::string full = host::path(board_path);
    size_t slash = board_path.rfind('/');
    if (slash != std::string::npos && slash > 0) host::make_dirs(board_path.substr(0, slash));
    std::ofstream(full, std::ios::binary) << data;
}

std::string PanelTest::read_file(const std::string &board_path) {
    std::ifstream in(host::path(board_path), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}
