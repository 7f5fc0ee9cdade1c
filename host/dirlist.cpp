#include "host/dirlist.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace host {

std::vector<std::string> list_dir(const std::string &dir, int *error) {
    std::vector<std::string> out;
    DIR *d = opendir(dir.c_str());
    if (error) *error = d ? 0 : errno;
    if (!d) return out;
    while (dirent *e = readdir(d)) {
        std::string n = e->d_name;
        if (n != "." && n != "..") out.push_back(n);
    }
    closedir(d);
    return out;
}

int read_error(const std::string &path) {
    return access(path.c_str(), R_OK) == 0 ? 0 : errno;
}

bool is_dir(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace host
