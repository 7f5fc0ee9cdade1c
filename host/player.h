// The outside media player that video playback starts. The board keeps its
// player at "/mnt/cfg/mplayer"; on the host an executable at that place in the
// root folder is used when there is one (for example a link to a real
// player), else the stand-in "player_standin" beside the panel's program,
// which follows the same command line and command pipe and records what it
// receives in the pipe's name + ".log".
#pragma once
#include <sys/types.h>

#include <string>
#include <vector>

namespace host {

inline constexpr const char *kPlayerCommand = "/mnt/cfg/mplayer";

// Starts the player for the words of a board command line (the first word is
// kPlayerCommand); board paths among the arguments are mapped into the root.
// Returns the player's pid (reaped with the panel's other children), or -1.
pid_t player_start(const std::vector<std::string> &words);
// The pid of the player started last, 0 when none.
pid_t player_pid();
void player_reset();

} // namespace host
