// Writing the files of the internal flash: a new file next to the old one,
// renamed over it when complete, so that a power loss or a kill in the middle
// of a write leaves the old file whole. Created with mode 0600.
#pragma once
#include <cstddef>
#include <string>

class NvFile {
public:
    NvFile() = default;
    NvFile(const NvFile &) = delete;
    NvFile &operator=(const NvFile &) = delete;
    ~NvFile(); // an unfinished file is dropped; the old one stays
    // Starts the new file for a board path; false when it cannot be created.
    bool open(const std::string &board_path);
    // Bytes written (short on a write error).
    size_t write(const void *data, size_t n);
    // Syncs the data (when asked), closes and renames over the old file.
    // False when the sync failed (the file is still put in place) or the
    // rename failed (the old file stays).
    bool commit(bool sync);
    void abort();

private:
    int fd_ = -1;
    std::string target_, temp_;
};

// Reads a whole small file; false when it cannot be opened.
bool nv_read_file(const std::string &board_path, std::string *out);
// Reads at most `capacity` bytes of the start of a file into `out`; the bytes
// read, or -1 when it cannot be opened.
long nv_read_part(const std::string &board_path, void *out, size_t capacity);
// Removes a file; true when it is gone (absent counts as removed).
bool nv_remove(const std::string &board_path);
bool nv_exists(const std::string &board_path);
