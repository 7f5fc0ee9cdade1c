// Directory reading for the panel's own matching of file names (no shell
// expands a pattern): the entries of a folder and the error of a path.
#pragma once
#include <string>
#include <vector>

namespace host {

// The names in a folder (host path), "." and ".." left out; 0 or the errno
// of opening it in *error.
std::vector<std::string> list_dir(const std::string &dir, int *error);
// 0 when the host path exists and is readable (a folder: listable), else the
// errno.
int read_error(const std::string &path);
// True when the host path is a folder.
bool is_dir(const std::string &path);

} // namespace host
