// CAN frames as people type them and as the bus delivers them: any text gives
// a frame or a refusal, and any 16 bytes print as a text that reads back as
// the same frame text.
#include "host/canbus.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    uint8_t frame[host::kCanFrameBytes];
    std::string error;
    std::string text(reinterpret_cast<const char *>(data), size);
    if (host::can_frame_parse(text, frame, &error)) {
        std::string printed = host::can_frame_text(frame);
        uint8_t again[host::kCanFrameBytes];
        if (!host::can_frame_parse(printed, again, &error) ||
            std::memcmp(frame, again, sizeof frame) != 0)
            std::abort();
    } else if (error.empty()) {
        std::abort();
    }
    if (size >= host::kCanFrameBytes) {
        std::string printed = host::can_frame_text(data);
        if (!host::can_frame_parse(printed, frame, &error) ||
            host::can_frame_text(frame) != printed)
            std::abort();
    }
    return 0;
}
