// Queues, polled timers, event flags and thread records.
#include "host/clock.h"
#include "net/tx.h"
#include "platform/tick.h"
#include "support/panel_fixture.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <vector>

namespace {

// Expiry functions take only a u32, so what they record and do lives here.
struct Fired {
    uint32_t arg;
    uint64_t at_us; // virtual time since the test began
};
std::vector<Fired> g_fired;
std::function<void(uint32_t)> g_on_expiry;
uint64_t g_t0_ns;

uint64_t now_us() {
    return (host::mono_ns() - g_t0_ns) / 1000;
}

void record_expiry(uint32_t arg) {
    g_fired.push_back({arg, now_us()});
    if (g_on_expiry) g_on_expiry(arg);
}

class TxTest : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        FPGA_GetFrt(); // pins the counter's base to the start of the test
        start_case();
    }
    // A clean timer table and a time origin on a whole millisecond, so the
    // 100 us counter and the times of the cases line up.
    static void start_case() {
        Tx_Reset();
        g_fired.clear();
        g_on_expiry = nullptr;
        host::clock_advance_ns((1'000'000 - host::mono_ns() % 1'000'000) % 1'000'000);
        g_t0_ns = host::mono_ns();
    }
    void TearDown() override {
        g_on_expiry = nullptr;
        PanelTest::TearDown();
    }
    // Advances the clock in steps of `step_us`, polling after each, until
    // `until_us` since the test began.
    static void poll_every(uint64_t step_us, uint64_t until_us) {
        while (now_us() + step_us <= until_us) {
            host::clock_advance_ns(step_us * 1000);
            tx_timer_check();
        }
    }
    static int slot_of(const TxTimer *t) {
        for (int i = 0; i < kTxTimerSlots; ++i)
            if (TimerPtr[i] == t) return i;
        return -1;
    }
};

// ---------------------------------------------------------------------------
// Queues

TEST_F(TxTest, QueueCapacityFullAndEmpty) {
    struct Case {
        uint32_t storage_bytes, msg_words, capacity;
    };
    // clang-format off
    const Case cases[] = {
        {100, 3, 8}, // 100 / 12 rounded down
        { 48, 4, 3},
        { 12, 3, 1},
        { 11, 3, 0}, // too small for one message
        {100, 0, 0}, // empty messages hold nothing
    };
    // clang-format on
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.storage_bytes << " bytes, " << c.msg_words << " words");
        std::array<uint32_t, 32> storage;
        storage.fill(0xA5A5A5A5u);
        TxQueue q;
        ASSERT_EQ(_txe_queue_create(&q, "Q", c.msg_words, storage.data(), c.storage_bytes), kTxOk);
        EXPECT_EQ(q.capacity, c.capacity);
        EXPECT_EQ(q.available, c.capacity);
        EXPECT_EQ(q.end - q.start, ptrdiff_t(c.capacity * c.msg_words * 4));

        uint32_t msg[4];
        for (uint32_t n = 0; n < c.capacity; ++n) {
            for (uint32_t w = 0; w < 4; ++w)
                msg[w] = n * 16 + w;
            ASSERT_EQ(_txe_queue_send(&q, msg, kTxNoWait), kTxOk);
        }
        EXPECT_EQ(_txe_queue_send(&q, msg, kTxWaitForever), kTxQueueFull);
        EXPECT_EQ(q.enqueued, c.capacity);
        EXPECT_EQ(q.available, 0u);
        // Nothing is written past the last whole message.
        for (size_t i = c.capacity * c.msg_words; i < storage.size(); ++i)
            ASSERT_EQ(storage[i], 0xA5A5A5A5u) << "word " << i;

        for (uint32_t n = 0; n < c.capacity; ++n) {
            uint32_t out[4] = {};
            ASSERT_EQ(_txe_queue_receive(&q, out, kTxNoWait), kTxOk);
            for (uint32_t w = 0; w < c.msg_words; ++w)
                EXPECT_EQ(out[w], n * 16 + w);
        }
        uint32_t untouched[4] = {7, 7, 7, 7};
        EXPECT_EQ(_txe_queue_receive(&q, untouched, kTxWaitForever), kTxQueueEmpty);
        EXPECT_EQ(untouched[0], 7u);
        EXPECT_EQ(untouched[3], 7u);
        EXPECT_EQ(q.enqueued, 0u);
        EXPECT_EQ(q.available, c.capacity);
    }
}

