// The media file layer: paths and drive letters, fx status numbers, current
// directories, listings, mounting and removal, formatting and free space.
#include "base/le.h"
#include "host/shell.h"
#include "media_fixture.h"
#include "platform/cf_api.h"
#include "platform/media.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>

namespace {
std::string chk(const char *path, int drive = 255, int *mounted = nullptr) {
    char out[kFxPathMax];
    int m = CfDriveChk(path, out, drive);
    if (mounted) *mounted = m;
    return out;
}

bool logged(const std::string &cmd) {
    auto log = host::shell_log();
    return std::find(log.begin(), log.end(), cmd) != log.end();
}
} // namespace

class FxTest : public MediaTest {};

TEST_F(FxTest, DriveLettersAndPaths) {
    struct Case {
        const char *path;
        const char *out;
        int mounted;
    };
    // clang-format off
    for (Case c : {Case{"b:\\LOGS\\DATA.CSV", "/mnt/USB1/LOGS/DATA.CSV", 1},
                   Case{"A:DATA.CSV",        "/mnt/USB0/DATA.CSV",      1},
                   Case{"z:/config.pgm",     "/mnt/cfg/config.pgm",     1},
                   Case{"\\X\\Y.TXT",        "/mnt/USB0/X/Y.TXT",       1},
                   Case{"",                  "/mnt/USB0/",              1},
                   Case{"Q:\\DATA.CSV",      "/",                       0}}) {
        // clang-format on
        int mounted = -1;
        EXPECT_EQ(chk(c.path, 255, &mounted), c.out) << c.path;
        EXPECT_EQ(mounted, c.mounted) << c.path;
    }
    EXPECT_EQ(chk("LOGS\\A.CSV", 1), "/mnt/USB1/LOGS/A.CSV") << "a drive given is used as passed";
    EXPECT_EQ(chk(std::string(600, 'x').c_str(), 0).size(), size_t(kFxPathMax - 1)) << "cut at 511";
}

TEST_F(FxTest, NamesJoinTheCurrentDirectoryUnlessTheyHoldASeparator) {
    ASSERT_EQ(_fxe_directory_create(&Cf_Media, "LOGS"), fx::kSuccess);
    ASSERT_EQ(_fxe_directory_create(&Cf_Media, "SUB"), fx::kSuccess);
    FxLocalPath rec;
    ASSERT_EQ(_fxe_directory_local_path_set(&Cf_Media, &rec, "LOGS"), fx::kSuccess);
    EXPECT_EQ(_fxe_file_create(&Cf_Media, "DATA.CSV"), fx::kSuccess);
    EXPECT_TRUE(exists("/mnt/USB0/LOGS/DATA.CSV"));
    EXPECT_EQ(_fxe_file_create(&Cf_Media, "SUB/X.TXT"), fx::kSuccess);
    EXPECT_TRUE(exists("/mnt/USB0/SUB/X.TXT")) << "taken from the drive's root";
    // A name without a letter is on the drive of its record; "X:NAME" is in X's current directory.
    EXPECT_EQ(_fxe_file_create(&Cf_Media2, "ON_B.TXT"), fx::kSuccess);
    EXPECT_TRUE(exists("/mnt/USB1/ON_B.TXT"));
    EXPECT_EQ(_fxe_file_create(&Cf_Media2, "A:ON_A.TXT"), fx::kSuccess);
    EXPECT_TRUE(exists("/mnt/USB0/LOGS/ON_A.TXT"));
    EXPECT_EQ(_fxe_file_create(&Cf_Media, "Q:BAD.TXT"), fx::kMediaNotOpen);
    // FAT names match in any case.
    FxFile f{};
    EXPECT_EQ(_fxe_file_open(&Cf_Media, &f, "data.csv", 0), fx::kSuccess);
    _fxe_file_close(&f);
}

