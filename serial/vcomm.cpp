// The serial port table and its tty drivers: the panel's own serial port
// (SCI2, "/dev/ttySP0", row 0), the second port (SCI0, "/dev/ttySP3", row 1),
// the option-board port (SCI3, "/dev/ttySP2", row 2) and the USB gadget port
// (SCI4, "/dev/ttyGS0", logical port 3, outside the table). The four drivers
// share one shape; their differences are flags of the driver.
//
// Everything runs in the main loop and never waits: receive is a poll
// (CheckRx, then GetRx), and WaitRx runs whole main-loop passes while it
// waits, which skip the services the wait came from.
#include "serial/vcomm.h"
#include "base/trace.h"
#include "platform/board.h"
#include "platform/io.h"
#include "platform/pass_wait.h"
#include "platform/tick.h"
#include "platform/tty.h"
#include "regs/plc_reg.h"
#include "regs/sr.h"

#include <sys/ioctl.h>

#include <cstring>

const SerialOpenMode rism_mode = {5, 0, 3, 0, 0, 0x30};
const SerialOpenMode vibus_mode = {5, 0, 3, 0, 0, 1};
VcommDrv Vcomm_Drv[kVcommPorts];
uint32_t ProgrammingPort;
int FileDesForUSB = -1;

// clang-format off
const uint8_t serial_open_check[25] = {
    1, 3, 3, 3, 3,
    0, 1, 1, 1, 1,
    0, 1, 1, 0, 0,
    0, 1, 0, 1, 0,
    0, 1, 0, 0, 1,
};
// clang-format on

bool Vcomm_ProtocolChangeAllowed(unsigned current, unsigned requested) {
    current &= 0xF;
    requested &= 0xF;
    if (current <= 4 && requested <= 4) return serial_open_check[current * 5 + requested] != 0;
    // Protocols above 4 are not in the table. Back to the programming protocol
    // is always allowed (closing, leaving Run and the hand-backs reopen with
    // vibus_mode); a protocol above 4 may be entered from none, from the
    // programming protocol, or again from itself.
    if (requested == 1) return true;
    if (requested > 4) return current == 0 || current == 1 || current == requested;
    return false;
}

namespace {

constexpr int kRing = 2048;
constexpr int kBauds = 10;
// clang-format off
constexpr speed_t kBaudCode[kBauds] = {B300, B600, B1200, B2400, B4800,
                                       B9600, B19200, B38400, B57600, B115200};
// The RTU gap: 3.5 characters of 10 bits, in microseconds, by baud index.
constexpr uint32_t cnt_tbl[kBauds] = {116666, 58333, 29166, 14583, 7291,
                                      3645,   1822,  911,   607,   303};
// clang-format on
constexpr uint32_t kGpioLineSelect = 0x58038;
// Below this kernel build the tty does not detect the gap itself.
constexpr int kKernelGapBuild = 3545;

enum Kind { kSci0, kSci2, kSci3, kSci4 };

struct Driver {
    Kind kind;
    const char *device;
    int fd = -1;
    int SerialPort = 0;
    SerialOpenMode SerialMode{};
    termios NewTio{};
    uint8_t rx_buf[kRing]{};
    int rx_in = 0, rx_out = 0;
    uint8_t tx_buf[kRing]{};
    int tx_in = 0, tx_out = 0;
    uint8_t VirtualCmd = 0;
    uint8_t SerialStatus = 0;
    uint8_t hdRtu = 0;
    uint8_t rtu_index = 0;
    uint8_t timerMode = 0;
    uint32_t shortDelay = 0;
    uint8_t passCnt = 0;
    uint8_t rtu_check_kernel = 0;
    uint16_t KernelBuild = 0;
    uint8_t modem_mode = 0;
    uint8_t baud = 5; // the baud index in effect (an invalid request keeps it)
    short watched = 0;
    int seen_waiting = 0;