TEST_F(TxTest, QueuePositionsWrapAndKeepOrder) {
    alignas(4) uint8_t storage[3 * 8]; // three 2-word messages
    TxQueue q;
    ASSERT_EQ(_txe_queue_create(&q, "CFI_REQUEST", 2, storage, sizeof storage), kTxOk);

    // Keep one to three messages in flight over many laps of the ring.
    uint32_t sent = 0, received = 0;
    auto send = [&] {
        uint32_t m[2] = {sent, ~sent};
        ASSERT_EQ(_txe_queue_send(&q, m, kTxNoWait), kTxOk);
        ++sent;
    };
    auto receive = [&] {
        uint32_t m[2];
        ASSERT_EQ(_txe_queue_receive(&q, m, kTxNoWait), kTxOk);
        EXPECT_EQ(m[0], received);
        EXPECT_EQ(m[1], ~received);
        ++received;
    };
    send();
    send();
    for (int i = 0; i < 10; ++i) {
        send();
        receive();
        receive();
        send();
        ASSERT_EQ(q.enqueued + q.available, 3u);
        ASSERT_GE(q.read, q.start);
        ASSERT_LT(q.read, q.end);
        ASSERT_GE(q.write, q.start);
        ASSERT_LT(q.write, q.end);
    }

    // Send into and receive from the last slot: both positions are back at the start.
    while (q.enqueued)
        receive();
    while (q.write != q.start + 16) {
        send();
        receive();
    }
    send();
    EXPECT_EQ(q.write, q.start);
    receive();
    EXPECT_EQ(q.read, q.start);
    EXPECT_EQ(sent, received);
}

// ---------------------------------------------------------------------------
// Timers: registration and status numbers

TEST_F(TxTest, TimerSlotsAreTakenFirstFreeAndLimitedToTen) {
    TxTimer t[kTxTimerSlots + 1];
    for (int i = 0; i < kTxTimerSlots; ++i) {
        ASSERT_EQ(_txe_timer_create(&t[i], "T", record_expiry, i, 10, 0, kTxNoActivate), kTxOk);
        EXPECT_EQ(t[i].index, uint32_t(i));
        EXPECT_EQ(TimerPtr[i], &t[i]);
    }
    TxTimer &extra = t[kTxTimerSlots];
    EXPECT_EQ(_txe_timer_create(&extra, "T", record_expiry, 99, 10, 0, kTxAutoActivate),
              kTxNoTimerSlot);
    EXPECT_EQ(slot_of(&extra), -1);
    EXPECT_EQ(extra.index, kTxNoTimerIndex);

    // A deleted timer frees its slot; the next create takes the first free one.
    EXPECT_EQ(_txe_timer_delete(&t[7]), kTxOk);
    EXPECT_EQ(_txe_timer_delete(&t[3]), kTxOk);
    EXPECT_EQ(t[3].index, kTxNoTimerIndex);
    EXPECT_EQ(TimerPtr[3], nullptr);
    ASSERT_EQ(_txe_timer_create(&extra, "T", record_expiry, 99, 10, 0, kTxNoActivate), kTxOk);
    EXPECT_EQ(slot_of(&extra), 3);

    // Deleting twice, or deleting a copy whose index names another timer's
    // slot, leaves the table alone.
    EXPECT_EQ(_txe_timer_delete(&t[3]), kTxOk);
    TxTimer copy = t[5];
    EXPECT_EQ(_txe_timer_delete(&copy), kTxOk);
    EXPECT_EQ(TimerPtr[3], &extra);
    EXPECT_EQ(TimerPtr[5], &t[5]);
}

