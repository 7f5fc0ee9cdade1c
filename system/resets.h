// The resets of every module, as one ordered table. Each module keeps its
// state in one place and offers a reset; the table runs them all in an order
// that works, so that a test starts from the state of a fresh process.
#pragma once
#include <cstddef>
#include <span>

struct ResetRow {
    const char *name; // the function's name as written in the source ("host::" for host/)
    void (*reset)();
};

// Every module reset, in the order System_ResetAll runs them.
std::span<const ResetRow> System_Resets();

// Runs the table in order, then System_Wire() (the resets leave the hooks
// alone, but the wiring is set again last so a reset can never leave one
// cleared). `after_row`, when given, runs after each row with its name: a test
// fixture puts its own steps there, e.g. the virtual clock right after the
// clock's reset and before anything reads the time.
void System_ResetAll(void (*after_row)(const char *name) = nullptr);

// Puts the state of the top's entry points that are not built yet back to its
// start values (they hold none yet).
void System_NotBuiltReset();