    uint8_t protocol() const { return SerialMode[5] & 0xF; }
    bool rtu() const { return protocol() == 3; }
    bool option_board() const { return kind == kSci3; }
    bool usb() const { return kind == kSci4; }
    int rx_count() const { return (rx_in - rx_out + kRing) % kRing; }
    int tx_count() const { return (tx_in - tx_out + kRing) % kRing; }
    void empty_rings() { rx_in = rx_out = tx_in = tx_out = 0; }

    // Open
    uint8_t open(const uint8_t *req);
    bool build_settings(const uint8_t *m);
    void setup_gap(const uint8_t *m);
    // Receive
    uint8_t check_rx();
    int count_rx();
    uint8_t get_rx();
    uint8_t wait_rx(uint8_t *byte);
    void flush_rx();
    // Send
    bool raw_write(const uint8_t *data, int count);
    uint8_t put_tx(uint8_t b);
    int putn_tx(const uint8_t *data, int count);
    int puts_tx(const char *text);
    void rtu_tx();
    uint8_t empty_tx();
    int count_tx();
    void flush_tx();
    // Gap timer and intercept mode
    void init_wait(uint32_t gap, uint32_t delay);
    int io_ctl(int request, uint32_t arg);
    void set_intercept(int flag);
    void stuff_rx(uint8_t b);
    uint8_t drain_tx(uint8_t *out);
    void close_line();
    void watch(short events);
};

Driver g_drv[4] = {
    {kSci0, "/dev/ttySP3"}, {kSci2, "/dev/ttySP0"}, {kSci3, "/dev/ttySP2"}, {kSci4, "/dev/ttyGS0"}};
VcommHooks g_hooks;
int g_usb_flag = '0'; // the gadget starts connected

int g_row_drv[kVcommPorts] = {-1, -1, -1}; // the driver installed in each row

void reset_driver(Driver &d, Kind kind, const char *device) {
    d = Driver{};
    d.kind = kind;
    d.device = device;
}

// The kernel build from the revision text "d.d.dd.dd" in %SR203 to %SR205.
uint16_t kernel_build() {
    uint16_t a = sr_get(sr::kKernelRev + 2), b = sr_get(sr::kKernelRev + 3),
             c = sr_get(sr::kKernelRev + 4);
    return uint16_t((a & 0xF) * 1000 + ((a >> 8) & 0xF) * 100 + ((b >> 8) & 0xF) * 10 + (c & 0xF));
}

template <int D> void gap_passed() {
    if (g_drv[D].rtu_index == 2) g_drv[D].rtu_index = 1;
}
using GapCallback = void (*)();
constexpr GapCallback kGapCallback[4] = {gap_passed<0>, gap_passed<1>, gap_passed<2>,
                                         gap_passed<3>};

int index_of(const Driver &d) {
    return int(&d - g_drv);
}

void Driver::watch(short events) {
    if (fd < 0) return;
    watched = events;
    PassWait_Watch(fd, events);
}

void Driver::close_line() {
    if (fd < 0) return;
    PassWait_Unwatch(fd);
    Tty_Close(fd);
    fd = -1;
}

bool Driver::build_settings(const uint8_t *m) {
    bool valid = true;
    termios &t = NewTio;
    std::memset(&t, 0, sizeof t);
    if (m[0] < kBauds)
        baud = m[0];
    else
        valid = false; // keeps the baud in effect, and its gap
    speed_t code = kBaudCode[baud];
    uint8_t line = m[5] >> 4;
    if (option_board() && (line == 3 || line == 7) && (m[5] & 0xF) != 0 &&
        !(g_hooks.serial_server && g_hooks.serial_server()))
        code = B115200;
    cfsetispeed(&t, code);
    cfsetospeed(&t, code);
    if (m[2] == 2)
        t.c_cflag |= CS7;
    else {
        t.c_cflag |= CS8;
        valid = valid && m[2] == 3;
    }
    switch (m[1]) {
    case 0:
        t.c_iflag |= IGNPAR;
        break;
    case 1:
        t.c_cflag |= PARENB | PARODD;
        break;
    case 2:
        t.c_cflag |= PARENB;
        break;
    default:
        valid = false;
    }
    if (m[3] == 1)
        t.c_cflag |= CSTOPB;
    else if (m[3] != 0)
        valid = false;
    switch (m[4]) {
    case 1:
        t.c_iflag |= IXON | IXOFF;
        break;
    case 2:
        if (kind != kSci0) t.c_cflag |= CRTSCTS; // SCI0 drops RTS instead (below)
        break;
    case 0:
    case 3:
    case 4:
    case 5:
        break;
    default:
        valid = false;
    }
    t.c_cflag |= CLOCAL | CREAD;
    t.c_oflag &= ~tcflag_t(OPOST);
    t.c_lflag &= ~tcflag_t(ICANON | ECHO | ECHOE | ISIG);
    t.c_lflag |= NOFLSH;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    return valid;
}

void Driver::setup_gap(const uint8_t *m) {
    if (hdRtu) RCT_Release(hdRtu);
    hdRtu = 0;
    rtu_check_kernel = 0;
    if ((m[5] & 0xF) != 3) {
        timerMode = 0;
        return;
    }
    KernelBuild = kernel_build();
    if (fd < 0) {
        // no line: the timer alone
    } else if (KernelBuild < kKernelGapBuild) {
        Tty_Request(fd, kTtyRtuGap, 0);
    } else {
        uint32_t gap = cnt_tbl[baud];
        if ((m[5] >> 4) == 0 || m[4] == 3) gap = gap / 35 * 90;
        // Only a tty that took the gap reports it; any other (a kernel
        // without the request, a pty) leaves the gap to the timer.
        if (Tty_Request(fd, kTtyRtuGap, long(gap)) == 0) rtu_check_kernel = 1;
        Tty_Request(fd, kTtyFrameReset, 0);
    }
    hdRtu = RCT_Allocate(kGapCallback[index_of(*this)]);
    RCT_Stop(hdRtu);
    RCT_Set(hdRtu, baud, 1);
    timerMode = 1;
}

uint8_t Driver::open(const uint8_t *req_in) {
    uint8_t req[kModeBytes];
    std::memcpy(req, req_in, kModeBytes); // the caller may pass our own record
    if (!Vcomm_ProtocolChangeAllowed(protocol(), req[5])) return 0;
    bool ok = true;
    if (fd >= 0 && (req[5] >> 4) == 1) {
        termios cur{};
        bool got = Tty_GetAttr(fd, &cur) == 0;
        cur.c_cflag &= ~tcflag_t(CREAD);
        ok = got && Tty_SetAttr(fd, TCSANOW, &cur) == 0;
    }
    std::memcpy(SerialMode, req, kModeBytes);
    if (uint32_t(SerialPort) == ProgrammingPort) sr_put(sr::kPortAction, req[5] & 0xF);

    if (kind == kSci3) {
        if ((req[5] >> 4) >= 2 && (req[5] >> 4) <= 9) {
            modem_mode = 3;
            if ((req[5] >> 4) != 5) Tty_Request(fd, TIOCMBIS, TIOCM_RTS);
        } else {
            modem_mode = 0;
        }
    }
    ok = build_settings(req) && ok;

    bool applied;
    if (kind == kSci3) {
        Tty_Flush(fd, TCIOFLUSH);
        applied = Tty_SetAttr(fd, TCSANOW, &NewTio) == 0;
    } else {
        applied = Tty_SetAttr(fd, TCSADRAIN, &NewTio) == 0;
    }
    if (applied && kind == kSci0) {
        Tty_Request(fd, kTtyLineDir, 1);
        Board_WriteReg(kGpioLineSelect, 16);
        if (req[4] == 2) Tty_Request(fd, TIOCMBIC, TIOCM_RTS);
    }
    Tty_Flush(fd, TCIOFLUSH);
    empty_rings();
    rtu_index = 0;
    SerialStatus = 0;
    seen_waiting = 0;

    setup_gap(req);
    return applied && ok ? 1 : 0;
}

int Driver::count_rx() {
    if (VirtualCmd) return rx_count();
    if (fd < 0) return 0;
    int n = Tty_InCount(fd);
    return n > 0 ? n : 0;
}

uint8_t Driver::check_rx() {
    if (VirtualCmd) return rx_count() ? 1 : 0;
    if (fd < 0) return 0;
    if (rtu_check_kernel && Tty_Request(fd, kTtyGapSeen, 0) > 0) return 255;
    bool any = !option_board() || Tty_Readable(fd);
    if (any && Tty_InCount(fd) > 0) return 1;
    // Outside Modbus RTU the gap is looked at only while a wait armed it.
    if (rtu() || timerMode == 2) {
        RctISR(0);
        if (rtu_index == 1) {
            rtu_index = 0;
            return 255;
        }
    }
    // Nothing waits: the loop may sleep until something comes.
    if (watched != POLLIN) watch(POLLIN);
    return 0;
}

uint8_t Driver::get_rx() {
    if (VirtualCmd) {
        if (!rx_count()) return 0;
        uint8_t b = rx_buf[rx_out];
        rx_out = (rx_out + 1) % kRing;
        return b;
    }
    uint8_t b = 0;
    if (fd < 0 || Tty_Read(fd, &b, 1) != 1) return 0;
    if (rtu() && !rtu_check_kernel) {
        // The gap is measured from the last byte.
        rtu_index = 2;
        RCT_Start(hdRtu);
    }
    return b;
}

uint8_t Driver::wait_rx(uint8_t *byte) {
    for (;;) {
        uint8_t r = check_rx();
        if (r == 1) {
            *byte = get_rx();
            timerMode = 1;
            return 1;
        }
        if (r == 255 || sr_get(sr::kRunMode) != sr::kModeRun || !g_hooks.wait_pass) {
            RCT_Stop(hdRtu);
            passCnt = 0;
            return 0;
        }
        if (!passCnt) {
            passCnt = 1;
            if (timerMode == 1) {
                RCT_Set(hdRtu, baud, 1);
                RCT_Start(hdRtu);
                rtu_index = 2;
            }
        }
        if (*byte == 0xAA) {
            passCnt = 0;
            return 2;
        }
        g_hooks.wait_pass();
    }
}

void Driver::flush_rx() {
    if (VirtualCmd)
        rx_in = rx_out = 0;
    else if (fd >= 0)
        Tty_Flush(fd, TCIFLUSH);
    if (!option_board() && fd >= 0) Tty_Request(fd, kTtyFrameReset, 0);
}

bool Driver::raw_write(const uint8_t *data, int count) {
    if (fd < 0 || count <= 0) return false;
    long n = Tty_Write(fd, data, size_t(count));
    if (usb()) {
        // The gadget needs a breath between writes (200 us on the tick).
        uint32_t start = FPGA_GetFrtStep();
        while (FPGA_GetFrtStep() - start < 2) {
        }
    }
    return n == count;
}

uint8_t Driver::put_tx(uint8_t b) {
    if (VirtualCmd) {
        if (tx_count() < kRing - 1) {
            tx_buf[tx_in] = b;
            tx_in = (tx_in + 1) % kRing;
        }
        return b;
    }
    if (fd < 0) return 0;
    if (rtu() && !usb()) {
        tx_buf[tx_in] = b;
        tx_in = (tx_in + 1) % kRing;
        return b;
    }
    Tty_Write(fd, &b, 1);
    return b;
}

int Driver::putn_tx(const uint8_t *data, int count) {
    if (!data || count <= 0) return 0;
    if (VirtualCmd || (option_board() && rtu())) {
        if (!VirtualCmd && fd < 0) return 0;
        for (int i = 0; i < count; ++i)
            put_tx(data[i]);
        return count;
    }
    return raw_write(data, count) ? count : 0;
}

int Driver::puts_tx(const char *text) {
    if (!text) return 0;
    int n = int(std::strlen(text));
    if (usb() || VirtualCmd || (option_board() && rtu())) {
        for (int i = 0; i < n; ++i)
            put_tx(uint8_t(text[i]));
        return (fd < 0 && !VirtualCmd) ? 0 : n;
    }
    raw_write(reinterpret_cast<const uint8_t *>(text), n);
    return fd < 0 ? 0 : n;
}

void Driver::rtu_tx() {
    if (usb() || VirtualCmd || fd < 0) return;
    if (tx_in > 0) Tty_Write(fd, tx_buf, size_t(tx_in));
    tx_in = tx_out = 0;
}

int Driver::count_tx() {
    if (VirtualCmd) return tx_count();
    if (fd < 0) return 0;
    int n = Tty_OutCount(fd);
    return n > 0 ? n : 0;
}

uint8_t Driver::empty_tx() {
    if (VirtualCmd) return tx_count() == 0;
    if (fd < 0) return 0;
    return Tty_OutCount(fd) == 0;
}

void Driver::flush_tx() {
    if (VirtualCmd)
        tx_in = tx_out = 0;
    else if (fd >= 0)
        Tty_Flush(fd, TCOFLUSH);
}

void Driver::init_wait(uint32_t gap, uint32_t delay) {
    if (!hdRtu) hdRtu = RCT_Allocate(kGapCallback[index_of(*this)]);
    RCT_Stop(hdRtu);
    rtu_index = 2;
    timerMode = 2;
    shortDelay = delay;
    RCT_Set(hdRtu, gap, 3);
    RCT_Start(hdRtu);
    RctISR(0);
}

int Driver::io_ctl(int request, uint32_t arg) {
    if (request == 1 || request == 2) {
        if (!hdRtu) hdRtu = RCT_Allocate(kGapCallback[index_of(*this)]);
        RCT_Stop(hdRtu);
        timerMode = 2;
        RCT_Set(hdRtu, arg, 3);
        RCT_Start(hdRtu);
        RctISR(0);
        return 1;
    }
    if (request == 3) return empty_tx();
    return 0;
}

void Driver::set_intercept(int flag) {
    if (flag) {
        empty_rings();
        VirtualCmd = 1;
    } else {
        VirtualCmd = 0;
        empty_rings();
        if (fd >= 0) Tty_Flush(fd, TCIOFLUSH);
    }
}

void Driver::stuff_rx(uint8_t b) {
    if (rx_count() >= kRing - 1) return;
    rx_buf[rx_in] = b;
    rx_in = (rx_in + 1) % kRing;
}

uint8_t Driver::drain_tx(uint8_t *out) {
    if (!tx_count()) return 0;
    if (out) *out = tx_buf[tx_out];
    tx_out = (tx_out + 1) % kRing;
    return 1;
}

// The table's operations of driver D.
template <int D> struct Ops {
    static Driver &d() { return g_drv[D]; }
    static uint8_t Open(int, const uint8_t *m) { return m ? d().open(m) : 0; }
    static uint8_t Test(int) { return 0; }
    static uint8_t StatusRx(int, int clear) {
        uint8_t s = d().SerialStatus;
        if (clear) d().SerialStatus = 0;
        return s;
    }
    static uint8_t CheckRx(int) { return d().check_rx(); }
    static int CountRx(int) { return d().count_rx(); }
    static void FlushRx(int) { d().flush_rx(); }
    static uint8_t GetRx(int) { return d().get_rx(); }
    static uint8_t EmptyTx(int) { return d().empty_tx(); }
    static uint8_t CheckTx(int) { return 1; }
    static int CountTx(int) { return d().count_tx(); }
    static void FlushTx(int) { d().flush_tx(); }
    static uint8_t PutTx(int, uint8_t b) { return d().put_tx(b); }
    static int PutnTx(int, const uint8_t *p, int n) { return d().putn_tx(p, n); }
    static int PutsTx(int, const char *s) { return d().puts_tx(s); }
    static void RtuTx(int) { d().rtu_tx(); }
    static uint8_t GetRts(int) { return 0; }
    static void SetCts(int, int) {}
    static uint8_t GetDtr(int) { return 0; }
    static void SetDsr(int, int) {}
    static uint8_t GetDCD(int) {
        return d().option_board() && d().modem_mode ? uint8_t(IoGetDCD() != 0) : 0;
    }
    static void Enable(int port, int on) {
        if (d().option_board() && d().modem_mode) IoPutDTR(port, on);
    }
    static void InitWait(int, uint32_t gap, uint32_t delay) { d().init_wait(gap, delay); }
    static uint8_t WaitRx(int, uint8_t *b) {
        uint8_t dummy = 0;
        return d().wait_rx(b ? b : &dummy);
    }
    static int IoCtl(int, int request, uint32_t arg) { return d().io_ctl(request, arg); }
    static void SetIntrcpt(int flag) { d().set_intercept(flag); }
    static void StuffRx(uint8_t b) { d().stuff_rx(b); }
    static uint8_t DrainTx(uint8_t *out) { return d().drain_tx(out); }

    static VcommDrv row() {
        return {d().SerialMode, Open,     Test,    StatusRx, CheckRx,    CountRx, FlushRx,
                GetRx,          EmptyTx,  CheckTx, CountTx,  FlushTx,    PutTx,   PutnTx,
                PutsTx,         RtuTx,    GetRts,  SetCts,   GetDtr,     SetDsr,  GetDCD,
                Enable,         InitWait, WaitRx,  IoCtl,    SetIntrcpt, StuffRx, DrainTx};
    }
};

// A row without a line: every operation does nothing and reports 0.
SerialOpenMode g_none_mode;
struct NoLine {
    static uint8_t Open(int, const uint8_t *) { return 0; }
    static uint8_t U8(int) { return 0; }
    static uint8_t U8i(int, int) { return 0; }
    static int I(int) { return 0; }
    static void V(int) {}
    static void Vi(int, int) {}
    static uint8_t Put(int, uint8_t) { return 0; }
    static int Putn(int, const uint8_t *, int) { return 0; }
    static int Puts(int, const char *) { return 0; }
    static void Wait(int, uint32_t, uint32_t) {}
    static uint8_t WaitRx(int, uint8_t *) { return 0; }
    static int IoCtl(int, int, uint32_t) { return 0; }
    static void Intr(int) {}
    static void Stuff(uint8_t) {}
    static uint8_t Drain(uint8_t *) { return 0; }
    static VcommDrv row() {
        return {g_none_mode, Open, U8,   U8i,    U8,    I,    V,     U8,   U8, U8,
                I,           V,    Put,  Putn,   Puts,  V,    U8,    Vi,   U8, Vi,
                U8,          Vi,   Wait, WaitRx, IoCtl, Intr, Stuff, Drain};
    }
};

template <int D> bool init_driver(int row, const uint8_t *start_mode) {
    Driver &d = g_drv[D];
    if (row >= 0 && row < kVcommPorts) {
        Vcomm_Drv[row] = Ops<D>::row();
        g_row_drv[row] = D;
    }
    d.SerialPort = row;
    d.close_line();
    d.fd = Tty_Open(d.device);
    std::memcpy(d.SerialMode, start_mode, kModeBytes);
    if (d.fd < 0) return false;
    d.watch(POLLIN);
    return d.open(start_mode) == 1;
}

// Bytes nobody takes must not wake the loop on every pass: a port whose
// waiting bytes stood untouched through a whole pass is watched again only
// when its receiver looks for more (CheckRx finding nothing) or more arrive.
void review_watches() {
    for (Driver &d : g_drv) {
        if (d.fd < 0) continue;
        int n = d.VirtualCmd ? 0 : Tty_InCount(d.fd);
        short want = (n > 0 && n == d.seen_waiting) ? 0 : POLLIN;
        d.seen_waiting = n;
        if (want != d.watched) d.watch(want);
    }
}

void reset_all() {
    for (Driver &d : g_drv)
        d.close_line();
    reset_driver(g_drv[0], kSci0, "/dev/ttySP3");
    reset_driver(g_drv[1], kSci2, "/dev/ttySP0");
    reset_driver(g_drv[2], kSci3, "/dev/ttySP2");
    reset_driver(g_drv[3], kSci4, "/dev/ttyGS0");
    for (VcommDrv &r : Vcomm_Drv)
        r = NoLine::row();
    for (int &i : g_row_drv)
        i = -1;
}

} // namespace

