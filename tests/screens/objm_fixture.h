// Fixture of the object manager's tests: probe classes that record every call
// and answer periodic updates from a script, and pages built by the
// application builder into the screen program block.
#pragma once
#include "base/le.h"
#include "platform/keys.h"
#include "plc/appblocks.h"
#include "regs/plc_reg.h"
#include "screen_program.h"
#include "screens/objm_int.h"
#include "video_fixture.h"

#include <deque>
#include <map>
#include <string>
#include <vector>

namespace probe {

// One call of a probe: what, which object (its rectangle's left edge / 10),
// and the mode or message.
struct Call {
    std::string what;
    int id;
    int arg;
    bool operator==(const Call &) const = default;
};
inline std::vector<Call> log;
// Answers of the next periodic updates, by object id; then `steady`.
inline std::map<int, std::deque<uint16_t>> updates;
inline std::map<int, uint16_t> steady;
// Answers to other messages (focus, touch, key), by object id.
inline std::map<int, std::deque<uint16_t>> answers;
inline int create_bytes = 16;
// Morph requested by a Signal that answers 0x400.
inline int morph_type = 1;

inline int id_of(const uint8_t *def) {
    return int16_t(le16(def + 10)) / 10;
}

inline int16_t create(const uint8_t *def, ObjInst *inst) {
    log.push_back({"create", id_of(def), 0});
    inst->area = objm::def_rect(def);
    if (le32(def + 2) & 1) inst->state = kInstShown;
    return int16_t(create_bytes);
}
inline void paint(const uint8_t *def, ObjInst *, int mode) {
    log.push_back({"paint", id_of(def), mode});
}
inline uint16_t take(std::deque<uint16_t> &q, uint16_t otherwise) {
    if (q.empty()) return otherwise;
    uint16_t r = q.front();
    q.pop_front();
    return r;
}
inline uint16_t signal(const uint8_t *def, ObjInst *inst, int msg, uint32_t arg) {
    int id = id_of(def);
    log.push_back({"signal", id, msg});
    uint16_t r = msg == 0x40 ? take(updates[id], steady[id]) : take(answers[id], 0);
    if (r & 0x400) OBJM_MorfObj(morph_type, nullptr);
    if ((r & 0x1020) == 0x1020) inst->state = kInstShown;
    if ((r & 0x2020) == 0x2020) inst->state = kInstHidden;
    (void)arg;
    return r;
}
inline void destroy(const uint8_t *def, ObjInst *) {
    log.push_back({"destroy", id_of(def), 0});
}
// A second class, as a morph or pop-up takes it.
inline int16_t m_create(const uint8_t *def, ObjInst *) {
    log.push_back({"m_create", id_of(def), 0});
    return 0;
}
inline void m_paint(const uint8_t *def, ObjInst *, int mode) {
    log.push_back({"m_paint", id_of(def), mode});
}
inline uint16_t m_signal(const uint8_t *def, ObjInst *, int msg, uint32_t) {
    log.push_back({"m_signal", id_of(def), msg});
    uint16_t r = msg == 0x40 ? 0 : take(answers[id_of(def)], 0);
    if (r & 0x400) OBJM_MorfObj(morph_type, nullptr);
    return r;
}

inline const ObjClass kProbe{32, create, paint, signal, destroy, 64, nullptr};
inline const ObjClass kMorph{32, m_create, m_paint, m_signal, nullptr, 32, nullptr};

// Only the calls named `what`.
inline std::vector<Call> only(const std::string &what) {
    std::vector<Call> out;
    for (const Call &c : log)
        if (c.what == what) out.push_back(c);
    return out;
}
inline std::vector<int> ids(const std::string &what, int arg) {
    std::vector<int> out;
    for (const Call &c : log)
        if (c.what == what && c.arg == arg) out.push_back(c.id);
    return out;
}

} // namespace probe

class ObjmTest : public VideoTest {
protected:
    DC *dc = nullptr;
    void SetUp() override {
        VideoTest::SetUp();
        probe::log.clear();
        probe::updates.clear();
        probe::steady.clear();
        probe::answers.clear();
        probe::create_bytes = 16;
        probe::morph_type = 1;
        OBJM_SetClass(0, &probe::kProbe);
        OBJM_SetClass(1, &probe::kMorph);
        dc = start(pxp());
        pDC = dc;
    }
    virtual bool pxp() const { return false; }
    void TearDown() override {
        Objm_Reset(); // the probe rows go
        VideoTest::TearDown();
    }
    // Loads a screen program of the given pages ("pages" list contents) and
    // returns the page records in order.
    std::vector<const uint8_t *> load(const std::string &pages, const std::string &extra = "") {
        std::string error;
        EXPECT_TRUE(load_screen_program(
            "{\"header_length\": 56, " + extra + "\"pages\": [" + pages + "]}", &error))
            << error;
        std::vector<const uint8_t *> out;
        // The pages the header counts (the pages' link tables follow them).
        const uint8_t *p = kesta_pgm_bl + 8 + 56;
        const uint8_t *end = kesta_pgm_bl + 8 + le32(kesta_pgm_bl + 4);
        for (int n = le16(kesta_pgm_bl + 8 + 10); p && p < end && n > 0; --n) {
            out.push_back(p);
            p = Page_End(p);
        }
        return out;
    }
    // An object of the probe class with id `id` (its rectangle starts at x = id * 10).
    static std::string obj(int id, uint32_t flags = 1, int w = 40, int h = 40, int type = 0) {
        return "{\"type\": " + std::to_string(type) + ", \"flags\": " + std::to_string(flags) +
               ", \"rect\": [" + std::to_string(id * 10) + ", 0, " + std::to_string(id * 10 + w) +
               ", " + std::to_string(h) + "]}";
    }
    static std::string page(int screen, const std::vector<std::string> &objs) {
        std::string s = "{\"screen\": " + std::to_string(screen) + ", \"objects\": [";
        for (size_t i = 0; i < objs.size(); ++i)
            s += (i ? ", " : "") + objs[i];
        return s + "]}";
    }
    static void touch(int x, int y, bool down) { KEY_Press(down ? kTouchDown : kTouchUp, x, y); }
};
