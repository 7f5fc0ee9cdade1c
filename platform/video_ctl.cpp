// "screenshot FILE": the visible screen as a PNG file, for people and tests
// looking at a running panel.
#include "host/ctl.h"
#include "host/fb.h"
#include "platform/video.h"

#include <string>
#include <vector>

namespace {
std::string cmd_screenshot(const std::vector<std::string> &a) {
    if (a.size() < 2) return "error: usage: screenshot FILE.png";
    // The control line is split at spaces; a file name may hold some.
    std::string file = a[1];
    for (size_t i = 2; i < a.size(); ++i)
        file += " " + a[i];
    std::string error;
    if (!host::fb_write_png(file, &error)) return "error: " + error;
    return "ok " + file;
}
} // namespace

void VDR_CtlRegister() {
    host::ctl_register("screenshot", cmd_screenshot);
}
