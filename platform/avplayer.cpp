// Video playback: an outside media player in slave mode shows a video file
// or a camera in a rectangle of the screen; a thread of its own starts,
// pauses and stops it through a named pipe and reports back in the control
// block.
//
// The player is a child of the panel that is reaped by its pid with the
// panel's other children; child-end signals keep their default action, so
// the exit status of every other command stays readable.
#include "base/trace.h"
#include "host/player.h"
#include "host/root.h"
#include "host/shell.h"
#include "host/thread.h"
#include "platform/unit.h"
#include "platform/video.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr const char *kPipe = "/dev/shm/mplayercnt";

struct Playback {
    VidpsCntrl block{};
    uint32_t control = 0;         // command bits carried out: bit 0 playing, bit 1 paused
    std::atomic<int> playing{0};  // VideoPlaying: the player reads the pipe
    std::atomic<int> stop_req{0}; // StopTheVideo
    std::atomic<bool> quit{false};
    pthread_t thread{};
    bool thread_started = false;
};
Playback g;

bool ending() {
    return g.quit.load();
}

// Sleeps in real time (the player is a real process), cut short when the
// thread is asked to end.
void nap_us(unsigned us) {
    if (!ending()) ::usleep(us);
}

// True while something reads the pipe: opening it for writing without
// blocking succeeds only then.
bool pipe_has_reader() {
    int fd = ::open(host::path(kPipe).c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

void send(const char *command) {
    host::shell(std::string("echo \"") + command + "\" > " + kPipe);
}

void set_status(uint16_t set, uint16_t clear) {
    uint16_t s = g.block.status;
    g.block.status = uint16_t((s & ~clear) | set);
}
void set_state(uint32_t set, uint32_t clear) {
    uint32_t s = g.block.state;
    g.block.state = (s & ~clear) | set;
}

// The file's board path, or an empty text for a name that is not valid.
std::string file_path(const char *name) {
    if (!name) return "";
    size_t len = strnlen(name, 514);
    if (len > 512 || len < 4 || name[len - 4] != '.') return "";
    const char *p = name;
    for (int i = 0; i < 49 && *p && (*p == ' ' || static_cast<unsigned char>(*p) < 0x20); ++i)
        ++p;
    std::string path = "/mnt/USB0/";
    const size_t start = path.size();
    if (p[0] && p[1] == ':') { // a drive prefix
        if (p[0] == 'b' || p[0] == 'B') path = "/mnt/USB1/";
        p += 2;
    }
    if (*p == '/' || *p == '\\') ++p;
    for (int n = 0; *p && n < 200; ++p, ++n) {
        if (p[0] == ' ' && p[1] == ' ') break;
        path += *p == '\\' ? '/' : *p;
    }
    // Names may come from registers that a remote peer writes: a name that
    // could act on a command line (shell characters, blanks, control
    // characters) is refused, though the player is started without a shell.
    for (size_t i = start; i < path.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(path[i]);
        if (c <= ' ' || c == 0x7F || std::strchr(";&|$<>'\"`", c)) return "";
    }
    return path;
}

void step() {
    VidpsCntrl &b = g.block;
    uint32_t cmd = b.command;
    if ((cmd & kVidPlay) && !(g.control & kVidPlay) && (b.state & kVidMayPlay) && !g.playing) {
        g.control |= kVidPlay;
        b.busy = 1;
        VideoStart();
        // A bad input or file name started nothing: no pipe to wait for.
        bool started = (b.state & kVidRunning) != 0;
        for (int i = 0; started && i < 500 && !ending(); ++i) {
            if (pipe_has_reader()) {
                set_status(kVidPlaying, 0);
                g.playing = 1;
                break;
            }
            nap_us(10000);
        }
        b.busy = 0;
    } else if (!(cmd & kVidPlay) && (g.control & kVidPlay)) {
        if (b.state & kVidRunning) {
            b.busy = 1;
            VideoSendStop();
            for (int i = 0; i < 500 && pipe_has_reader() && !ending(); ++i)
                nap_us(10000);
            b.busy = 0;
        }
        g.control &= ~kVidPlay;
        set_status(0, uint16_t(kVidPlaying | 0xF0));
    }
    cmd = b.command;
    if ((cmd ^ g.control) & kVidPause) {
        g.control ^= kVidPause;
        set_status(uint16_t(~b.status & kVidPaused), uint16_t(b.status & kVidPaused));
        b.busy = 1;
        if (pipe_has_reader()) send("pause");
        b.busy = 0;
    }
    if (g.playing && !pipe_has_reader()) { // the player ended by itself
        // Nor is it paused any more: the applied pause goes with it.
        set_status(0, kVidPlaying | kVidPaused | kVidBadFile);
        set_state(kVidStopped, kVidRunning);
        g.control = 0;
        b.command = 0;
        g.playing = 0;
        host::reap_children();
    }
}

void *VideoPlayback(void *) {
    std::snprintf(g.block.pipe, sizeof g.block.pipe, "%s", kPipe);
    std::string pipe = host::path(kPipe);
    host::make_dirs("/dev/shm");
    ::mkfifo(pipe.c_str(), 0777);
    while (!ending()) {
        if (!g.stop_req) {
            if (!Cmd_Downloading) step();
            for (int i = 0; i < 10 && !g.stop_req && !ending(); ++i)
                nap_us(10000);
        } else {
            if (g.control) {
                VideoSendStop();
                g.control = 0;
                // The player is gone: it neither plays nor pauses any more.
                set_status(0, kVidPlaying | kVidPaused);
            } else {
                // The player ended by itself just as the stop was asked:
                // nothing is left to stop, and a request left standing
                // would keep every later play from starting.
                g.stop_req = 0;
            }
            nap_us(5000);
        }
    }
    return nullptr;
}

} // namespace

VidpsCntrl *VidpsConfig() {
    return &g.block;
}

void VideoPlayStreamInit() {
    host::trace("VideoPlayStreamInit");
    g.stop_req = 0;
    if (g.thread_started) return;
    g.quit = false;
    if (host::thread_create(&g.thread, VideoPlayback, nullptr) == 0) g.thread_started = true;
}

void VideoStop() {
    if ((g.block.state & kVidRunning) && !g.stop_req) g.stop_req = 1;
}

void VideoStart() {
    VidpsCntrl &b = g.block;
    long rate = b.frame_rate.load();
    if (rate < 1 || rate > 30) rate = 30;
    auto num = [](long v) { return std::to_string(v); };
    // The player gets an argument vector: no shell sees the file name.
    std::vector<std::string> argv{host::kPlayerCommand,
                                  "-slave",
                                  "-input",
                                  std::string("file=") + kPipe,
                                  "-really-quiet",
                                  "-geometry",
                                  num(long(b.x)) + ":" + num(long(b.y)),
                                  "-fps",
                                  num(rate)};
    if (b.source == 2) {
        uint16_t input = b.camera_input;
        if (input < 1 || input > 4) {
            set_status(kVidBadInput, 0);
            return;
        }
        set_status(0, kVidBadInput);
        argv.insert(argv.end(), {"tv://1", "-tv",
                                 "driver=v4l2:device=/dev/video" + num(input - 1) + ":width=" +
                                     num(long(b.width)) + ":height=" + num(long(b.height)),
                                 "-nosound"});
    } else {
        std::string path = file_path(b.file_name);
        FILE *f = path.empty() ? nullptr : std::fopen(host::path(path).c_str(), "rb");
        if (!f) {
            set_status(kVidBadFile, 0);
            return;
        }
        std::fclose(f);
        set_status(0, kVidBadFile);
        argv.insert(argv.end(), {"-vf",
                                 std::string((b.command & kVidScale) ? "scale" : "crop") + "=" +
                                     num(long(b.width)) + ":" + num(long(b.height)),
                                 "-nosound", "-ni", path});
    }
    set_state(kVidRunning, 0);
    host::shell_argv(argv);
}

void VideoSendStop() {
    if (pipe_has_reader() && g.playing) {
        send("quit");
        for (int i = 0; i < 5000 && pipe_has_reader(); ++i)
            ::usleep(100);
        g.playing = 0;
    }
    host::reap_children();
    set_status(0, kVidBadFile);
    g.stop_req = 0;
    set_state(kVidStopped, kVidRunning);
    g.block.command = 0;
}

void Video_Reset() {
    if (g.thread_started) {
        g.quit = true;
        pthread_join(g.thread, nullptr);
    }
    host::end_child(host::player_pid());
    host::player_reset();
    VidpsCntrl &b = g.block;
    b.source = 0;
    b.frame_rate = 0;
    b.camera_input = 0;
    b.command = 0;
    b.file_name = nullptr;
    b.state = 0;
    b.status = 0;
    b.busy = 0;
    b.x = b.y = b.width = b.height = 0;
    std::memset(b.pipe, 0, sizeof b.pipe);
    g.control = 0;
    g.playing = 0;
    g.stop_req = 0;
    g.quit = false;
    g.thread_started = false;
}
