#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "plc/solar.h"
#include "serial/serial.h"
#include "system/oem.h"
#include "tests/support/panel_fixture.h"
#include "web/web.h"

class OemTest : public PanelTest {};

TEST_F(OemTest, SignonAndModelByOemCode) {
    struct Case {
        uint8_t code;
        int family, model;
        const char *signon, *name;
    };
    const Case cases[] = {
        {0, 63, 0xA00F, "Panel LX300", "LX300"},     {1, 63, 0xA20F, "OEM-1 LX320T", "LX320T"},
        {2, 63, 0xDF0E, "OEM-2 LX600", "LX600"},     {3, 63, 0x0100, "OEM-3 LX100", "LX100"},
        {4, 63, 0xEF0E, "OEM-4 LX050", "LX050"},     {5, 63, 0x500F, "Private AC500", "AC500"},
        {128, 63, 0x500F, "Private AC500", "AC500"}, {0, 63, 0x1234, "*Unknown*", "*Unknown*"},
        {0, 62, 0xA00F, "*Unknown*", "*Unknown*"},   {6, 63, 0xA00F, "*Unknown*", "*Unknown*"},
        {127, 63, 0xA00F, "*Unknown*", "*Unknown*"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "code " << int(c.code) << " model " << c.model);
        crc_header[3] = c.code;
        char text[64];
        std::memset(text, 'x', sizeof text);
        EXPECT_EQ(Oem_GetSignon(text, c.family, c.model), int(strlen(c.signon)));
        EXPECT_STREQ(text, c.signon);
        std::string s(c.signon), n(c.name);
        EXPECT_EQ(ParviOemPtr[36], s.find(n));
        EXPECT_EQ(ParviOemPtr[37], n.size());
        std::memset(text, 'x', sizeof text);
        EXPECT_EQ(Oem_GetModel(text, c.family, c.model), int(n.size()));
        EXPECT_STREQ(text, c.name);
    }
}

TEST(SunPos, PublishedPositions) {
    struct Case {
        SunDateTime when;
        SunLocation where;
        double zenith, azimuth, tol;
    };
    // Golden, Colorado, 17 October 2003 (published reference of the solar
    // position literature; its zenith includes about 0.02 degree of refraction,
    // which this algorithm leaves out). At a March equinox at the equator at
    // local solar noon the sun stands nearly overhead.
    const Case cases[] = {
        {{2003, 10, 17, 19, 30, 30}, {-105.1786, 39.742476}, 50.11162, 194.34024, 0.05},
        {{2024, 3, 20, 12, 7, 0}, {0.0, 0.0}, 0.0, -1, 0.2},
    };
    for (const Case &c : cases) {
        SunCoordinates r{};
        sunpos(c.when, c.where, &r);
        EXPECT_NEAR(r.zenith, c.zenith, c.tol);
        if (c.azimuth >= 0) {
            EXPECT_NEAR(r.azimuth, c.azimuth, c.tol);
        }
        EXPECT_GE(r.azimuth, 0.0);
        EXPECT_LT(r.azimuth, 360.0);
    }
}

TEST(SunPos, AzimuthStaysInOneTurn) {
    // Morning sun in the east, evening in the west, over a northern site.
    SunCoordinates r{};
    sunpos({2024, 6, 21, 6, 0, 0}, {0.0, 45.0}, &r);
    EXPECT_GT(r.azimuth, 45.0);
    EXPECT_LT(r.azimuth, 90.0);
    sunpos({2024, 6, 21, 18, 0, 0}, {0.0, 45.0}, &r);
    EXPECT_GT(r.azimuth, 270.0);
    EXPECT_LT(r.azimuth, 315.0);
}
