// User manager and text language: the user table, login and logout, the
// inactivity time-out, the published login registers, access levels, and the
// language register that moves the texts to another segment.
#include "base/le.h"
#include "base/trace.h"
#include "gdi/field.h"
#include "host/clock.h"
#include "plc/appblocks.h"
#include "regs/plc_reg.h"
#include "screens/screens.h"
#include "support/panel_fixture.h"
#include "system/reglink.h"
#include "web/web.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

uint32_t r_ref(int n) {
    return reg::kRefR + 16u * uint32_t(n - 1);
}
uint8_t *r_ptr(int n) {
    return plc_reg + reg::kR + 2u * uint32_t(n - 1);
}
void put_text(int reg, const std::string &s, size_t n) {
    std::memset(r_ptr(reg), 0, n);
    std::memcpy(r_ptr(reg), s.data(), std::min(n, s.size()));
}

struct User {
    std::string name, password;
    uint32_t level = 0;
    int name_reg = 0, password_reg = 0; // register form when set
};

struct Table {
    uint8_t flags = 0x02;
    uint16_t timeout = 600;
    bool extended = false;
    uint32_t counter = 0;
    uint32_t web = 0;
    int count = -1;      // the user count byte (default: the users given)
    int cut_records = 0; // records left out of the block's length
};

// Writes login_tbl: block header, table header and 36-byte records.
void load_users(const Table &t, const std::vector<User> &users) {
    std::vector<uint8_t> d(t.extended ? 12 : 4, 0);
    d[0] = uint8_t(t.count >= 0 ? t.count : int(users.size()));
    d[1] = uint8_t(t.flags | (t.extended ? 0x10 : 0));
    put_le16(d.data() + 2, t.timeout);
    if (t.extended) {
        put_le32(d.data() + 4, t.counter);
        put_le32(d.data() + 8, t.web);
    }
    for (size_t i = 0; i < users.size(); ++i) {
        const User &u = users[i];
        uint8_t r[36] = {};
        put_le16(r, u.name_reg ? 1 : 2);
        put_le16(r + 2, uint16_t(i));
        put_le32(r + 4, u.level);
        if (u.name_reg) {
            put_le32(r + 8, r_ref(u.name_reg));
            put_le32(r + 24, r_ref(u.password_reg));
        } else {
            std::memcpy(r + 8, u.name.data(), std::min<size_t>(16, u.name.size()));
            std::memcpy(r + 24, u.password.data(), std::min<size_t>(11, u.password.size()));
        }
        d.insert(d.end(), r, r + 36);
    }
    // Bytes of the records beyond the block's length stay in the buffer.
    std::memset(login_tbl, 0, 65536);
    std::memcpy(login_tbl + 8, d.data(), d.size());
    put_le32(login_tbl + 4, uint32_t(std::max<size_t>(d.size() - 36 * t.cut_records, 0)));
}

class UsersTest : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        SYS_ResetRCBs(1);
    }
    static void pass_seconds(double s) { host::clock_advance_ns(uint64_t(s * 1e9)); }
};

TEST_F(UsersTest, LoginAndAccess) {
    const std::vector<User> users = {
        {"ann", "pw1", 3}, {"bob", "pw2", 5}, {"bob", "other", 7}, {"exactly16charsXY", "p", 1}};
    struct Step {
        const char *what;
        const char *name, *password; // null: no login attempt
        int login;                   // expected result
        int level;                   // UserGotAccess(level) afterwards ...
        int access;                  // ... expected
    };
    const Step steps[] = {
        {"nobody logged in: level 0 is open", nullptr, nullptr, 0, 0, 1},
        {"nobody logged in: level 3 refused", nullptr, nullptr, 0, 3, 0},
        {"empty password refused", "ann", "", 0, 1, 0},
        {"unknown name refused", "zed", "pw1", 0, 1, 0},
        {"wrong password for the first bob refuses at once", "bob", "other", 0, 1, 0},
        {"level 5 user", "bob", "pw2", 1, 3, 1},
        {"level 5 reaches 5", nullptr, nullptr, 0, 5, 1},
        {"but not 6", nullptr, nullptr, 0, 6, 0},
        {"a second login is refused", "ann", "pw1", 0, 5, 1},
    };
    load_users({}, users);
    USRMGR_Init();
    for (const Step &s : steps) {
        SCOPED_TRACE(s.what);
        if (s.name) {
            EXPECT_EQ(ValidateUser(s.name, s.password), s.login);
        }
        EXPECT_EQ(UserGotAccess(s.level), s.access);
    }
    EXPECT_STREQ(CurUser.name, "bob");
    USRMGR_logout();
    EXPECT_EQ(UserGotAccess(3), 0) << "the level is kept, the logged-in flag rules";
    // Only 16 characters of a name are compared.
    EXPECT_EQ(ValidateUser("exactly16charsXYZ", "p"), 1);
    EXPECT_STREQ(CurUser.name, "exactly16charsXY");
}