TEST_F(FxTest, CurrentDirectory) {
    FxLocalPath rec, saved;
    char cur[kFxPathMax];
    _fxe_directory_local_path_set(&Cf_Media, &rec, "LOGS");
    _fxe_directory_local_path_set(&Cf_Media, &rec, "LOGS");
    _fxe_directory_local_path_get(&Cf_Media, cur);
    EXPECT_STREQ(cur, "LOGS/LOGS/");
    EXPECT_STREQ(rec.path, "LOGS/LOGS/");
    EXPECT_EQ(Cf_Media.local_path, &rec);
    std::strcpy(saved.path, "KEEP/");
    _fxe_directory_local_path_set(&Cf_Media, &rec, "/");
    _fxe_directory_local_path_get(&Cf_Media, cur);
    EXPECT_STREQ(cur, "");
    _fxe_directory_local_path_set(&Cf_Media, &rec, "B:\\DIR");
    _fxe_directory_local_path_get(&Cf_Media, cur);
    EXPECT_STREQ(cur, "B:\\DIR/");
    _fxe_directory_local_path_restore(&Cf_Media, &saved);
    _fxe_directory_local_path_get(&Cf_Media, cur);
    EXPECT_STREQ(cur, "KEEP/");
    _fxe_directory_local_path_restore(&Cf_Media, nullptr);
    _fxe_directory_local_path_get(&Cf_Media, cur);
    EXPECT_STREQ(cur, "");
    EXPECT_EQ(_fxe_directory_local_path_set(&Cf_Media, &rec, std::string(600, 'D').c_str()),
              fx::kInvalidPath)
        << "refused, not cut to another directory";
}

TEST_F(FxTest, StatusNumbers) {
    write_file("/mnt/USB0/FILE.TXT", "abc");
    write_file("/mnt/USB0/OTHER.TXT", "x");
    write_file("/mnt/USB0/FULL/KEEP.TXT", "k");
    FxFile f{};
    uint32_t n = 99, attr = 0;
    char buf[8];
    EXPECT_EQ(_fxe_file_open(&Cf_Media, &f, "MISSING.TXT", 1), fx::kNotFound)
        << "open never creates";
    EXPECT_EQ(_fxe_file_create(&Cf_Media, "\\NODIR\\X.TXT"), fx::kInvalidPath);
    EXPECT_EQ(_fxe_file_rename(&Cf_Media, "NONE.TXT", "NEW.TXT"), fx::kInvalidPath);
    EXPECT_EQ(_fxe_file_rename(&Cf_Media, "FILE.TXT", "OTHER.TXT"), fx::kAlreadyCreated);
    EXPECT_EQ(_fxe_file_delete(&Cf_Media, "MISSING.TXT"), fx::kNotFound);
    EXPECT_EQ(_fxe_file_delete(&Cf_Media, "FULL"), fx::kNotAFile);
    EXPECT_EQ(_fxe_directory_create(&Cf_Media, "FULL"), fx::kAlreadyCreated);
    EXPECT_EQ(_fxe_directory_delete(&Cf_Media, "FULL"), fx::kDirNotEmpty);
    EXPECT_EQ(_fxe_directory_delete(&Cf_Media, "FILE.TXT"), fx::kNotDirectory);
    EXPECT_EQ(_fxe_directory_name_test(&Cf_Media, "FILE.TXT"), fx::kNotDirectory);
    EXPECT_EQ(_fxe_directory_name_test(&Cf_Media, "NONE"), fx::kNotFound);
    EXPECT_EQ(_fxe_directory_name_test(&Cf_Media, "FULL"), fx::kSuccess);
    EXPECT_EQ(_fxe_file_attributes_read(&Cf_Media, "FULL", &attr), fx::kNotAFile);
    EXPECT_EQ(attr & fx::kDirectory, fx::kDirectory);
    EXPECT_EQ(_fxe_directory_attributes_read(&Cf_Media, "FULL", &attr), fx::kSuccess);
    EXPECT_EQ(_fxe_file_attributes_read(&Cf_Media, "NONE", &attr), fx::kInvalidPath);
    EXPECT_EQ(_fxe_file_close(&f), fx::kSuccess) << "a closed record";

    ASSERT_EQ(_fxe_file_open(&Cf_Media, &f, "FILE.TXT", 0), fx::kSuccess);
    EXPECT_EQ(f.size, 3u);
    EXPECT_EQ(f.size_at_open, 3u);
    EXPECT_EQ(_fxe_file_write(&f, "x", 1), fx::kNotOpen) << "read-only descriptor";
    EXPECT_EQ(_fxe_file_read(&f, buf, sizeof buf, &n), fx::kSuccess);
    EXPECT_EQ(n, 3u);
    EXPECT_EQ(_fxe_file_read(&f, buf, sizeof buf, &n), fx::kEndOfFile);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(_fxe_file_close(&f), fx::kSuccess);
    EXPECT_EQ(_fxe_file_read(&f, buf, sizeof buf, &n), fx::kNotOpen);

    // A full medium.
    ASSERT_EQ(::symlink("/dev/full", host::path("/mnt/USB0/FULL/DISK.BIN").c_str()), 0);
    ASSERT_EQ(_fxe_file_open(&Cf_Media, &f, "\\FULL\\DISK.BIN", 1), fx::kSuccess);
    EXPECT_EQ(_fxe_file_write(&f, "data", 4), fx::kNoMoreSpace);
    _fxe_file_close(&f);
    EXPECT_EQ(CfResultDecode(fx::kNoMoreSpace), cf::kCorrupt);

    // A medium that is not there.
    host::media_remove(host::kMediumUsb);
    EXPECT_EQ(_fxe_file_open(&Cf_Media2, &f, "B:\\X.TXT", 0), fx::kMediaNotOpen);
    EXPECT_EQ(_fxe_file_create(&Cf_Media, "B:\\X.TXT"), fx::kMediaNotOpen);
}

