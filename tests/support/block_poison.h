// Poisons the part of an application block's buffer past its data for as
// long as it lives: under AddressSanitizer a read past the block's length is
// then caught although it stays inside the buffer. Without the sanitizer it
// does nothing.
#pragma once
#include <cstddef>
#include <cstdint>
#include <sanitizer/asan_interface.h>

class PoisonPast {
public:
    // `buffer` of `capacity` bytes holds `used` bytes of data from its start.
    PoisonPast(uint8_t *buffer, size_t capacity, size_t used)
        : past_(buffer + used), size_(capacity - used) {
        ASAN_POISON_MEMORY_REGION(past_, size_);
    }
    ~PoisonPast() { ASAN_UNPOISON_MEMORY_REGION(past_, size_); }
    PoisonPast(const PoisonPast &) = delete;
    PoisonPast &operator=(const PoisonPast &) = delete;

private:
    uint8_t *past_;
    size_t size_;
};