TEST_F(UsersTest, TablesWithoutUsers) {
    struct Case {
        const char *what;
        Table table;
        int users;
        int access3; // UserGotAccess(3) while logged out
    } cases[] = {
        // Below 40 bytes there is no table: everything is open.
        {"short table", Table{.flags = 2, .timeout = 60, .cut_records = 1}, 1, 1},
        {"login not enabled", Table{.flags = 0}, 1, 0},
        {"no users", Table{.count = 0}, 1, 0},
        // Records that do not lie wholly inside the block are not users,
        // whatever the count says.
        {"count past the block", Table{.count = 255, .cut_records = 1}, 2, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<User> users(size_t(c.users), User{"ann", "pw", 3});
        users.back().name = "last";
        load_users(c.table, users);
        USRMGR_Init();
        EXPECT_EQ(UserGotAccess(3), c.access3);
        EXPECT_EQ(ValidateUser("last", "pw"), 0) << "the cut or refused record";
        EXPECT_EQ(ValidateUser("ann", "pw"), c.users > 1 && c.access3 == 0 ? 1 : 0);
        USRMGR_logout();
    }
}

TEST_F(UsersTest, RegisterFormLogsOutWhenItsRegistersChange) {
    for (int reg : {10, 20}) {
        SCOPED_TRACE(reg);
        load_users({}, {{"", "", r_ref(30), 10, 20}});
        put_text(10, "carl", 16);
        put_text(20, "secret", 10);
        put_text(30, std::string(1, '\x04'), 2); // the level register
        USRMGR_Init();
        EXPECT_EQ(ValidateUser("carl", "wrong"), 0);
        ASSERT_EQ(ValidateUser("carl", "secret"), 1);
        EXPECT_EQ(CurUser.level, 4) << "from the level register";
        USRMGR_Update();
        EXPECT_EQ(UserLoggedIn, 1);
        put_text(reg, "changed", reg == 10 ? 16 : 10);
        USRMGR_Update();
        EXPECT_EQ(UserLoggedIn, 0);
    }
}

TEST_F(UsersTest, InactivityTimeOut) {
    load_users(Table{.timeout = 0}, {{"ann", "pw", 1}});
    USRMGR_Init();
    ASSERT_EQ(ValidateUser("ann", "pw"), 1);
    USRMGR_Update();
    EXPECT_EQ(UserLoggedIn, 0) << "a time-out of 0 logs out on the next pass";

    load_users(Table{.timeout = 10}, {{"ann", "pw", 1}});
    USRMGR_Init();
    ASSERT_EQ(ValidateUser("ann", "pw"), 1);
    pass_seconds(9);
    USRMGR_resetTimeout(); // a touch restarts the time
    pass_seconds(9);
    USRMGR_Update();
    EXPECT_EQ(UserLoggedIn, 1);
    pass_seconds(1.5);
    USRMGR_Update();
    EXPECT_EQ(UserLoggedIn, 0);
}

TEST_F(UsersTest, ExtendedFormPublishesTheLogin) {
    load_users(Table{.extended = true, .counter = r_ref(100)}, {{"dora", "pw", 2}});
    put_text(100, "xx", 2); // the counter's link kind is one register wide
    put_text(102, "stale name", 16);
    USRMGR_Init();
    EXPECT_EQ(le16(r_ptr(100)), 0u) << "counter cleared";
    EXPECT_EQ(std::string(reinterpret_cast<char *>(r_ptr(102))), "") << "name cleared";
    ASSERT_EQ(ValidateUser("dora", "pw"), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(r_ptr(102))), "dora");
    // The counter follows the clock's seconds register.
    for (uint16_t sec = 1; sec <= 3; ++sec) {
        sr_put(sr::kClock, sec);
        USRMGR_Update();
    }
    EXPECT_EQ(le16(r_ptr(100)), 2) << "0, 1, 2 written";
    USRMGR_logout();
    EXPECT_EQ(le16(r_ptr(100)), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(r_ptr(102))), "");
}