void Vcomm_SetHooks(const VcommHooks &hooks) {
    g_hooks = hooks;
}

void Vcomm_Init() {
    host::trace("Vcomm_Init");
    reset_all();
}

void SCI0_Init(int row) {
    host::trace("SCI0_Init");
    init_driver<0>(row, rism_mode);
}
void SCI2_Init(int row) {
    host::trace("SCI2_Init");
    init_driver<1>(row, rism_mode);
}
void SCI3_Init(int row) {
    host::trace("SCI3_Init");
    init_driver<2>(row, rism_mode);
}
void SCI4_Init(int port) {
    host::trace("SCI4_Init");
    Driver &d = g_drv[3];
    d.SerialPort = port;
    d.close_line();
    FileDesForUSB = -1;
    d.fd = Tty_Open(d.device);
    std::memcpy(d.SerialMode, vibus_mode, kModeBytes);
    if (d.fd < 0) return;
    FileDesForUSB = d.fd;
    d.watch(POLLIN);
    d.open(vibus_mode);
}

void USBPortMon() {
    host::trace("USBPortMon");
    review_watches();
    int c = Tty_UsbSuspendFlag();
    if (c < 0) return;
    int prev = g_usb_flag;
    g_usb_flag = c;
    if (prev == '0' && c == '1') {
        // The number is forgotten with the descriptor: it may come back as
        // someone else's (an accepted socket) while the port is closed.
        g_drv[3].close_line();
        FileDesForUSB = -1;
    } else if (prev == '1' && c == '0') {
        SCI4_Init(3);
    }
}

