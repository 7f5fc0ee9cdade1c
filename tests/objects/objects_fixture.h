// Fixture of the screen-object tests: a screen program of one page built by
// the application builder, whose object records the test then fills in
// field by field (the offsets of objects/records.h), a string table of
// counted texts, and register helpers.
#pragma once
#include "base/le.h"
#include "gdi/field.h"
#include "objects/records.h"
#include "platform/keys.h"
#include "plc/appblocks.h"
#include "regs/plc_reg.h"
#include "screen_program.h"
#include "screens/objm_int.h"
#include "system/touch.h"
#include "video_fixture.h"

#include <cstring>
#include <string>
#include <vector>

inline uint32_t r_ref(int n) {
    return reg::kRefR + 16u * uint32_t(n - 1);
}
inline uint8_t *r_ptr(int n) {
    return plc_reg + reg::kR + 2u * uint32_t(n - 1);
}

// An object record to build: its type word (level in bits 12-14, gradient
// bit 15), flags, rectangle, and an own length when it carries alternative
// colours or gradient extensions.
struct ObjSpec {
    uint16_t type;
    uint32_t flags;
    int l, t, r, b;
    int length = 0;
    std::string pictures = {}; // a bitmap's frame table: a JSON list of picture names
    std::string extra = {};    // more members of the object's JSON, as they stand
};

// One record of the loaded page, written in place.
struct Rec {
    uint8_t *p;
    void u8(size_t at, uint8_t v) const { p[at] = v; }
    void u16(size_t at, uint16_t v) const { put_le16(p + at, v); }
    void u32(size_t at, uint32_t v) const { put_le32(p + at, v); }
    // The state register: mask and register (a plain reference fits the
    // 16-bit link for the first %R registers).
    void state(uint16_t mask, int reg) const {
        u16(rec::kStateMask, mask);
        u16(rec::kStateLink, uint16_t(r_ref(reg)));
    }
    // A gradient extension at `at`: mode, band parameters, end and start colours.
    void gradient(size_t at, int16_t mode, uint16_t p1, uint16_t p2, COLOR end, COLOR start) const {
        u16(at, uint16_t(mode));
        u16(at + 2, 0);
        u16(at + 4, p1);
        u16(at + 6, p2);
        u16(at + 8, end);
        u16(at + 10, start);
    }
};

class ObjectsTest : public VideoTest {
protected:
    DC *dc = nullptr;
    std::vector<Rec> recs;
    const uint8_t *page = nullptr;
    uint32_t strings_at = 1; // next free offset in the string segment

    void SetUp() override {
        VideoTest::SetUp();
        dc = start(pxp(), screen());
        pDC = dc;
        std::memset(string_table_bl, 0, 4096);
        pPGM_Strings = string_table_bl + 16;
        set_strings_length();
        sysFlash = 0;
    }
    virtual bool pxp() const { return false; }
    virtual std::string screen() const { return "800x480"; }

    void set_strings_length() {
        put_le32(string_table_bl + 8, strings_at + 8 + 4);
        put_le32(string_table_bl + 4, strings_at + 8 + 8);
    }
    // A counted text in the string segment ("\n" separates lines); returns
    // the offset of its first character (the count stands before it).
    uint32_t text(const std::string &s) {
        const uint32_t at = strings_at;
        uint8_t *p = pPGM_Strings + at;
        int lines = 1;
        size_t i = 1;
        for (char c : s) {
            if (c == '\n') {
                p[i++] = 0;
                ++lines;
            } else {
                p[i++] = uint8_t(c);
            }
        }
        p[i++] = 0;
        p[0] = uint8_t(lines);
        strings_at += uint32_t(i);
        set_strings_length();
        return at + 1;
    }

    // Loads a one-page screen program with these objects; their records
    // are then in `recs`, to be filled in before open().
    void build(const std::vector<ObjSpec> &objs, uint16_t background = 0xFFDF,
               const std::string &pictures = "") {
        std::string o;
        for (const ObjSpec &s : objs) {
            if (!o.empty()) o += ", ";
            o += "{\"type\": " + std::to_string(s.type & 0x0FFF) +
                 ", \"flags\": " + std::to_string(s.flags) + ", \"rect\": [" + std::to_string(s.l) +
                 ", " + std::to_string(s.t) + ", " + std::to_string(s.r) + ", " +
                 std::to_string(s.b) + "]" +
                 (s.length ? ", \"length\": " + std::to_string(s.length) : std::string()) +
                 (s.pictures.empty() ? std::string() : ", \"pictures\": " + s.pictures) +
                 (s.extra.empty() ? std::string() : ", " + s.extra) + "}";
        }
        std::string error;
        ASSERT_TRUE(load_screen_program("{\"header_length\": 56, \"pages\": [{\"screen\": 1, "
                                        "\"background\": " +
                                            std::to_string(background) + ", \"objects\": [" + o +
                                            "]}]}",
                                        pictures, &error))
            << error;
        page = kesta_pgm_bl + 8 + 56;
        recs.clear();
        uint8_t *d = const_cast<uint8_t *>(page) + Page_FirstRecord(page);
        for (const ObjSpec &s : objs) {
            put_le16(d, s.type); // the level and gradient bits
            recs.push_back(Rec{d});
            d += ObjDef_Length(d);
        }
    }
    void open() {
        ASSERT_EQ(OBJM_OpenPage(dc, page), 1);
        VID_Update();
    }
    ObjCB &cb(int i) { return objm::g.doTbl[i]; }
    uint16_t update(int i, uint32_t force = 0) {
        return cb(i).Signal(cb(i).def, cb(i).inst, objmsg::kUpdate, force);
    }
    // One pass of the screen loop's object update.
    void pass() { OBJM_Update(dc); }
    void touch(int x, int y, bool down) {
        KEY_Press(down ? kTouchDown : kTouchUp, x, y);
        pass();
    }
    static COLOR screen_px(int x, int y) {
        DC *d = GDI_GetDisplayDC();
        return px(d, x, y);
    }
};
