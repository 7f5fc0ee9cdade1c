// File-request slots as a control program may leave them in the shared
// mailbox block: any bytes must load either a refusal or a request whose
// names end inside their buffers and whose data lies in the data area.
#include "data/cfm.h"
#include "data/data.h"
#include "platform/cf_api.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {
std::vector<uint8_t> g_dpram(74468);
CfmRequestMsg g_sent;
bool g_has;
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static bool wired = [] {
        CfmHooks h{};
        h.send_request = [](const CfmRequestMsg *m) {
            g_sent = *m;
            g_has = true;
            return uint32_t(0);
        };
        h.dpram = g_dpram.data();
        h.dpram_bytes = uint32_t(g_dpram.size());
        CFM_SetHooks(h);
        return true;
    }();
    (void)wired;
    CFM_Reset();
    std::fill(g_dpram.begin(), g_dpram.end(), 0xAA);
    // The generic slot and the logger's, then the data area.
    size_t n = std::min<size_t>(size, 264 + 24);
    std::memcpy(g_dpram.data() + mbox::kGeneric, data, n);
    if (size > n)
        std::memcpy(g_dpram.data() + kDpramDataArea, data + n,
                    std::min<size_t>(size - n, kDpramDataBytes));
    g_has = false;
    CFM_LoadDpramReq();
    if (g_has) {
        auto *a = reinterpret_cast<void *>(uintptr_t(g_sent.arg1));
        if (g_sent.code == cfm::kReadFile || g_sent.code == cfm::kWriteFile) {
            auto *r = static_cast<CsvFileRequest *>(a);
            if (strnlen(r->path, 512) >= 512) std::abort();
            if (r->data < g_dpram.data() + kDpramDataArea ||
                r->data > g_dpram.data() + kDpramDataArea + kDpramDataBytes)
                std::abort();
        } else if (g_sent.code == cfm::kRename || g_sent.code == cfm::kCopy ||
                   g_sent.code == cfm::kDelete) {
            auto *names = static_cast<const char *const *>(a);
            for (int i = 0; i < (g_sent.code == cfm::kDelete ? 1 : 2); ++i)
                if (strnlen(names[i], 512) >= 512 || CFM_HasDotDot(names[i])) std::abort();
        }
    }
    CFM_ResetBlocks();
    CFM_LoadLoggerReq();
    CFM_LoadEmailReq();
    CFM_LoadRecipeReq();
    // Name patterns.
    char pattern[512];
    size_t k = std::min<size_t>(size, 511);
    std::memcpy(pattern, data, k);
    pattern[k] = 0;
    ConvertMeta(pattern);
    if (strnlen(pattern, 512) >= 512) std::abort();
    return 0;
}