TEST_F(FxTest, OpenTypesAndSeeks) {
    write_file("/mnt/USB0/F.BIN", "0123456789");
    FxFile f{};
    char buf[4] = {};
    uint32_t n = 0;
    ASSERT_EQ(_fxe_file_open(&Cf_Media, &f, "F.BIN", 1), fx::kSuccess);
    EXPECT_EQ(_fxe_file_relative_seek(&f, 3, 1), fx::kSuccess);
    EXPECT_EQ(_fxe_file_read(&f, buf, 3, &n), fx::kSuccess);
    EXPECT_EQ(std::string(buf, n), "789") << "three back from the end";
    EXPECT_EQ(_fxe_file_seek(&f, 2), fx::kSuccess);
    EXPECT_EQ(_fxe_file_write(&f, "AB", 2), fx::kSuccess);
    EXPECT_EQ(_fxe_file_truncate(&f, 6), fx::kSuccess);
    _fxe_file_close(&f);
    EXPECT_EQ(read_file("/mnt/USB0/F.BIN"), "01AB45");
    ASSERT_EQ(_fxe_file_open(&Cf_Media, &f, "F.BIN", 2), fx::kSuccess) << "appending";
    EXPECT_EQ(_fxe_file_write(&f, "Z", 1), fx::kSuccess);
    EXPECT_EQ(f.size, 7u);
    EXPECT_EQ(f.size_at_open, 6u);
    _fxe_file_close(&f);
    ASSERT_EQ(_fxe_file_open(&Cf_Media, &f, "F.BIN", 4), fx::kSuccess) << "truncating";
    EXPECT_EQ(f.size, 0u);
    _fxe_file_close(&f);
    EXPECT_EQ(read_file("/mnt/USB0/F.BIN"), "");
}