uint8_t SCI4_Open(int port, const uint8_t *mode) {
    return Ops<3>::Open(port, mode);
}
uint8_t SCI4_CheckRx(int port) {
    return Ops<3>::CheckRx(port);
}
int SCI4_CountRx(int port) {
    return Ops<3>::CountRx(port);
}
void SCI4_FlushRx(int port) {
    Ops<3>::FlushRx(port);
}
uint8_t SCI4_GetRx(int port) {
    return Ops<3>::GetRx(port);
}
uint8_t SCI4_EmptyTx(int port) {
    return Ops<3>::EmptyTx(port);
}
int SCI4_CountTx(int port) {
    return Ops<3>::CountTx(port);
}
void SCI4_FlushTx(int port) {
    Ops<3>::FlushTx(port);
}
uint8_t SCI4_PutTx(int port, uint8_t byte) {
    return Ops<3>::PutTx(port, byte);
}
int SCI4_PutnTx(int port, const uint8_t *data, int count) {
    return Ops<3>::PutnTx(port, data, count);
}
int SCI4_PutsTx(int port, const char *text) {
    return Ops<3>::PutsTx(port, text);
}
void SCI4_SetIntrcpt(int flag) {
    Ops<3>::SetIntrcpt(flag);
}
void SCI4_StuffRx(uint8_t byte) {
    Ops<3>::StuffRx(byte);
}
uint8_t SCI4_DrainTx(uint8_t *byte) {
    return Ops<3>::DrainTx(byte);
}
uint8_t *SCI4_Mode() {
    return g_drv[3].SerialMode;
}

int Vcomm_PortFd(int port) {
    if (port == 3) return g_drv[3].fd;
    if (port >= 0 && port < kVcommPorts && g_row_drv[port] >= 0) return g_drv[g_row_drv[port]].fd;
    return -1;
}

bool Vcomm_PortInfo(int port, VcommPortInfo *out) {
    Driver *d = nullptr;
    if (port == 3)
        d = &g_drv[3];
    else if (port >= 0 && port < kVcommPorts && g_row_drv[port] >= 0)
        d = &g_drv[g_row_drv[port]];
    if (!d || !out) return false;
    out->device = d->device;
    out->fd = d->fd;
    std::memcpy(out->mode, d->SerialMode, kModeBytes);
    out->waiting = d->count_rx();
    out->intercept = d->VirtualCmd != 0;
    out->timer = d->hdRtu;
    out->kernel_gap = d->rtu_check_kernel != 0;
    return true;
}

void Vcomm_Reset() {
    reset_all();
    ProgrammingPort = 0;
    FileDesForUSB = -1;
    g_usb_flag = '0';
    g_hooks = {};
}
