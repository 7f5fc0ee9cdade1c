#include "regs/regname.h"

#include "regs/plc_reg.h"

#include <cctype>
#include <cstdio>

namespace {

struct NamedArea {
    const char *name;
    uint32_t first_ref;
    uint32_t count; // registers in the area
    uint32_t bits;  // 1 for bit areas, 16 for word areas
};

// %SR is absent: its numbers run on into the %ESR area.
constexpr NamedArea kAreas[] = {
    {"I", reg::kRefI, 2048, 1},     {"Q", reg::kRefQ, 2048, 1},    {"M", reg::kRefM, 2048, 1},
    {"T", reg::kRefT, 2048, 1},     {"S", reg::kRefS, 256, 1},     {"K", reg::kRefK, 256, 1},
    {"IG", reg::kRefIG, 256, 1},    {"QG", reg::kRefQG, 256, 1},   {"AI", reg::kRefAI, 512, 16},
    {"AQ", reg::kRefAQ, 512, 16},   {"AIG", reg::kRefAIG, 32, 16}, {"AQG", reg::kRefAQG, 32, 16},
    {"R", reg::kRefR, 50240, 16},   {"ET", reg::kRefET, 16384, 1}, {"EM", reg::kRefEM, 16384, 1},
    {"ESR", reg::kRefESR, 256, 16},
};
constexpr int kSrCount = 448;

bool fail(std::string *error, const char *why) {
    if (error) *error = why;
    return false;
}

} // namespace

bool RegName_Parse(const std::string &text, uint32_t *ref, uint32_t *bits, std::string *error) {
    size_t i = 0, end = text.size();
    while (i < end && std::isspace(static_cast<unsigned char>(text[i])))
        i++;
    while (end > i && std::isspace(static_cast<unsigned char>(text[end - 1])))
        end--;
    if (i < end && text[i] == '%') i++;

    std::string name;
    while (i < end && std::isalpha(static_cast<unsigned char>(text[i])))
        name += char(std::toupper(static_cast<unsigned char>(text[i++])));

    uint32_t first = 0, count = 0, width = 0;
    bool sr = name == "SR";
    if (sr) {
        count = kSrCount;
        width = 16;
    } else {
        for (const NamedArea &a : kAreas) {
            if (name != a.name) continue;
            first = a.first_ref;
            count = a.count;
            width = a.bits;
        }
    }
    if (!count) return fail(error, "unknown register name");
    if (i == end) return fail(error, "missing register number");

    uint64_t n = 0;
    for (; i < end; i++) {
        char c = text[i];
        if (c < '0' || c > '9') return fail(error, "invalid register number");
        n = n * 10 + unsigned(c - '0');
        if (n > 0xFFFFFFFFu) n = 0xFFFFFFFFu + uint64_t(1); // stays out of range
    }
    if (n < 1 || n > count) return fail(error, "register number out of range");

    uint32_t r = sr ? sr_ref(int(n)) : first + uint32_t(n - 1) * width;
    if (ref) *ref = r;
    if (bits) *bits = width;
    if (error) error->clear();
    return true;
}

std::string RegName_Format(uint32_t ref, uint32_t /*bits*/) {
    char buf[24];
    auto sr_name = [&](uint32_t base, int first_n) -> bool {
        if (ref < base || (ref - base) % 16) return false;
        std::snprintf(buf, sizeof buf, "%%SR%u", unsigned(first_n) + (ref - base) / 16);
        return true;
    };
    if (ref >= reg::kRefSR && ref < reg::kRefF && sr_name(reg::kRefSR, 1)) return buf;
    if (ref >= reg::kRefESR && ref < reg::kRefESREnd && sr_name(reg::kRefESR, 193)) return buf;
    for (const NamedArea &a : kAreas) {
        if (a.first_ref == reg::kRefESR) continue; // named as %SR above
        if (ref < a.first_ref || ref - a.first_ref >= a.count * a.bits) continue;
        uint32_t off = ref - a.first_ref;
        if (off % a.bits) break;
        std::snprintf(buf, sizeof buf, "%%%s%u", a.name, unsigned(off / a.bits + 1));
        return buf;
    }
    std::snprintf(buf, sizeof buf, "0x%08X", unsigned(ref));
    return buf;
}
