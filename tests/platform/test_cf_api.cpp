// The media file API: card status codes, listings with patterns, delete,
// rename, copy, directory trees, status and free space.
#include "media_fixture.h"
#include "platform/cf_api.h"
#include "platform/fileinst.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <set>

namespace {
std::set<std::string> list(int drive, const char *pattern, int16_t *last = nullptr) {
    std::set<std::string> names;
    CfFindRecord rec;
    int16_t st = CF_GetFirst(drive, &rec, pattern);
    for (; st == cf::kOk; st = CF_GetNext(drive, &rec))
        names.insert(rec.long_name);
    if (last) *last = st;
    CF_GetDone(drive, &rec);
    return names;
}
} // namespace

class CfApiTest : public MediaTest {};

TEST_F(CfApiTest, StatusCodes) {
    struct Case {
        uint32_t fx;
        int16_t card;
    };
    for (Case c : {Case{0, 0}, Case{4, 66}, Case{5, 73}, Case{6, 77}, Case{7, 73}, Case{9, -1},
                   Case{10, 92}, Case{11, 81}, Case{13, 66}, Case{14, 66}, Case{15, 81},
                   Case{16, 92}, Case{17, 2}, Case{25, 86}, Case{35, 92}, Case{144, 5}})
        EXPECT_EQ(CfResultDecode(c.fx, 0), c.card) << c.fx;
    host::media_remove(host::kMediumSd);
    EXPECT_EQ(CfResultDecode(144, 0), cf::kAbsent) << "an I/O error without the medium";
    for (auto [state, card] : {std::pair{0, 2}, {1, 4}, {2, 1}, {82, 82}, {3, 0}})
        EXPECT_EQ(CfStateDecode(state), card);
}

TEST_F(CfApiTest, MediaStatusAndBusyWorkers) {
    EXPECT_EQ(CF_GetStatus(0), cf::kOk);
    EXPECT_EQ(CF_GetStatus(1), cf::kOk);
    EXPECT_EQ(CF_GetStatus(2), cf::kOk);
    host::media_remove(host::kMediumUsb);
    EXPECT_EQ(CF_GetStatus(1), cf::kAbsent);
    RmFormatOpsThreadId = pthread_self();
    EXPECT_EQ(CF_GetStatus(1), cf::kBusy) << "not mounted while a format worker runs";
    EXPECT_EQ(CF_GetStatus(0), cf::kOk) << "a mounted drive is not busy";
    RmFormatOpsThreadId = 0;
}

TEST_F(CfApiTest, OpenReadWriteAndSize) {
    FxFile f{};
    uint32_t n = 0;
    EXPECT_EQ(CF_Open(&f, "A:\\", 0), cf::kInvalid) << "no name";
    EXPECT_EQ(CF_Open(&f, "A:\\.hidden", 0), cf::kInvalid);
    EXPECT_EQ(CF_Open(&f, "A:\\MISSING.TXT", 0), cf::kNotFound);
    ASSERT_EQ(CF_Open(&f, "b:\\notes.txt", 2), cf::kOk) << "created anew";
    EXPECT_EQ(CF_Write(&f, "hello", 5, &n), cf::kOk);
    EXPECT_EQ(n, 5u);
    EXPECT_EQ(CF_Close(&f), cf::kOk);
    EXPECT_EQ(read_file("/mnt/USB1/NOTES.TXT"), "hello") << "created under its name in upper case";
    ASSERT_EQ(CF_Open(&f, "B:\\NOTES.TXT", 1), cf::kOk) << "append";
    CF_Write(&f, "!", 1, &n);
    CF_Close(&f);
    ASSERT_EQ(CF_Open(&f, "B:\\NOTES.TXT", 0), cf::kOk);
    uint32_t size = 0;
    CF_Size(&f, &size);
    EXPECT_EQ(size, 6u);
    char buf[16];
    EXPECT_EQ(CF_Read(&f, buf, sizeof buf, &n), cf::kOk);
    EXPECT_EQ(std::string(buf, n), "hello!");
    EXPECT_EQ(CF_Read(&f, buf, sizeof buf, &n), cf::kEndOfFile);
    CF_Close(&f);
    ASSERT_EQ(CF_Open(&f, "SYS.DAT", 8), cf::kOk);
    CF_Close(&f);
    uint32_t attr = 0;
    _fxe_file_attributes_read(&Cf_Media, "SYS.DAT", &attr);
    EXPECT_EQ(attr, fx::kSystem);
}