TEST_F(FxTest, AttributesAndRenames) {
    write_file("/mnt/USB0/A.TXT", "a");
    uint32_t attr = 0;
    ASSERT_EQ(_fxe_file_attributes_set(&Cf_Media, "A.TXT", fx::kReadOnly), fx::kSuccess);
    _fxe_file_attributes_read(&Cf_Media, "A.TXT", &attr);
    EXPECT_EQ(attr, fx::kReadOnly);
    ASSERT_EQ(_fxe_file_attributes_set(&Cf_Media, "A.TXT", fx::kSystem | fx::kArchive),
              fx::kSuccess);
    _fxe_file_attributes_read(&Cf_Media, "A.TXT", &attr);
    EXPECT_EQ(attr, fx::kSystem);
    ASSERT_EQ(_fxe_file_attributes_set(&Cf_Media, "A.TXT", 0), fx::kSuccess);
    _fxe_file_attributes_read(&Cf_Media, "A.TXT", &attr);
    EXPECT_EQ(attr, 0u);
    EXPECT_EQ(_fxe_file_rename(&Cf_Media, "A.TXT", "a.txt"), fx::kSuccess)
        << "same file in another case";
    EXPECT_EQ(_fxe_file_rename(&Cf_Media, "a.txt", "B.TXT"), fx::kSuccess);
    EXPECT_EQ(read_file("/mnt/USB0/B.TXT"), "a");
    ASSERT_EQ(_fxe_directory_create(&Cf_Media, "D1"), fx::kSuccess);
    EXPECT_EQ(_fxe_directory_rename(&Cf_Media, "D1", "D2"), fx::kSuccess);
    EXPECT_TRUE(exists("/mnt/USB0/D2"));
    EXPECT_EQ(_fxe_directory_delete(&Cf_Media, "D2"), fx::kSuccess);
}

TEST_F(FxTest, ListingGivesEveryEntryWithItsDetails) {
    write_file("/mnt/USB0/LOGS/DATA.CSV", "12345");
    host::make_dirs("/mnt/USB0/LOGS/SUB");
    tm t{};
    t.tm_year = 2024 - 1900;
    t.tm_mon = 2;
    t.tm_mday = 9;
    t.tm_hour = 13;
    t.tm_min = 45;
    t.tm_sec = 30;
    t.tm_isdst = -1;
    timespec ts[2] = {{mktime(&t), 0}, {mktime(&t), 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, host::path("/mnt/USB0/LOGS/DATA.CSV").c_str(), ts, 0), 0);
    FxLocalPath rec;
    _fxe_directory_local_path_set(&Cf_Media, &rec, "LOGS");
    char name[kFxPathMax];
    uint32_t attr, size, y, mo, d, h, mi, s;
    std::vector<std::string> names;
    uint32_t st = _fxe_directory_first_full_entry_find(&Cf_Media, name, &attr, &size, &y, &mo, &d,
                                                       &h, &mi, &s);
    while (st == fx::kSuccess) {
        names.push_back(name);
        if (std::string(name) == "DATA.CSV") {
            EXPECT_EQ(size, 5u);
            EXPECT_EQ(attr, 0u);
            EXPECT_EQ(std::vector<uint32_t>({y, mo, d, h, mi, s}),
                      std::vector<uint32_t>({2024, 3, 9, 13, 45, 30}));
        }
        if (std::string(name) == "SUB") {
            EXPECT_EQ(attr & fx::kDirectory, fx::kDirectory);
        }
        st = _fxe_directory_next_full_entry_find(&Cf_Media, name, &attr, &size, &y, &mo, &d, &h,
                                                 &mi, &s);
    }
    EXPECT_EQ(st, fx::kNoMoreEntries);
    EXPECT_EQ(Cf_Media.listing, nullptr);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, std::vector<std::string>({".", "..", "DATA.CSV", "SUB"}));
    EXPECT_EQ(_fxe_directory_information_get(&Cf_Media, "DATA.CSV", nullptr, &size, nullptr,
                                             nullptr, nullptr, nullptr, nullptr, nullptr),
              fx::kSuccess);
    EXPECT_EQ(size, 5u);
    _fxe_directory_local_path_set(&Cf_Media, &rec, "NONE");
    EXPECT_EQ(_fxe_directory_first_full_entry_find(&Cf_Media, name, &attr, &size, &y, &mo, &d, &h,
                                                   &mi, &s),
              fx::kNotFound);
}

