// VIDPS objects with the playback thread and the stand-in player: the page
// open resets the command register and fills the control block, command bit 0
// starts the player (its command line recorded) and opens the pipeline's hole,
// the player's own end closes it, leaving the page stops playback, and file
// names from registers are bounded and refused when they could act on a
// command line.
#include "host/player.h"
#include "host/shell.h"
#include "objects_fixture.h"
#include "platform/pxp.h"

#include <signal.h>

#include <chrono>
#include <functional>
#include <thread>

namespace {

using namespace rec;

constexpr int kCmd = 20, kStat = 21, kName = 30;

class VidpsTest : public ObjectsTest {
protected:
    VidpsCntrl *b = nullptr;
    void SetUp() override {
        ObjectsTest::SetUp();
        b = VidpsConfig();
        VideoPlayStreamInit();
    }
    // A window at (100, 60) - (420, 300) playing the file named in %R30...
    void window(uint32_t flags = 0x1 | 0x4) {
        build({{33, flags, 100, 60, 420, 300}});
        const Rec &r = recs[0];
        r.u16(vidps::kOptions, 0x2);
        r.u16(vidps::kSourceKind, 1);
        r.u16(vidps::kStatus, uint16_t(r_ref(kStat)));
        r.u16(vidps::kParam1, 25);
        r.u16(vidps::kCommand, uint16_t(r_ref(kCmd)));
        r.u16(vidps::kFileName, uint16_t(r_ref(kName)));
    }
    static void name(const std::string &text) {
        std::memset(r_ptr(kName), 0, 400);
        std::memcpy(r_ptr(kName), text.data(), text.size());
    }
    // Real time: the player is a real process. With `passes` the screen loop
    // runs meanwhile (not after the page is gone).
    bool eventually(const std::function<bool()> &done, bool passes = true) {
        for (int i = 0; i < 500; ++i) {
            if (passes) pass();
            if (done()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    static std::string player_command() {
        for (const std::string &line : host::shell_log())
            if (line.rfind(host::kPlayerCommand, 0) == 0) return line;
        return "";
    }
    static bool hole(RECT *r) { return PXP_Hole(r); }
};

TEST_F(VidpsTest, PlaysStopsAndLeaves) {
    write_file("/mnt/USB0/clip.mp4", "x");
    name("clip.mp4");
    *r_ptr(kCmd) = 1; // left over from before: the page must not start video
    b->state = kVidRunning | kVidStopped | 0x4;
    window();
    open();
    EXPECT_EQ(*r_ptr(kCmd), 0);
    EXPECT_EQ(b->state.load(), kVidRunning | kVidMayPlay) << "the player's running bit stays";
    EXPECT_EQ(b->x.load(), 101);
    EXPECT_EQ(b->width.load(), 319);
    EXPECT_EQ(b->frame_rate.load(), 25);
    b->state = kVidMayPlay;
    RECT h;
    EXPECT_FALSE(hole(&h));

    *r_ptr(kCmd) = 1;
    pass();
    ASSERT_TRUE(hole(&h));
    EXPECT_EQ(h.left, 101);
    EXPECT_EQ(h.top, 61);
    EXPECT_EQ(h.right, 420);
    EXPECT_EQ(h.bottom, 300);
    ASSERT_TRUE(eventually([] { return le16(r_ptr(kStat)) & kVidPlaying; }));
    EXPECT_EQ(player_command(),
              "/mnt/cfg/mplayer -slave -input file=/dev/shm/mplayercnt -really-quiet -geometry "
              "101:61 -fps 25 -vf crop=319:239 -nosound -ni /mnt/USB0/clip.mp4");

    // The player ends by itself: the hole closes and the command goes back to 0.
    ::kill(host::player_pid(), SIGTERM);
    ASSERT_TRUE(eventually([&] { return !hole(&h); }));
    pass(); // the status reaches its register on the next update
    EXPECT_EQ(*r_ptr(kCmd), 0);
    EXPECT_EQ(le16(r_ptr(kStat)) & kVidPlaying, 0);

    // Played again, then the page is left: playback stops.
    host::shell_log_clear();
    *r_ptr(kCmd) = 1;
    ASSERT_TRUE(eventually([] { return le16(r_ptr(kStat)) & kVidPlaying; }));
    OBJM_DestroyPage();
    EXPECT_FALSE(hole(&h));
    EXPECT_EQ(*r_ptr(kCmd), 0);
    ASSERT_TRUE(eventually([&] { return (b->state & kVidStopped) != 0; }, false));
    EXPECT_EQ(b->state.load() & kVidMayPlay, 0u);
}

TEST_F(VidpsTest, NamesFromRegistersAreBoundedAndChecked) {
    struct Case {
        const char *what;
        std::string name;
        bool plays;
    } cases[] = {
        {"plain", "clip.mp4", true},
        {"no terminator in reach", std::string(400, 'a'), false},
        {"shell characters", "clip.mp4;rm", false},
        {"a blank", "my clip.mp4", false},
        {"a substitution", "$(id).mp4", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        write_file("/mnt/USB0/" + c.name.substr(0, 200), "x");
        host::shell_log_clear();
        name(c.name);
        window();
        open();
        *r_ptr(kCmd) = 1;
        const uint16_t want = c.plays ? kVidPlaying : kVidBadFile;
        ASSERT_TRUE(eventually([&] { return le16(r_ptr(kStat)) & want; }));
        EXPECT_EQ(player_command().empty(), !c.plays);
        OBJM_DestroyPage();
        // The playback thread has seen the command taken back.
        ASSERT_TRUE(eventually(
            [&] {
                return b->busy == 0 && !(b->state & kVidRunning) &&
                       !(b->status & (kVidPlaying | kVidBadFile));
            },
            false));
    }
}

} // namespace