TEST_F(UsersTest, WebInterfaceRestartsWithTheTableAndGetsLoginTimes) {
    ParviServerState = 4;
    load_users(Table{.extended = true, .web = 1}, {{"eve", "pw", 1}});
    USRMGR_Init();
    EXPECT_EQ(ParviServerState, 0) << "stop requested";
    EXPECT_EQ(usrInfo.table, login_tbl + 8);
    host::trace_start();
    ParviServerState = 4;
    USRMGR_Update();
    user_details_list[kUserDetailsLoggedIn] = 1;
    USRMGR_Update();
    auto calls = host::trace_calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "parvi_update_user_login_time"), 1);
    load_users(Table{.count = 0, .cut_records = 1}, {{"eve", "pw", 1}});
    USRMGR_Init();
    EXPECT_EQ(usrInfo.table, nullptr);
}

TEST_F(UsersTest, UsersTakeTheirLinksFromTheirOwnPool) {
    // A full table of register-form users with level registers links
    // 3 x 255 registers; the static pool stays for the objects.
    std::vector<User> users(255, User{"", "", r_ref(30), 10, 20});
    load_users({}, users);
    SYS_ResetRCBs(1);
    RCB *before = SYS_LinkReg(r_ref(1), 16);
    USRMGR_Init();
    RCB *after = SYS_LinkReg(r_ref(1), 16);
    ASSERT_NE(after, nullptr);
    EXPECT_EQ(after, before + 1) << "the static pool goes on where it was";
    EXPECT_NE(usrInfo.slot[254].level, nullptr);
}

// ---- Text language ----

class LanguageTest : public PanelTest {
protected:
    // A string table of `languages` segments of `seg` bytes, each segment
    // filled with its language number.
    void load_strings(uint32_t table_length, int languages, uint32_t block_length = 0) {
        std::memset(string_table_bl, 0, 4096);
        put_le32(string_table_bl + 4, block_length ? block_length : table_length + 4);
        put_le32(string_table_bl + 8, table_length);
        const uint32_t seg = (table_length - 4) / uint32_t(languages);
        for (int l = 0; l < languages; ++l)
            std::memset(string_table_bl + 16 + seg * uint32_t(l), 'a' + l, seg);
        pPGM_Strings = string_table_bl + 16;
    }
    void set_language(uint16_t v) { put_le16(r_ptr(10), v); }
};

TEST_F(LanguageTest, RegisterSelectsTheSegment) {
    load_strings(604, 3);
    SYS_ResetRCBs(1);
    STR_Init(r_ref(10), 3);
    struct Step {
        uint16_t value;
        int changed;
        uint32_t offset; // of pPGM_Strings from the block
    } steps[] = {
        {0, 0, 16},       {2, 1, 416}, {2, 0, 416}, {3, 0, 416},
        {0xFFFF, 0, 416}, {1, 1, 216}, {0, 1, 16},
    };
    for (const Step &s : steps) {
        SCOPED_TRACE(s.value);
        set_language(s.value);
        EXPECT_EQ(STR_Update(), s.changed);
        EXPECT_EQ(pPGM_Strings - string_table_bl, s.offset);
    }
}

TEST_F(LanguageTest, SingleLanguageNeverReadsTheRegister) {
    load_strings(604, 1);
    for (uint32_t n : {0u, 1u}) {
        STR_Init(r_ref(10), n);
        set_language(1);
        EXPECT_EQ(STR_Update(), 0);
        EXPECT_EQ(pPGM_Strings, string_table_bl + 16);
    }
}

TEST_F(LanguageTest, SegmentPastTheBlockGivesNoTexts) {
    // The table claims more bytes than the block holds.
    load_strings(604, 3, 300);
    SYS_ResetRCBs(1);
    STR_Init(r_ref(10), 3);
    set_language(1);
    EXPECT_EQ(STR_Update(), 1);
    EXPECT_EQ(pPGM_Strings, nullptr);
    set_language(0);
    EXPECT_EQ(STR_Update(), 1);
    EXPECT_EQ(pPGM_Strings, string_table_bl + 16);
}

} // namespace