TEST_F(TxTest, TimerActivateStatus) {
    struct Case {
        const char *what;
        uint32_t initial;
        uint32_t auto_activate;
        uint32_t create_status;
        bool activate_again; // then call activate by hand
        uint32_t activate_status;
    };
    // clang-format off
    const Case cases[] = {
        {"no ticks, by hand",       0, kTxNoActivate,   kTxOk,           true,  kTxTimerRefused},
        {"no ticks, auto",          0, kTxAutoActivate, kTxTimerRefused, false, 0},
        {"ticks, by hand",          5, kTxNoActivate,   kTxOk,           true,  kTxOk},
        {"ticks, auto",             5, kTxAutoActivate, kTxOk,           false, 0},
        {"already active",          5, kTxAutoActivate, kTxOk,           true,  kTxTimerRefused},
        {"auto-activate 2 is no",   5, 2,               kTxOk,           true,  kTxOk},
    };
    // clang-format on
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Tx_Reset();
        TxTimer t;
        std::memset(&t, 0x5A, sizeof t); // create clears whatever was there
        EXPECT_EQ(_txe_timer_create(&t, "T", record_expiry, 1, c.initial, 0, c.auto_activate),
                  c.create_status);
        EXPECT_EQ(slot_of(&t), 0); // registered even when activation is refused
        if (c.activate_again) {
            EXPECT_EQ(_txe_timer_activate(&t), c.activate_status);
        }
    }
}

