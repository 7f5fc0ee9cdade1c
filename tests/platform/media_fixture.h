// A panel with a card and a stick inserted and an internal flash folder.
#pragma once
#include "host/media.h"
#include "host/root.h"
#include "panel_fixture.h"

#include <sys/stat.h>

#include <cstdio>
#include <string>

class MediaTest : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        host::media_insert(host::kMediumSd);
        host::media_insert(host::kMediumUsb);
        host::make_dirs("/mnt/cfg");
    }
    bool exists(const std::string &board) {
        struct stat st;
        return ::stat(host::path(board).c_str(), &st) == 0;
    }

public:
    // Runs a command line, returning its standard output.
    static std::string capture(const std::string &cmd, int *rc = nullptr) {
        std::string out;
        FILE *p = popen(cmd.c_str(), "r");
        if (!p) return out;
        char buf[512];
        while (size_t n = fread(buf, 1, sizeof buf, p))
            out.append(buf, n);
        int st = pclose(p);
        if (rc) *rc = st;
        return out;
    }
};