TEST_F(FxTest, MountingTheCardRunsTheBoardCommands) {
    EXPECT_EQ(Cf_Check(0), 3);
    EXPECT_STREQ(MntDrive[0].device, "/dev/mmcblk0p1");
    EXPECT_EQ(MntDrive[0].mounted, 1);
    EXPECT_EQ(MntDrivePtr1, &MntDrive[0]);
    EXPECT_EQ(MntDrivePtr2, &MntDrive[1]);
    EXPECT_EQ(host::shell_log(),
              std::vector<std::string>(
                  {"umount /mnt/USB0",
                   "mount -o umask=002,gid=$(id -g ftp| awk '{print $1}') /dev/mmcblk0p1 /mnt/USB0",
                   "mount -o remount,rw /dev/mmcblk0p1 /mnt/USB0"}));
    EXPECT_EQ(host::media_mounted_device("/mnt/USB0"), "/dev/mmcblk0p1");
    host::shell_log_clear();
    EXPECT_EQ(Cf_Check(1), 3);
    EXPECT_STREQ(MntDrive[1].device, "/dev/sda1");
    EXPECT_TRUE(host::shell_log().empty()) << "the stick is mounted by the system call alone";
    EXPECT_EQ(Cf_Check(2), 3);
    EXPECT_EQ(Cf_Media3.drive, 2u);
    EXPECT_EQ(Cf_Check(3), 0);
}

TEST_F(FxTest, WriteProtectedMediaMountThroughTheShell) {
    host::media_fail_next_mount(host::kMediumUsb, EROFS);
    EXPECT_EQ(Cf_Check(1), 3);
    EXPECT_TRUE(logged("mount -o umask=002 /dev/sda1 /mnt/USB1"));
    EXPECT_TRUE(logged("mount -o remount,rw /dev/sda1 /mnt/USB1"));
    host::media_fail_next_mount(host::kMediumSd, EIO);
    UnmountDrive("/mnt/USB0");
    EXPECT_EQ(Cf_Check(0), 0) << "other failures leave the drive unmounted";
}

TEST_F(FxTest, NoMediaAndNoFlashFolder) {
    host::media_remove(host::kMediumSd);
    EXPECT_EQ(Cf_Check(0), 0);
    EXPECT_TRUE(host::shell_log().empty());
    ::rmdir(host::path("/mnt/cfg").c_str());
    EXPECT_EQ(Cf_Check(2), 0);
}

TEST_F(FxTest, CardRemovedAndInsertedWhileAFileIsOpen) {
    FxFile f{};
    ASSERT_EQ(_fxe_file_create(&Cf_Media, "LOG.CSV"), fx::kSuccess);
    ASSERT_EQ(_fxe_file_open(&Cf_Media, &f, "LOG.CSV", 1), fx::kSuccess);
    uint32_t written = 0;
    ASSERT_EQ(CF_Write(&f, "before\r\n", 8, &written), cf::kOk);
    host::media_remove(host::kMediumSd);
    EXPECT_EQ(CF_Write(&f, "after\r\n", 7, &written), cf::kAbsent);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(CF_GetStatus(0), cf::kAbsent);
    EXPECT_EQ(MntDrive[0].mounted, 0);
    EXPECT_EQ(host::media_mounted_device("/mnt/USB0"), "") << "force-unmounted";
    FxFile g{};
    EXPECT_EQ(_fxe_file_open(&Cf_Media, &g, "LOG.CSV", 0), fx::kMediaNotOpen);
    EXPECT_EQ(CF_Close(&f), cf::kOk);
    host::media_insert(host::kMediumSd);
    EXPECT_EQ(CF_GetStatus(0), cf::kOk);
    ASSERT_EQ(_fxe_file_open(&Cf_Media, &g, "LOG.CSV", 0), fx::kSuccess);
    char buf[32];
    uint32_t n = 0;
    _fxe_file_read(&g, buf, sizeof buf, &n);
    EXPECT_EQ(std::string(buf, n), "before\r\n");
    _fxe_file_close(&g);
}

TEST_F(FxTest, FormatEmptiesTheCard) {
    write_file("/mnt/USB0/LOGS/A.CSV", "a");
    write_file("/mnt/cfg/config.pgm", "app");
    EXPECT_EQ(Cf_Format(0, 0), 3);
    EXPECT_TRUE(logged("mkfs.vfat -I /dev/mmcblk0p1 > /dev/shm/a"));
    EXPECT_FALSE(exists("/mnt/USB0/LOGS"));
    EXPECT_EQ(MntDrive[0].mounted, 1);
    EXPECT_EQ(CF_FormatCard(0), cf::kOk);
    EXPECT_EQ(Cf_Format(0, 2), 2) << "the internal flash is never formatted";
    EXPECT_EQ(read_file("/mnt/cfg/config.pgm"), "app");
    host::media_remove(host::kMediumUsb);
    EXPECT_EQ(Cf_Format(0, 1), 0);
    EXPECT_EQ(CF_FormatCard(1), cf::kAbsent);
}

