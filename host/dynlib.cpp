#include "host/dynlib.h"

#include "host/root.h"

#include <dlfcn.h>

namespace host {

namespace {
std::string g_error;
}

void *dynlib_open(const std::string &board_path) {
    g_error.clear();
    void *lib = dlopen(path(board_path).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!lib) {
        const char *e = dlerror();
        g_error = e ? e : "cannot open";
    }
    return lib;
}

void *dynlib_symbol(void *lib, const char *name) {
    return lib && name ? dlsym(lib, name) : nullptr;
}

void dynlib_close(void *lib) {
    if (lib) dlclose(lib);
}

std::string dynlib_error() {
    return g_error;
}

} // namespace host