TEST_F(TxTest, OneShotFiresOnceAndCannotBeReactivated) {
    TxTimer t;
    ASSERT_EQ(_txe_timer_create(&t, "once", record_expiry, 5, 20, 0, kTxAutoActivate), kTxOk);
    poll_every(1000, 100'000);
    ASSERT_EQ(g_fired.size(), 1u);
    EXPECT_EQ(g_fired[0].arg, 5u);
    EXPECT_EQ(g_fired[0].at_us, 20'000u);
    EXPECT_EQ(t.active, &t); // still marked active, with nothing left to run
    EXPECT_EQ(t.remaining, 0u);
    EXPECT_EQ(_txe_timer_activate(&t), kTxTimerRefused);

    // Created anew it runs again, in the same slot.
    ASSERT_EQ(_txe_timer_create(&t, "once", record_expiry, 6, 20, 0, kTxAutoActivate), kTxOk);
    EXPECT_EQ(slot_of(&t), 0);
    EXPECT_EQ(TimerPtr[1], nullptr);
    poll_every(1000, 200'000);
    ASSERT_EQ(g_fired.size(), 2u);
    EXPECT_EQ(g_fired[1].at_us, 120'000u);
}

TEST_F(TxTest, DeactivatedTimerHoldsItsRemainingTime) {
    TxTimer t;
    ASSERT_EQ(_txe_timer_create(&t, "T", record_expiry, 1, 50, 0, kTxAutoActivate), kTxOk);
    poll_every(10'000, 30'000); // 20 ms left
    EXPECT_EQ(_txe_timer_deactivate(&t), kTxOk);
    poll_every(10'000, 500'000);
    EXPECT_TRUE(g_fired.empty());
    EXPECT_EQ(t.remaining, 20u);
    EXPECT_EQ(_txe_timer_activate(&t), kTxOk);
    poll_every(1'000, 600'000);
    ASSERT_EQ(g_fired.size(), 1u);
    EXPECT_EQ(g_fired[0].at_us, 520'000u);
}

// ---------------------------------------------------------------------------
// Timers on the clock

TEST_F(TxTest, PeriodicTimerRunsFromTheReturnOfItsFunction) {
    TxTimer t;
    ASSERT_EQ(_txe_timer_create(&t, "T", record_expiry, 1, 100, 100, kTxAutoActivate), kTxOk);
    g_on_expiry = [](uint32_t) { host::clock_advance_ms(5); }; // the function takes 5 ms

    int polls = 0;
    while (g_fired.empty()) {
        ASSERT_LT(polls, 10);
        host::clock_advance_ms(30);
        tx_timer_check();
        ++polls;
    }
    EXPECT_EQ(polls, 4);
    EXPECT_EQ(g_fired[0].at_us, 120'000u);

    // Returned at 125 ms, so the next expiry is due at 225 ms, not 220.
    poll_every(1'000, 224'000);
    EXPECT_EQ(g_fired.size(), 1u);
    poll_every(1'000, 225'000);
    ASSERT_EQ(g_fired.size(), 2u);
    EXPECT_EQ(g_fired[1].at_us, 225'000u);
}

TEST_F(TxTest, SubMillisecondRemainderIsCarriedBetweenPolls) {
    struct Case {
        uint64_t poll_us;
        uint64_t fires_at_us; // first poll at or after 10 ms
    };
    // clang-format off
    const Case cases[] = {
        { 100, 10'000},
        { 900, 10'800}, // polls that see less than a millisecond count nothing yet
        {1500, 10'500}, // dropping the half milliseconds would fire at 15 ms
        {2300, 11'500},
        {9999, 19'998},
    };
    // clang-format on
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "poll every " << c.poll_us << " us");
        start_case();
        TxTimer t;
        ASSERT_EQ(_txe_timer_create(&t, "T", record_expiry, 1, 10, 0, kTxAutoActivate), kTxOk);
        poll_every(c.poll_us, 40'000);
        ASSERT_EQ(g_fired.size(), 1u);
        EXPECT_EQ(g_fired[0].at_us, c.fires_at_us);
    }
}

TEST_F(TxTest, CounterWrapIsMeasuredModulo32Bits) {
    // Bring the 100 us counter to 500 ticks (50 ms) before it wraps.
    uint32_t frt = FPGA_GetFrt();
    host::clock_advance_ns(uint64_t(0xFFFFFFFFu - 500 - frt) * 100'000);
    ASSERT_EQ(FPGA_GetFrt(), 0xFFFFFFFFu - 500);
    EXPECT_EQ(_tx_time_get(), (0xFFFFFFFFu - 500) / 10);
    g_t0_ns = host::mono_ns();

    TxTimer t;
    ASSERT_EQ(_txe_timer_create(&t, "T", record_expiry, 1, 80, 80, kTxAutoActivate), kTxOk);
    poll_every(3'000, 200'000);
    ASSERT_GE(FPGA_GetFrt(), 1000u); // the counter wrapped on the way
    ASSERT_EQ(g_fired.size(), 2u);
    EXPECT_EQ(g_fired[0].at_us, 81'000u);
    EXPECT_EQ(g_fired[1].at_us, 162'000u);

    // The millisecond time does not jump back with the counter: it goes on
    // from the 64-bit tick, so an interval across the wrap stays right.
    uint64_t ticks = FPGA_GetFrt64();
    EXPECT_GT(ticks, uint64_t(0xFFFFFFFFu));
    EXPECT_EQ(_tx_time_get(), uint32_t(ticks / 10));
    EXPECT_GT(_tx_time_get(), (0xFFFFFFFFu - 500) / 10);
}

TEST_F(TxTest, DueTimersFireInSlotOrder) {
    TxTimer a, b, c;
    ASSERT_EQ(_txe_timer_create(&a, "a", record_expiry, 1, 10, 0, kTxNoActivate), kTxOk);
    ASSERT_EQ(_txe_timer_create(&b, "b", record_expiry, 2, 10, 0, kTxNoActivate), kTxOk);
    ASSERT_EQ(_txe_timer_delete(&a), kTxOk);
    ASSERT_EQ(_txe_timer_create(&c, "c", record_expiry, 3, 10, 0, kTxNoActivate), kTxOk);
    ASSERT_EQ(slot_of(&c), 0);
    ASSERT_EQ(_txe_timer_activate(&b), kTxOk);
    ASSERT_EQ(_txe_timer_activate(&c), kTxOk);
    host::clock_advance_ms(10);
    tx_timer_check();
    ASSERT_EQ(g_fired.size(), 2u);
    EXPECT_EQ(g_fired[0].arg, 3u);
    EXPECT_EQ(g_fired[1].arg, 2u);
}

// Expiry functions that change the timer table while it is being polled.
TEST_F(TxTest, ExpiryFunctionMayDeleteAndCreateTimers) {
    TxTimer self, other, fresh;
    struct Case {
        const char *what;
        std::function<void(uint32_t)> on_expiry; // run when timer "self" (arg 1) fires
        std::vector<uint32_t> fired_at_10ms;     // args fired in the pass at 10 ms
        std::vector<uint32_t> fired_by_100ms;    // args fired by 100 ms, in order
    };
    // "self" sits in slot 0, periodic 10 ms; "other" in slot 1, one-shot 10 ms.
    // clang-format off
    const Case cases[] = {
        {"deletes itself: not reloaded",
         [&](uint32_t a) { if (a == 1) _txe_timer_delete(&self); },
         {1, 2}, {1, 2}},
        {"deletes the next due timer: it does not fire",
         [&](uint32_t a) { if (a == 1) _txe_timer_delete(&other); },
         {1}, {1, 1, 1, 1, 1, 1, 1, 1, 1, 1}},
        {"creates a timer into a later slot: polled, but not yet due",
         [&](uint32_t a) {
             if (a == 1 && slot_of(&fresh) < 0)
                 _txe_timer_create(&fresh, "fresh", record_expiry, 3, 25, 0, kTxAutoActivate);
         },
         {1, 2}, {1, 2, 1, 1, 3, 1, 1, 1, 1, 1, 1, 1}},
        {"deletes itself and takes its slot anew with fresh ticks",
         [&](uint32_t a) {
             if (a != 1) return;
             _txe_timer_delete(&self);
             _txe_timer_create(&self, "self", record_expiry, 1, 30, 50, kTxAutoActivate);
         },
         {1, 2}, {1, 2, 1, 1, 1}}, // 10, 40, 70, 100: the new ticks are not overwritten
        {"deactivates itself: reloaded but stopped",
         [&](uint32_t a) { if (a == 1) _txe_timer_deactivate(&self); },
         {1, 2}, {1, 2}},
    };
    // clang-format on
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        start_case();
        g_on_expiry = c.on_expiry;
        ASSERT_EQ(_txe_timer_create(&self, "self", record_expiry, 1, 10, 10, kTxAutoActivate),
                  kTxOk);
        ASSERT_EQ(_txe_timer_create(&other, "other", record_expiry, 2, 10, 0, kTxAutoActivate),
                  kTxOk);
        fresh = TxTimer{};
        fresh.index = kTxNoTimerIndex;

        poll_every(10'000, 10'000);
        std::vector<uint32_t> args;
        for (const Fired &f : g_fired)
            args.push_back(f.arg);
        EXPECT_EQ(args, c.fired_at_10ms);

        poll_every(1'000, 100'000);
        args.clear();
        for (const Fired &f : g_fired)
            args.push_back(f.arg);
        EXPECT_EQ(args, c.fired_by_100ms);
        g_on_expiry = nullptr;
    }
    // The last case left "self" stopped with a full period to run again.
    EXPECT_EQ(self.active, nullptr);
    EXPECT_EQ(self.remaining, 10u);
}

// A service that tears itself down from its own expiry function frees the
// record; the poll must not touch it afterwards (caught by the sanitizer build).
TEST_F(TxTest, ExpiryFunctionMayFreeItsOwnRecord) {
    auto *t = new TxTimer;
    ASSERT_EQ(_txe_timer_create(t, "T", record_expiry, 1, 10, 10, kTxAutoActivate), kTxOk);
    g_on_expiry = [&t](uint32_t) {
        _txe_timer_delete(t);
        delete t;
        t = nullptr;
    };
    poll_every(1'000, 50'000);
    EXPECT_EQ(g_fired.size(), 1u);
    EXPECT_EQ(t, nullptr);
    EXPECT_EQ(TimerPtr[0], nullptr);
}

// ---------------------------------------------------------------------------
// Event flags

TEST_F(TxTest, EventFlagsGet) {
    struct Case {
        uint32_t current, requested, option;
        uint32_t status, actual, left;
    };
    constexpr uint32_t kUntouched = 0xDEADBEEF;
    // clang-format off
    const Case cases[] = {
        // all: part present refuses and clears nothing
        {0b0101, 0b0011, kTxFlagsAll,      kTxFlagsAbsent, kUntouched, 0b0101},
        {0b0101, 0b0011, kTxFlagsAllClear, kTxFlagsAbsent, kUntouched, 0b0101},
        {0b0111, 0b0011, kTxFlagsAll,      kTxOk,          0b0111,     0b0111},
        {0b0111, 0b0011, kTxFlagsAllClear, kTxOk,          0b0111,     0b0100},
        // any: one present is enough; clear takes only the requested flags
        {0b0101, 0b0011, kTxFlagsAny,      kTxOk,          0b0101,     0b0101},
        {0b0101, 0b0011, kTxFlagsAnyClear, kTxOk,          0b0101,     0b0100},
        {0b0100, 0b0011, kTxFlagsAny,      kTxFlagsAbsent, kUntouched, 0b0100},
        {0b0100, 0b0011, kTxFlagsAnyClear, kTxFlagsAbsent, kUntouched, 0b0100},
        {0b0000, 0b0000, kTxFlagsAny,      kTxFlagsAbsent, kUntouched, 0b0000},
    };
    // clang-format on
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "current " << c.current << " requested " << c.requested
                                        << " option " << c.option);
        TxEventFlags g;
        std::memset(&g, 0x5A, sizeof g);
        ASSERT_EQ(_txe_event_flags_create(&g, "FTP Server Thread Events"), kTxOk);
        EXPECT_EQ(g.current, 0u);
        ASSERT_EQ(_txe_event_flags_set(&g, c.current, 0), kTxOk);
        uint32_t actual = kUntouched;
        EXPECT_EQ(_txe_event_flags_get(&g, c.requested, c.option, &actual, kTxWaitForever),
                  c.status);
        EXPECT_EQ(actual, c.actual);
        EXPECT_EQ(g.current, c.left);
    }
}

TEST_F(TxTest, EventFlagsSetOnlyAdds) {
    TxEventFlags g;
    ASSERT_EQ(_txe_event_flags_create(&g, "E"), kTxOk);
    // The option never turns a set into a clear.
    for (uint32_t option : {0u, 1u, 2u, 3u})
        EXPECT_EQ(_txe_event_flags_set(&g, 1u << option, option), kTxOk);
    EXPECT_EQ(_txe_event_flags_set(&g, 0, 0), kTxOk);
    EXPECT_EQ(g.current, 0b1111u);
}

// ---------------------------------------------------------------------------
// Thread records

void thread_entry(uint32_t) {}

TEST_F(TxTest, ThreadCreateChecksInOrder) {
    uint8_t stack[256];
    TxThread th;
    struct Case {
        const char *what;
        TxThread *thread;
        TxThreadEntry entry;
        void *stack;
        uint32_t priority, threshold, auto_start;
        uint32_t status;
    };
    // Each case also breaks every later check, so only the order picks the status.
    // clang-format off
    const Case cases[] = {
        {"no record",          nullptr, nullptr,      nullptr, 4, 5, 2, kTxNoThread},
        {"no entry",           &th,     nullptr,      stack,   4, 5, 2, kTxNoEntryOrStack},
        {"no stack",           &th,     thread_entry, nullptr, 4, 5, 2, kTxNoEntryOrStack},
        {"threshold too high", &th,     thread_entry, stack,   4, 5, 2, kTxBadThreshold},
        {"auto-start 2",       &th,     thread_entry, stack,   4, 4, 2, kTxBadAutoStart},
        {"threshold equal",    &th,     thread_entry, stack,   4, 4, 1, kTxOk},
        {"threshold below",    &th,     thread_entry, stack,   4, 1, 0, kTxOk},
    };
    // clang-format on
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(_txe_thread_create(c.thread, "FTP Server Thread", c.entry, 9, c.stack,
                                     sizeof stack, c.priority, c.threshold, 3, c.auto_start),
                  c.status);
    }

    ASSERT_EQ(_txe_thread_create(&th, "FTP Server Thread", thread_entry, 9, stack, sizeof stack, 16,
                                 8, 3, kTxAutoStart),
              kTxOk);
    EXPECT_STREQ(th.name, "FTP Server Thread");
    EXPECT_EQ(th.entry, &thread_entry);
    EXPECT_EQ(th.entry_arg, 9u);
    EXPECT_EQ(th.stack_start, stack);
    EXPECT_EQ(th.stack_size, sizeof stack);
    EXPECT_EQ(th.stack_end, stack + sizeof stack - 1);
    EXPECT_EQ(th.priority, 16u);
    EXPECT_EQ(th.user_priority, 16u);
    EXPECT_EQ(th.preempt_threshold, 8u);
    EXPECT_EQ(th.time_slice, 3u);
}

} // namespace