TEST_F(CfApiTest, ListingWithPatterns) {
    for (const char *f : {"/mnt/USB0/LOGS/A1.CSV", "/mnt/USB0/LOGS/b2.csv", "/mnt/USB0/LOGS/C3.TXT",
                          "/mnt/USB0/LOGS/LONGNAME.BACKUP", "/mnt/USB0/LOGS/README"})
        write_file(f, "x");
    host::make_dirs("/mnt/USB0/LOGS/SUB.DIR");
    EXPECT_EQ(list(0, "A:\\LOGS\\*.CSV"), (std::set<std::string>{"A1.CSV", "b2.csv"}));
    EXPECT_EQ(list(0, "\\LOGS\\?1.*"), (std::set<std::string>{"A1.CSV"}));
    EXPECT_EQ(list(0, "\\LOGS\\*.BACK*"), (std::set<std::string>{"LONGNAME.BACKUP"}));
    EXPECT_EQ(list(0, "\\LOGS\\README"), (std::set<std::string>{"README"}));
    EXPECT_EQ(list(0, "\\LOGS\\SUB*"), (std::set<std::string>{"SUB.DIR"}))
        << "a directory has no extension";
    EXPECT_EQ(list(0, "\\LOGS\\*.*").size(), 8u) << "with . and ..";
    int16_t last = 0;
    EXPECT_TRUE(list(0, "\\NONE\\*.*", &last).empty());
    EXPECT_EQ(last, cf::kNotFound);

    // The listing puts the drive's directory back at its end.
    CF_ChangeDir(0, "KEEP");
    CfFindRecord rec;
    ASSERT_EQ(CF_GetFirst(0, &rec, "\\LOGS\\C3.TXT"), cf::kOk);
    EXPECT_STREQ(rec.short_name, "C3");
    EXPECT_STREQ(rec.extension, "TXT");
    EXPECT_STREQ(Cf_Media.cur_dir, "\\LOGS/");
    EXPECT_EQ(CF_GetNext(0, &rec), cf::kExists);
    EXPECT_STREQ(Cf_Media.cur_dir, "KEEP/");
    CF_GetDone(0, &rec);
    // A drive given without a letter in the pattern lists that drive.
    write_file("/mnt/USB1/STICK.CSV", "s");
    EXPECT_EQ(list(1, "*.CSV"), (std::set<std::string>{"STICK.CSV"}));
}

TEST_F(CfApiTest, ListingGivesFatTimeStamps) {
    write_file("/mnt/USB0/T.CSV", "123");
    tm t{};
    t.tm_year = 2023 - 1900;
    t.tm_mon = 11;
    t.tm_mday = 31;
    t.tm_hour = 23;
    t.tm_min = 59;
    t.tm_sec = 58;
    t.tm_isdst = -1;
    timespec ts[2] = {{mktime(&t), 0}, {mktime(&t), 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, host::path("/mnt/USB0/T.CSV").c_str(), ts, 0), 0);
    CfFindRecord rec;
    ASSERT_EQ(CF_GetFirst(0, &rec, "T.CSV"), cf::kOk);
    EXPECT_EQ(rec.size, 3u);
    EXPECT_EQ(rec.time, 23 * 2048 + 59 * 32 + 29);
    EXPECT_EQ(rec.date, 31 + 12 * 32 + 43 * 512);
    CF_GetDone(0, &rec);
}

TEST_F(CfApiTest, DeleteByPattern) {
    const char *pattern[] = {"A:\\LOGS\\*.CSV"};
    host::make_dirs("/mnt/USB0/LOGS");
    EXPECT_EQ(CF_DeleteFile(0, pattern), cf::kNotFound);
    write_file("/mnt/USB0/LOGS/SYS.CSV", "s");
    _fxe_file_attributes_set(&Cf_Media, "\\LOGS\\SYS.CSV", fx::kSystem);
    EXPECT_EQ(CF_DeleteFile(0, pattern), cf::kAccessError) << "only system files match";
    write_file("/mnt/USB0/LOGS/A.CSV", "a");
    write_file("/mnt/USB0/LOGS/B.CSV", "b");
    write_file("/mnt/USB0/LOGS/C.TXT", "c");
    host::make_dirs("/mnt/USB0/LOGS/D.CSV");
    EXPECT_EQ(CF_DeleteFile(0, pattern), cf::kOk);
    EXPECT_EQ(list(0, "\\LOGS\\*.*"),
              (std::set<std::string>{".", "..", "SYS.CSV", "C.TXT", "D.CSV"}));
}

TEST_F(CfApiTest, Rename) {
    write_file("/mnt/USB0/OLD.CSV", "o");
    const char *across[] = {"A:\\OLD.CSV", "B:\\NEW.CSV"};
    EXPECT_EQ(CF_RenameFile(0, across), cf::kInvalid);
    const char *names[] = {"A:\\OLD.CSV", "A:\\NEW.CSV"};
    EXPECT_EQ(CF_RenameFile(0, names), cf::kOk);
    EXPECT_EQ(read_file("/mnt/USB0/NEW.CSV"), "o");
    EXPECT_EQ(CF_RenameFile(0, names), cf::kNotFound);
}

