// User manager: the application's user table, login and logout, the
// inactivity time-out, the registers that publish who is logged in, and the
// access check of screen objects.
//
// Table (login_tbl, offsets from the block start): u32 checksum, u32 length,
// u8 user count, u8 flags (0x02 login enabled, 0x10 extended form), u16
// time-out in seconds; the extended form adds the u32 reference of the
// logged-in time counter and a u32 web flag. Then 36-byte user records from
// byte 12 (plain) or 20 (extended): u16 flags (1 name and password in
// registers, 2 stored here), i16 slot, u32 level or level register, 16 bytes
// name (or u32 name register), 12 bytes password (or u32 password register).
#include "base/le.h"
#include "base/trace.h"
#include "platform/tick.h"
#include "plc/appblocks.h"
#include "regs/plc_reg.h"
#include "regs/sr.h"
#include "screens/users_int.h"

#include <cstring>

UsrInfo usrInfo;
UserRecord CurUser;
uint8_t UserLoggedIn, UserAccessLevel, IsUserConfigValid;

namespace {

constexpr uint32_t kTableBytes = 65536;
constexpr uint32_t kMinLength = 40;
constexpr uint32_t kRecordBytes = 36;
constexpr uint32_t kNoRegister = 1024; // references up to this mean none
constexpr uint8_t kLoginEnabled = 0x02, kExtended = 0x10;
constexpr uint16_t kInRegisters = 0x1, kStored = 0x2;
// Link kinds of the user registers.
constexpr uint32_t kNameKind = 208, kPasswordKind = 202, kLevelKind = 196, kCounterKind = 194;
constexpr int kUserPool = 3, kStaticPool = 1;

struct State {
    UserHooks hooks;
    uint8_t flags;
    uint16_t timeout;
    uint32_t records; // offset of the first record
    uint32_t users;   // records wholly inside the block
    bool web;
    RCB *counter, *loginName;
    uint32_t startTick;
    uint16_t startTime;
    uint32_t count;
};
State g;

bool extended() {
    return (g.flags & kExtended) != 0;
}

const uint8_t *record(uint32_t i) {
    return login_tbl + g.records + i * kRecordBytes;
}

RCB *link(uint32_t ref, uint32_t kind) {
    if (ref <= kNoRegister || !g.hooks.link_reg32) return nullptr;
    return g.hooks.link_reg32(ref, kind);
}

void read(RCB *r, void *dst, uint32_t n) {
    std::memset(dst, 0, n);
    if (r && g.hooks.read_reg) g.hooks.read_reg(dst, r, n);
}

void write(RCB *r, const void *src, uint32_t n) {
    if (r && g.hooks.write_reg) g.hooks.write_reg(r, src, n);
}

// A bounded copy of a text of at most `n` characters, NUL-terminated.
template <size_t N> void text(char (&dst)[N], const void *src, size_t n) {
    std::memset(dst, 0, N);
    std::memcpy(dst, src, n < N - 1 ? n : N - 1);
}

// The slot of a record, or -1 when it lies outside the link table.
int slot_of(const uint8_t *rec) {
    int s = int16_t(le16(rec + 2));
    return s >= 0 && s < kUserSlots ? s : -1;
}

void log_in(int slot, const uint8_t *rec, const char *name, const char *password) {
    text(CurUser.name, name, std::strlen(name));
    text(CurUser.password, password, std::strlen(password));
    if (RCB *lv = usrInfo.slot[slot].level) {
        uint8_t b[4];
        read(lv, b, 4);
        CurUser.level = b[0];
    } else {
        CurUser.level = rec[4];
    }
    UserLoggedIn = 1;
    usrInfo.current = uint16_t(slot);
    UserAccessLevel = CurUser.level;
    g.startTick = FPGA_GetFrt();
    if (extended() && g.loginName) {
        char out[16] = {};
        std::memcpy(out, CurUser.name, 16);
        write(g.loginName, out, 16);
    }
    if (le16(rec) & kInRegisters) g.startTime = sr_get(sr::kClock);
}

} // namespace

RCB *Language_LinkRegister(uint32_t link, uint32_t size) {
    return g.hooks.link_reg32 ? g.hooks.link_reg32(link, size) : nullptr;
}

void Language_ReadRegister(const RCB *rcb, void *dst, uint32_t n) {
    std::memset(dst, 0, n);
    if (rcb && g.hooks.read_reg) g.hooks.read_reg(dst, rcb, n);
}

void USRMGR_SetHooks(const UserHooks &hooks) {
    g.hooks = hooks;
}

