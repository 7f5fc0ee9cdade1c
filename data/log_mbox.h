// The data logger's file mailbox as its two writers share it: the data logger
// and the debug log. A writer whose post was taken holds the mailbox until it
// has collected its answer, so neither ever reads the other's result; while
// one holds it the other's post is refused as busy (-3) and is retried on a
// later scan.
#pragma once
#include <cstdint>

enum class LogMboxUser : uint8_t { None, Logger, Debug };

// Runs the post `post` (a CFDL_* call) for `who`: -3 while the other writer
// holds the mailbox, else the post's result; -2 makes `who` the holder.
template <class Post> int16_t LogMbox_Post(LogMboxUser who, Post post);
// The answer for the holder (CFDL_Result); anything but -2 ends the hold.
int16_t LogMbox_Result(LogMboxUser who);
// `who` gives up a request it no longer waits for (the mailbox's own toggles
// still refuse a post until that request is answered).
void LogMbox_Release(LogMboxUser who);
LogMboxUser LogMbox_Holder();
void LogMbox_SetHolder(LogMboxUser who);

template <class Post> int16_t LogMbox_Post(LogMboxUser who, Post post) {
    LogMboxUser h = LogMbox_Holder();
    if (h != LogMboxUser::None && h != who) return -3;
    int16_t r = post();
    if (r == -2) LogMbox_SetHolder(who);
    return r;
}