TEST_F(CfApiTest, CopyInBlocksAndByPattern) {
    std::string big;
    for (int i = 0; i < 5000; ++i)
        big += char('A' + i % 26);
    write_file("/mnt/USB0/LOGS/BIG.CSV", big);
    write_file("/mnt/USB0/LOGS/SMALL.CSV", "s");
    write_file("/mnt/USB0/LOGS/SKIP.TXT", "t");
    const char *one[] = {"A:\\LOGS\\BIG.CSV", "B:\\COPY\\DEEP\\BIG2.CSV"};
    EXPECT_EQ(CF_CopyFile(0, one), cf::kOk);
    EXPECT_EQ(read_file("/mnt/USB1/COPY/DEEP/BIG2.CSV"), big) << "five blocks and a bit, whole";
    const char *many[] = {"A:\\LOGS\\*.CSV", "B:\\BACKUP"};
    EXPECT_EQ(CF_CopyFile(0, many), cf::kOk);
    EXPECT_EQ(read_file("/mnt/USB1/BACKUP/BIG.CSV"), big);
    EXPECT_EQ(read_file("/mnt/USB1/BACKUP/SMALL.CSV"), "s");
    EXPECT_FALSE(exists("/mnt/USB1/BACKUP/SKIP.TXT"));
    const char *none[] = {"A:\\LOGS\\*.XYZ", "B:\\BACKUP"};
    EXPECT_EQ(CF_CopyFile(0, none), cf::kNotFound);
    const char *missing[] = {"A:\\LOGS\\NONE.CSV", "B:\\X.CSV"};
    EXPECT_EQ(CF_CopyFile(0, missing), cf::kNotFound);
    const char *self[] = {"A:\\LOGS\\SMALL.CSV", "A:\\logs\\small.csv"};
    EXPECT_EQ(CF_CopyFile(0, self), cf::kOk);
    EXPECT_EQ(read_file("/mnt/USB0/LOGS/SMALL.CSV"), "s") << "a copy onto itself keeps the file";
}

TEST_F(CfApiTest, MakeDirectories) {
    EXPECT_EQ(CF_MakeDir(0, "A:\\one\\two\\three"), cf::kOk);
    EXPECT_TRUE(exists("/mnt/USB0/ONE/TWO/THREE"));
    EXPECT_EQ(CF_MakeDir(0, "A:\\ONE\\TWO\\THREE"), cf::kExists);
    EXPECT_EQ(CF_MakeDir(0, "A:\\ONE\\NEW\\"), cf::kOk);
    EXPECT_EQ(CF_MakeDir(0, "X\\Y"), cf::kOk);
    EXPECT_TRUE(exists("/mnt/USB0/X/Y"));
    EXPECT_EQ(CF_MakeDir(1, "LOGS"), cf::kOk);
    EXPECT_TRUE(exists("/mnt/USB1/LOGS")) << "on the drive asked for";
}

TEST_F(CfApiTest, RemoveTrees) {
    write_file("/mnt/USB0/TREE/A.TXT", "a");
    write_file("/mnt/USB0/TREE/SUB/B.TXT", "b");
    write_file("/mnt/USB0/TREE/SUB/.hidden", "h");
    _fxe_file_attributes_set(&Cf_Media, "\\TREE\\SUB\\B.TXT", fx::kReadOnly);
    host::make_dirs("/mnt/USB0/TREE/EMPTY");
    EXPECT_EQ(CF_RemoveDir(0, "TREE"), cf::kOk);
    EXPECT_FALSE(exists("/mnt/USB0/TREE"));
    // The internal flash keeps the case of its names.
    write_file("/mnt/cfg/web/index.html", "i");
    EXPECT_EQ(CF_RemoveDir(2, "web"), cf::kOk);
    EXPECT_FALSE(exists("/mnt/cfg/web"));
    // A drive's root is emptied, never removed.
    write_file("/mnt/USB1/X.TXT", "x");
    EXPECT_EQ(CF_RemoveDir(1, "B:\\"), cf::kOk);
    EXPECT_FALSE(exists("/mnt/USB1/X.TXT"));
    EXPECT_TRUE(exists("/mnt/USB1"));
    EXPECT_EQ(CF_RemoveDir(0, "NONE"), cf::kNotFound);
    // Sixteen levels go; seventeen are too deep.
    std::string deep = "/mnt/USB0/D0";
    for (int i = 1; i < 16; ++i)
        deep += "/D" + std::to_string(i);
    write_file(deep + "/F.TXT", "f");
    EXPECT_EQ(CF_RemoveDir(0, "D0"), cf::kOk);
    deep = "/mnt/USB0/D0";
    for (int i = 1; i < 17; ++i)
        deep += "/D" + std::to_string(i);
    host::make_dirs(deep);
    EXPECT_EQ(CF_RemoveDir(0, "D0"), cf::kTooDeep);
    EXPECT_STREQ(Cf_Media.cur_dir, "") << "the drive's directory is put back";
}