void USRMGR_Init() {
    host::trace("USRMGR_Init");
    g.count = 0;
    g.counter = g.loginName = nullptr;
    g.users = 0;
    std::memset(usrInfo.slot, 0, sizeof usrInfo.slot);
    usrInfo.table = nullptr;
    IsUserConfigValid = 0;
    CurUser = UserRecord{};
    UserLoggedIn = 0;
    usrInfo.current = 0;
    const uint32_t length = le32(login_tbl + 4);
    if (length < kMinLength) return;
    IsUserConfigValid = 1;
    usrInfo.table = login_tbl + 8;
    // Nothing past the block is read: records that do not lie wholly inside
    // its data are not users.
    const uint32_t end = length > kTableBytes - 8 ? kTableBytes : length + 8;
    g.flags = login_tbl[9];
    g.timeout = le16(login_tbl + 10);
    g.records = extended() ? 20 : 12;
    g.web = extended() && le32(login_tbl + 16) == 1;
    const uint32_t room = end > g.records ? (end - g.records) / kRecordBytes : 0;
    g.users = login_tbl[8] < room ? login_tbl[8] : room;

    // The users' links come from a pool of their own, so that a large table
    // does not use up the static objects' pool; the counter and the
    // logged-in name are linked once and shared by every slot.
    if (g.hooks.reset_rcbs) g.hooks.reset_rcbs(kUserPool);
    if (extended()) {
        const uint32_t ref = le32(login_tbl + 12);
        g.counter = link(ref, kCounterKind);
        const uint32_t zero[4] = {};
        write(g.counter, zero, 4);
        if (ref > kNoRegister) {
            const bool iec = g.hooks.iec_enumerated && g.hooks.iec_enumerated();
            g.loginName = link(ref + (iec ? 4 : 32), kNameKind);
            write(g.loginName, zero, 16);
        }
        for (uint32_t i = 0; i < g.users; ++i) {
            usrInfo.slot[i].counter = g.counter;
            usrInfo.slot[i].loginName = g.loginName;
        }
    }
    if ((g.flags & kLoginEnabled) && g.users) {
        for (uint32_t i = 0; i < g.users; ++i) {
            const uint8_t *rec = record(i);
            const int s = slot_of(rec);
            if (s < 0) continue;
            if (le16(rec) & kInRegisters) {
                usrInfo.slot[s].name = link(le32(rec + 8), kNameKind);
                usrInfo.slot[s].password = link(le32(rec + 24), kPasswordKind);
            }
            if (le16(rec) & (kInRegisters | kStored))
                usrInfo.slot[s].level = link(le32(rec + 4), kLevelKind);
        }
    }
    if (g.hooks.select_rcbs) g.hooks.select_rcbs(kStaticPool);
    // A web interface that uses this table restarts with it.
    if (g.web && g.hooks.web_state) *g.hooks.web_state = 0;
}

int ValidateUser(const char *name, const char *password) {
    host::trace("ValidateUser");
    if (!name || !password || !*name || !*password) return 0;
    if (UserLoggedIn || !IsUserConfigValid || !(g.flags & kLoginEnabled) || !g.users) return 0;
    for (uint32_t i = 0; i < g.users; ++i) {
        const uint8_t *rec = record(i);
        const int s = slot_of(rec);
        if (s < 0) continue;
        const uint16_t f = le16(rec);
        if (f & kInRegisters) {
            char reg_name[17], reg_password[11];
            uint8_t raw[16];
            read(usrInfo.slot[s].name, raw, 16);
            text(reg_name, raw, 16);
            if (std::strncmp(reg_name, name, 16) != 0) continue;
            read(usrInfo.slot[s].password, raw, 10);
            text(reg_password, raw, 10);
            if (std::strcmp(reg_password, password) != 0) return 0;
            log_in(s, rec, name, password);
            return 1;
        }
        if (f & kStored) {
            char stored_name[17], stored_password[13];
            text(stored_name, rec + 8, 16);
            if (std::strncmp(stored_name, name, 16) != 0) continue;
            text(stored_password, rec + 24, 12);
            if (std::strcmp(stored_password, password) != 0) return 0;
            log_in(s, rec, name, password);
            return 1;
        }
    }
    return 0;
}

void USRMGR_logout() {
    host::trace("USRMGR_logout");
    CurUser = UserRecord{};
    UserLoggedIn = 0;
    usrInfo.current = 0;
    g.count = 0;
    if (extended()) {
        const uint8_t zero[16] = {};
        write(usrInfo.slot[0].counter, zero, 4);
        write(g.loginName, zero, 16);
    }
}

void USRMGR_resetTimeout() {
    g.startTick = FPGA_GetFrt();
}

int UserGotAccess(int level) {
    if (level == 0 || !IsUserConfigValid) return 1;
    return UserLoggedIn && UserAccessLevel >= level ? 1 : 0;
}

void USRMGR_Update() {
    host::trace("USRMGR_Update");
    if (UserLoggedIn) {
        const UsrSlot &slot = usrInfo.slot[usrInfo.current];
        if (extended() && g.counter) {
            const uint16_t now = sr_get(sr::kClock);
            if (now != g.startTime) {
                uint8_t b[4];
                put_le32(b, g.count);
                write(g.counter, b, 4);
                ++g.count;
                g.startTime = now;
            }
        }
        // A time-out of 0 logs the user out on the next pass.
        const uint32_t elapsed = FPGA_GetFrt() - g.startTick;
        if (g.timeout == 0 || elapsed > uint32_t(g.timeout) * 10000u) {
            USRMGR_logout();
        } else if (slot.name) {
            uint8_t raw[16];
            char now_name[17], now_password[11];
            read(slot.name, raw, 16);
            text(now_name, raw, 16);
            if (std::strncmp(now_name, CurUser.name, 16) != 0) {
                USRMGR_logout();
            } else {
                read(slot.password, raw, 10);
                text(now_password, raw, 10);
                if (std::strcmp(now_password, CurUser.password) != 0) USRMGR_logout();
            }
        }
    }
    if (g.web && g.hooks.web_state && *g.hooks.web_state == 4 && g.hooks.web_user_logged_in &&
        g.hooks.web_user_logged_in() && g.hooks.web_login_time)
        g.hooks.web_login_time();
}

void Users_Reset() {
    const UserHooks hooks = g.hooks;
    g = State{};
    g.hooks = hooks;
    std::memset(static_cast<void *>(&usrInfo), 0, sizeof usrInfo);
    CurUser = UserRecord{};
    UserLoggedIn = UserAccessLevel = IsUserConfigValid = 0;
}
