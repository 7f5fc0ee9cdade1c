// The registry of descriptors the loop's wait watches.
#include "platform/pass_wait.h"
#include "tests/support/panel_fixture.h"

#include <gtest/gtest.h>

TEST(PassWait, WatchChangeAndUnwatchKeepOneEntryPerDescriptor) {
    panel_reset_all();
    PassWait_Watch(5, POLLIN);
    PassWait_Watch(7, POLLIN);
    PassWait_Watch(5, POLLIN | POLLOUT); // a change, not a second entry
    PassWait_Watch(-1, POLLIN);          // a closed descriptor is never watched
    pollfd fds[4];
    ASSERT_EQ(PassWait_Fill(fds, 4), 2u);
    EXPECT_EQ(fds[0].fd, 5);
    EXPECT_EQ(fds[0].events, POLLIN | POLLOUT);
    EXPECT_EQ(fds[1].fd, 7);
    EXPECT_EQ(PassWait_Fill(fds, 1), 1u); // bounded by the caller's room
    PassWait_Unwatch(5);
    ASSERT_EQ(PassWait_Fill(fds, 4), 1u);
    EXPECT_EQ(fds[0].fd, 7);

    EXPECT_FALSE(PassWait_TakePending());
    PassWait_WorkPending();
    EXPECT_TRUE(PassWait_TakePending());
    EXPECT_FALSE(PassWait_TakePending()); // taken once
}

// What the last wait saw is what a service reads by; a descriptor no wait has
// looked at yet (just watched, or left out of the wait) counts as ready.
TEST(PassWait, ServicesReadWhatTheLastWaitSaw) {
    panel_reset_all();
    PassWait_Watch(5, POLLIN);
    PassWait_Watch(7, POLLIN);
    PassWait_Watch(9, POLLOUT);
    EXPECT_EQ(PassWait_Ready(5), POLLIN) << "not looked at yet";
    EXPECT_EQ(PassWait_Ready(8), 0) << "not watched";
    pollfd fds[3];
    ASSERT_EQ(PassWait_Fill(fds, 3), 3u);
    fds[1].revents = POLLIN;
    PassWait_Seen(fds, 2); // the third was left out of the wait
    EXPECT_EQ(PassWait_Ready(5), 0);
    EXPECT_EQ(PassWait_Ready(7), POLLIN);
    EXPECT_EQ(PassWait_Ready(9), POLLOUT);
    PassWait_Watch(5, POLLIN | POLLOUT); // a change is looked at again
    EXPECT_EQ(PassWait_Ready(5), POLLIN | POLLOUT);

    // A service ticked outside the passes reads after its first look since
    // an empty wait.
    uint32_t last = 0;
    EXPECT_FALSE(PassWait_Idle(7, &last)) << "the wait saw it ready";
    PassWait_Seen(fds, 2);
    fds[1].revents = 0;
    PassWait_Seen(fds, 2);
    EXPECT_TRUE(PassWait_Idle(7, &last)) << "the pass's own look leaves the read out";
    EXPECT_FALSE(PassWait_Idle(7, &last)) << "a second look before the next wait reads";
    PassWait_Seen(fds, 2);
    EXPECT_TRUE(PassWait_Idle(7, &last));
}