TEST_F(FxTest, FreeSpaceFileMatchesTheFolders) {
    BackTskUpdate();
    std::string rec = read_file("/dev/shm/read.dat");
    ASSERT_EQ(rec.size(), 24u);
    const uint8_t *b = reinterpret_cast<const uint8_t *>(rec.data());
    for (int m = 0; m < 2; ++m) {
        std::string folder = host::path(m ? "/mnt/USB1" : "/mnt/USB0");
        std::istringstream in(capture("stat -f -c '%f %b %s' " + folder));
        uint64_t free = 0, total = 0, bsize = 0;
        in >> free >> total >> bsize;
        EXPECT_EQ(le32(b + 12 * m + 4), total) << m;
        EXPECT_EQ(le32(b + 12 * m + 8), bsize) << m;
        uint64_t got = le32(b + 12 * m);
        EXPECT_LE(got > free ? got - free : free - got, total / 100 + 16) << m;
    }
}

TEST_F(FxTest, FreeSpaceQuery) {
    uint32_t free = 0;
    Cf_Media.drive = 0;
    EXPECT_EQ(_fxe_media_space_available(&Cf_Media, &free), fx::kAccessError) << "no file yet";
    // Figures of the card and the stick, 4 KB blocks.
    std::string rec(24, '\0');
    uint8_t *b = reinterpret_cast<uint8_t *>(rec.data());
    put_le32(b + 0, 1000);
    put_le32(b + 4, 5000);
    put_le32(b + 8, 4096);
    put_le32(b + 12, 30);
    put_le32(b + 16, 60);
    put_le32(b + 20, 2048);
    write_file("/dev/shm/read.dat", rec);
    EXPECT_EQ(_fxe_media_space_available(&Cf_Media, &free), fx::kSuccess);
    EXPECT_EQ(free, 4000u);
    EXPECT_EQ(Cf_Media.block_kb, 4u);
    EXPECT_EQ(Cf_Media.total_blocks, 5000u);
    EXPECT_EQ(Cf_Media.block_factor, 1u);
    Cf_Media2.drive = 1;
    EXPECT_EQ(_fxe_media_space_available(&Cf_Media2, &free), fx::kSuccess);
    EXPECT_EQ(free, 60u);
    uint32_t total = 0;
    EXPECT_EQ(CF_GetFreeSpace(0, &total, &free), cf::kOk);
    EXPECT_EQ(total, 20000u) << "the figures of this query";
    EXPECT_EQ(free, 4000u);
    // The internal flash: its own figures, not the stick's.
    Cf_Media3.drive = 2;
    EXPECT_EQ(_fxe_media_space_available(&Cf_Media3, &free), fx::kSuccess);
    std::istringstream in(capture("stat -f -c '%b %s' " + host::path("/mnt/cfg")));
    uint64_t blocks = 0, bsize = 0;
    in >> blocks >> bsize;
    EXPECT_EQ(Cf_Media3.total_blocks, std::min<uint64_t>(blocks, 0xFFFFFFFFu));
    EXPECT_EQ(Cf_Media3.block_kb, bsize / 1024);
    // Busy, not mounted, and a record without blocks.
    FileMutex = 1;
    EXPECT_EQ(_fxe_media_space_available(&Cf_Media, &free), fx::kAccessError);
    FileMutex = 0;
    put_le32(b + 4, 0);
    write_file("/dev/shm/read.dat", rec);
    EXPECT_EQ(_fxe_media_space_available(&Cf_Media, &free), fx::kAccessError);
    host::media_remove(host::kMediumSd);
    EXPECT_EQ(_fxe_media_space_available(&Cf_Media, &free), fx::kMediaNotOpen);
}
