// Test helper: a VM database built from an assembled image, with typed
// access to its variables and its log.
#pragma once
#include "base/le.h"
#include "iec/kernel/trdb.h"
#include "iec/kernel/trglue.h"
#include "iec/kernel/tros.h"
#include "iec/kernel/trparts.h"
#include "iec/kernel/trstatus.h"
#include "iec/kernel/trvm.h"
#include "iec/kernel/trvmprg.h"
#include "iec_app.h"

#include <cstring>
#include <string>
#include <vector>

struct VmDb {
    std::vector<uint8_t> image, mem;
    TrCodeImage code{};

    // Builds the database of the image; the build's result.
    int build(const std::string &source) {
        image = iec_image(source);
        code = TrCodeImage{image.data(), uint32_t(image.size())};
        uint8_t header[trdb::kHeaderSize] = {};
        if (TrVM_GetDBSize(code, header) != 0) return -1;
        mem.assign(TrVM_GetTotalDBSize(header), 0);
        std::copy(header, header + sizeof header, mem.begin());
        TrVM_BuildDBMainLinks(mem.data());
        return TrVM_BuildEx(code, mem.data(), 0, 0);
    }
    uint8_t *db() { return mem.data(); }
    uint8_t *st() { return TrVM_Status(db()); }
    uint16_t flags() { return le16(st() + trst::kRunFlags); }
    void set_flags(uint16_t f) { put_le16(st() + trst::kRunFlags, f); }
    // Program k run once by the interpreter.
    int run(uint32_t program = 1) { return TrVMTic_Run(db(), st(), code, program); }

    // A variable by type code (1 BOOL, 2 DINT, 3 REAL, 4 TIME, 5 STRING, 10
    // SINT, 11 INT, 12 LINT, 13 LREAL, 14 USINT, 15 UINT, 16 UDINT, 17 ULINT).
    uint8_t *var(uint16_t type, uint32_t index) {
        uint32_t size = 0;
        uint8_t *p = TrTools_GetAnyParam(db(), type, index, nullptr, &size);
        EXPECT_NE(p, nullptr) << "type " << type << " index " << index;
        return p;
    }
    uint32_t bytes(uint16_t type) {
        uint32_t size = 0;
        TrTools_GetAnyParam(db(), type, 0, nullptr, &size);
        return size;
    }
    void set(uint16_t type, uint32_t index, uint64_t raw) {
        if (uint8_t *p = var(type, index)) std::memcpy(p, &raw, bytes(type));
    }
    uint64_t get(uint16_t type, uint32_t index) {
        uint64_t raw = 0;
        if (uint8_t *p = var(type, index)) std::memcpy(&raw, p, bytes(type));
        return raw;
    }
    int32_t dint(uint32_t index) { return int32_t(get(2, index)); }
    void set_string(uint32_t index, const std::string &s) {
        uint8_t *p = var(5, index);
        ASSERT_LE(s.size(), p[0]);
        p[1] = uint8_t(s.size());
        std::memcpy(p + 2, s.c_str(), s.size() + 1);
    }
    std::string string(uint32_t index) {
        uint8_t *p = var(5, index);
        return std::string(reinterpret_cast<char *>(p + 2), p[1]);
    }
    void lock(uint32_t index, uint8_t bits) {
        uint32_t n = 0;
        uint8_t *l = TrDB_Segment(db(), uint32_t(mem.size()), 5, &n);
        ASSERT_LT(index, n);
        l[index] |= bits;
    }
    struct Log {
        uint16_t code, arg;
        uint32_t data;
        bool operator==(const Log &o) const {
            return code == o.code && arg == o.arg && data == o.data;
        }
    };
    std::vector<Log> log() {
        std::vector<Log> out;
        Log l;
        while (TrVMLog_Pop(db(), &l.code, &l.arg, &l.data))
            out.push_back(l);
        return out;
    }
    uint8_t *entry(uint32_t k) { return TrVMPrg_Entry(db(), k); }
    uint16_t prg_flags(uint32_t k) { return le16(entry(k) + trprg::kFlags); }
};

inline std::ostream &operator<<(std::ostream &o, const VmDb::Log &l) {
    return o << "{" << l.code << ", " << l.arg << ", 0x" << std::hex << l.data << std::dec << "}";
}
