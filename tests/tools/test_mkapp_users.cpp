// The application builder's user tables: a description that the user manager
// logs users in with, and descriptions refused with the field named.
#include "base/le.h"
#include "panel_fixture.h"
#include "plc/appblocks.h"
#include "regs/plc_reg.h"
#include "screens/screens.h"
#include "system/reglink.h"
#include "tools/lib/appbuild.h"

#include <cstring>

namespace {

using MkappUsersTest = PanelTest;

// Builds the description and puts its user table into login_tbl as the
// loader does; false with the builder's message.
bool load(const std::string &users, std::string *error) {
    appbuild::Built b;
    if (!appbuild::build_text("{\"login_tbl\": {\"users\": " + users + "}}", "", &b, error))
        return false;
    appbuild::Placed p;
    if (!appbuild::find_part(b.manifest, "login_tbl", &p)) return false;
    std::memcpy(login_tbl, b.config.data() + p.offset, p.length + 8);
    return true;
}

TEST_F(MkappUsersTest, TablesTheUserManagerReads) {
    std::string error;
    ASSERT_TRUE(load(R"({"timeout": 30, "counter": "%R100", "users": [
        {"name": "ann", "password": "pw", "level": 3},
        {"name": "%R10", "password": "%R20", "level": "%R30"}]})",
                     &error))
        << error;
    EXPECT_EQ(le16(login_tbl + 10), 30);
    EXPECT_EQ(login_tbl[9], 0x12) << "login enabled, extended form";
    std::memcpy(plc_reg + reg::kR + 18, "carl", 4); // %R10
    std::memcpy(plc_reg + reg::kR + 38, "pw2", 3);  // %R20
    plc_reg[reg::kR + 58] = 6;                      // %R30
    SYS_ResetRCBs(1);
    USRMGR_Init();
    ASSERT_EQ(ValidateUser("ann", "pw"), 1);
    EXPECT_EQ(UserAccessLevel, 3);
    USRMGR_logout();
    ASSERT_EQ(ValidateUser("carl", "pw2"), 1);
    EXPECT_EQ(UserAccessLevel, 6);
}

TEST_F(MkappUsersTest, RefusedDescriptions) {
    struct Case {
        const char *users, *message;
    } cases[] = {
        {R"({"users": [{"name": "a", "password": "p", "level": 8}]})",
         "users.users[0].level: takes 0 to 7"},
        {R"({"users": [{"name": "12345678901234567", "password": "p"}]})",
         "users.users[0].name: 1 to 16 characters"},
        {R"({"users": [{"name": "a", "password": "12345678901"}]})",
         "users.users[0].password: 1 to 10 characters"},
        {R"({"users": [{"name": "%R1", "password": "p"}]})", "both texts or both registers"},
        {R"({"timeout": 70000})", "users.timeout: takes seconds"},
        {R"({"counter": 5})", "users.counter: takes a register name"},
        {R"({"colour": 5})", "unknown key \"colour\""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.users);
        std::string error;
        EXPECT_FALSE(load(c.users, &error));
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
    }
}

} // namespace
