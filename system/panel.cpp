// The panel firmware: only the argument count is read, as on the board.
#include "system/startup.h"

int main(int argc, char **) {
    return panel_main(argc);
}
