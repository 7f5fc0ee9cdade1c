// Video playback with the stand-in player: the command line, the pipe
// commands and the states reported in the control block.
#include "host/player.h"
#include "host/root.h"
#include "host/shell.h"
#include "panel_fixture.h"
#include "platform/video.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

class PlaybackTest : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        b = VidpsConfig();
        b->x = 10;
        b->y = 20;
        b->width = 320;
        b->height = 240;
        b->frame_rate = 25;
        b->state = kVidMayPlay;
        VideoPlayStreamInit();
    }
    // Real time: the player is a real process.
    static bool eventually(const std::function<bool()> &ok, int ms = 5000) {
        for (int i = 0; i < ms / 10; ++i) {
            if (ok()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return ok();
    }
    std::string player_log() {
        std::ifstream f(host::path("/dev/shm/mplayercnt.log"));
        std::stringstream s;
        s << f.rdbuf();
        return s.str();
    }
    std::string player_command() {
        for (const std::string &line : host::shell_log())
            if (line.rfind(host::kPlayerCommand, 0) == 0) return line;
        return "";
    }
    VidpsCntrl *b = nullptr;
};

TEST_F(PlaybackTest, FilePlaysPausesAndStops) {
    write_file("/mnt/USB1/clips/demo.avi", "not really a video");
    b->file_name = "  B:\\clips\\demo.avi";
    b->frame_rate = 45; // out of range: 30
    b->command = kVidPlay | kVidScale;
    ASSERT_TRUE(eventually([&] { return (b->status & kVidPlaying) != 0; }));
    EXPECT_EQ(player_command(),
              "/mnt/cfg/mplayer -slave -input file=/dev/shm/mplayercnt -really-quiet -geometry "
              "10:20 -fps 30 -vf scale=320:240 -nosound -ni /mnt/USB1/clips/demo.avi");
    EXPECT_TRUE(b->state & kVidRunning);
    EXPECT_EQ(std::string(b->pipe), "/dev/shm/mplayercnt");

    b->command = kVidPlay | kVidScale | kVidPause;
    ASSERT_TRUE(eventually([&] { return (b->status & kVidPaused) != 0; }));
    ASSERT_TRUE(eventually([&] { return player_log().find("\npause\n") != std::string::npos; }));

    // Clearing the play bit while paused stops the player and clears both
    // status bits.
    b->command = kVidPause;
    ASSERT_TRUE(eventually([&] { return (b->state & kVidStopped) != 0; }));
    ASSERT_TRUE(eventually([&] { return (b->status & (kVidPlaying | kVidPaused)) == 0; }));
    EXPECT_FALSE(b->state & kVidRunning);
    EXPECT_EQ(b->command, 0u);
    ASSERT_TRUE(
        eventually([&] { return player_log().find("\nquit\nended") != std::string::npos; }));
    EXPECT_NE(host::shell_log().end(), std::find(host::shell_log().begin(), host::shell_log().end(),
                                                 "echo \"quit\" > /dev/shm/mplayercnt"));

    // The player was reaped by its pid: other commands still get their exit
    // status.
    EXPECT_EQ(host::run_argv({"sh", "-c", "exit 3"}), 3);
}

TEST_F(PlaybackTest, CameraInputsAndTheirDevices) {
    b->source = 2;
    b->camera_input = 5;
    b->command = kVidPlay;
    ASSERT_TRUE(eventually([&] { return (b->status & kVidBadInput) != 0; }));
    EXPECT_EQ(player_command(), "");
    // A stop lets the next play start afresh.
    b->command = 0;
    ASSERT_TRUE(eventually([&] { return b->busy == 0 && (b->status & kVidBadInput) == 0; }));
    b->camera_input = 2;
    b->frame_rate = 0;
    b->command = kVidPlay;
    ASSERT_TRUE(eventually([&] { return (b->status & kVidPlaying) != 0; }));
    EXPECT_EQ(player_command(),
              "/mnt/cfg/mplayer -slave -input file=/dev/shm/mplayercnt -really-quiet -geometry "
              "10:20 -fps 30 tv://1 -tv driver=v4l2:device=/dev/video1:width=320:height=240 "
              "-nosound");
    // The screen manager's stop (a new page) ends it.
    VideoStop();
    ASSERT_TRUE(eventually([&] { return (b->state & kVidStopped) != 0; }));
    EXPECT_EQ(b->status & kVidPlaying, 0);
}

TEST_F(PlaybackTest, BadFileNamesStartNothing) {
    write_file("/mnt/USB0/clip.mp4", "x");
    // Names a remote peer may write into registers: each file exists, yet a
    // name that could act on a command line is refused.
    const char *const shellish[] = {"a;b.mp4", "a b.mp4", "$(id).mp4", "`id`.mp4", "a|b.mp4",
                                    "a&b.mp4", "a>b.mp4", "a'b.mp4",   "a\"b.mp4", "a\tb.mp4"};
    for (const char *name : shellish)
        write_file(std::string("/mnt/USB0/") + name, "x");
    std::vector<const char *> names{"clip", "clip.mpeg", "missing.avi", ""};
    names.insert(names.end(), std::begin(shellish), std::end(shellish));
    for (const char *name : names) {
        SCOPED_TRACE(name);
        host::shell_log_clear();
        b->file_name = name;
        b->command = kVidPlay;
        ASSERT_TRUE(eventually([&] { return (b->status & kVidBadFile) != 0; }));
        EXPECT_EQ(player_command(), "");
        // Taking the command back clears the mark once the playback thread has
        // seen it, and only then can the next name's command be a new one.
        b->command = 0;
        ASSERT_TRUE(eventually([&] { return (b->status & kVidBadFile) == 0 && b->busy == 0; }));
    }
}

TEST_F(PlaybackTest, APlayerThatEndsByItselfIsReportedStopped) {
    write_file("/mnt/USB0/clip.mp4", "x");
    b->file_name = "clip.mp4";
    b->command = kVidPlay;
    ASSERT_TRUE(eventually([&] { return (b->status & kVidPlaying) != 0; }));
    EXPECT_NE(player_command().find("-vf crop=320:240 -nosound -ni /mnt/USB0/clip.mp4"),
              std::string::npos);
    ASSERT_GT(host::player_pid(), 0);
    ::kill(host::player_pid(), SIGTERM);
    ASSERT_TRUE(eventually([&] { return (b->state & kVidStopped) != 0; }));
    EXPECT_EQ(b->status & kVidPlaying, 0);
    EXPECT_EQ(b->command, 0u);

    // Ended while paused: the status no longer says paused, so the next
    // play and its pause toggle report what the player does.
    b->state = kVidMayPlay;
    b->command = kVidPlay;
    ASSERT_TRUE(eventually([&] { return (b->status & kVidPlaying) != 0; }));
    b->command = kVidPlay | kVidPause;
    ASSERT_TRUE(eventually([&] { return (b->status & kVidPaused) != 0; }));
    ::kill(host::player_pid(), SIGTERM);
    ASSERT_TRUE(eventually([&] { return (b->state & kVidStopped) != 0; }));
    EXPECT_EQ(b->status & (kVidPlaying | kVidPaused), 0);
    b->state = kVidMayPlay;
    b->command = kVidPlay;
    ASSERT_TRUE(eventually([&] { return (b->status & kVidPlaying) != 0; }));
    EXPECT_EQ(b->status & kVidPaused, 0);
}

TEST_F(PlaybackTest, AStopAskedJustAsThePlayerEndedByItselfDoesNotBlockTheNextPlay) {
    // The screen manager saw the player running and asked for a stop while
    // the playback thread found it gone: nothing is left to stop.
    b->state = kVidMayPlay | kVidRunning;
    VideoStop();
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    b->state = kVidMayPlay | kVidStopped;
    write_file("/mnt/USB0/clip.mp4", "x");
    b->file_name = "clip.mp4";
    b->command = kVidPlay;
    ASSERT_TRUE(eventually([&] { return (b->status & kVidPlaying) != 0; }));
    VideoStop();
    ASSERT_TRUE(eventually([&] { return (b->state & kVidRunning) == 0; }));
}

} // namespace
