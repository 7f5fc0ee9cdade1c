// The recipe service's name lookup, until recipes are built: no recipe
// table, so every number lies beyond it and gives nothing.
#include "data/data.h"

int GetRecipeNamePath(int, char *name, char *path, int size, int) {
    if (name && size > 0) name[0] = 0;
    if (path && size > 0) path[0] = 0;
    return 0;
}
