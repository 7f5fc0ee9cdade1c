// File-name patterns: the date, page and counter macros that the media
// manager's clients put into file names, and the ".." test that keeps a name
// on its medium.
#include "data/cfm.h"
#include "data/cfm_int.h"
#include "platform/rtc.h"
#include "regs/plc_reg.h"
#include "regs/sr.h"

#include <cstdio>
#include <cstring>
#include <string>

CfmMetaCounter cfmMetaCounter[4];

namespace {

int week_of_year(int year, int month, int day) {
    static constexpr int kBefore[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
    if (month < 1 || month > 12) month = 1;
    int leap = month > 2 && year % 4 == 0 ? 1 : 0;
    return (day + leap + kBefore[month - 1] + DayOfWeek(year, 1, 1)) / 7 + 1;
}

// The counter's value before its step; steps it when its setup asks.
uint32_t read_counter(int n) {
    CfmMetaCounter &c = cfmMetaCounter[n];
    uint32_t v = c.value;
    if (c.flags & 1) {
        if (c.value < c.limit)
            ++c.value;
        else if (c.flags & 2)
            c.value = 0;
    }
    return v;
}

} // namespace

void ConvertMeta(char *pattern, uint32_t size) {
    if (!pattern || size == 0) return;
    size_t len = strnlen(pattern, size);
    if (len == size) return; // not a terminated text
    std::string out;
    bool macro = false;
    auto num = [&](int v, const char *fmt = "%02d") {
        char b[16];
        std::snprintf(b, sizeof b, fmt, v);
        out += b;
    };
    for (size_t i = 0; i < len; ++i) {
        char c = pattern[i];
        if (c != '$' || i + 1 >= len) {
            out += c;
            continue;
        }
        char k = pattern[i + 1];
        int year = sr_get(sr::kClock + 5), month = sr_get(sr::kClock + 4);
        int day = sr_get(sr::kClock + 3);
        switch (k) {
        case 'Y':
            num(year % 100);
            break;
        case 'M':
            num(month);
            break;
        case 'D':
            num(day);
            break;
        case 'h':
            num(sr_get(sr::kClock + 2));
            break;
        case 'm':
            num(sr_get(sr::kClock + 1));
            break;
        case 's':
            num(sr_get(sr::kClock));
            break;
        case 'W':
            num(week_of_year(year, month, day));
            break;
        case 'p':
            num(CFM_MailboxPage(), "%04d");
            break;
        case '1':
        case '2':
        case '3':
        case '4': {
            macro = true;
            uint32_t v = read_counter(k - '1');
            if (i + 3 < len && pattern[i + 2] == 'u' && pattern[i + 3] >= '1' &&
                pattern[i + 3] <= '8') {
                char digits[16];
                std::snprintf(digits, sizeof digits, "%010u", unsigned(v));
                int n = pattern[i + 3] - '0';
                out += digits + (10 - n);
                i += 3;
            } else {
                out += c; // "$n" without its digits stays as it stands
            }
            continue;
        }
        default:
            out += c; // "$" with any other character stays
            continue;
        }
        macro = true;
        ++i;
    }
    if (!macro) return;
    size_t keep = out.size() < size - 1 ? out.size() : size - 1;
    if (keep > 511) keep = 511;
    std::memcpy(pattern, out.data(), keep);
    pattern[keep] = 0;
}

bool CFM_HasDotDot(const char *path) {
    if (!path) return false;
    for (const char *p = path; *p;) {
        const char *e = p;
        while (*e && *e != '/' && *e != '\\')
            ++e;
        if (e - p == 2 && p[0] == '.' && p[1] == '.') return true;
        p = *e ? e + 1 : e;
    }
    return false;
}
