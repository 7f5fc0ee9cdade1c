// The runtime's RAM files of its image files and the image-file streams.
#include "host/root.h"
#include "iec/kernel/trvfs.h"
#include "panel_fixture.h"
#include "platform/osif.h"

#include <cstring>
#include <string>

namespace {

class Vfs : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        host::make_dirs("/mnt/cfg");
    }
    std::string ram_text(uint32_t ram) {
        uint32_t n = 0;
        const uint8_t *p = TrVfs_RamData(ram, &n);
        return p ? std::string(reinterpret_cast<const char *>(p), n) : "(none)";
    }
};

TEST_F(Vfs, OnlyTheImageFilesGetMemoryOneBlockEach) {
    struct Case {
        const char *path;
        uint32_t size;
        uint32_t handle; // 0: none
    };
    const Case cases[] = {
        {"/mnt/cfg/tr.hot", 16, 1},
        {"/mnt/cfg/tr.cod", 8, 2},
        {"/mnt/cfg/tr.upd", 8, 3},
        {"/mnt/cfg/tr.hot", 16, 0}, // it has its block already
        {"tr.hot", 16, 0},          // not the image file's name
        {"tr.reg", 16, 0},          // a known file of the other class
        {"/mnt/cfg/trinfo.txt", 16, 0},
        {"/mnt/cfg/tr.ret", 16, 0},
        {nullptr, 16, 0},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(TrVfs_CreateRamFile(c.path, c.size), c.handle) << (c.path ? c.path : "null");
        if (c.handle) {
            EXPECT_EQ(ram_text(c.handle), std::string(c.size, '\0'));
        }
    }
    EXPECT_EQ(TrVfs_RamData(0, nullptr), nullptr);
    EXPECT_EQ(TrVfs_RamData(4, nullptr), nullptr);
    TrVfs_ReleaseRamFile(1);
    EXPECT_EQ(ram_text(1), "(none)");
    TrVfs_ReleaseRamFile(1); // twice is harmless
    EXPECT_EQ(TrVfs_CreateRamFile("/mnt/cfg/tr.hot", 0), 0u);
    EXPECT_EQ(TrVfs_CreateRamFile("/mnt/cfg/tr.hot", 4), 1u) << "free again";
    EXPECT_EQ(TrVfs_GetMaxRamFileSize(), -1);
}

TEST_F(Vfs, LoadToMemory) {
    std::string image(1025, 'x'); // three pieces of 512 bytes
    image[0] = 'a';
    image[1024] = 'z';
    write_file("/mnt/cfg/tr.cod", image);
    write_file("/mnt/cfg/tr.upd", "");
    write_file("/tr.hot", "raw");
    struct Case {
        const char *path;
        uint32_t handle;
    };
    const Case cases[] = {
        {"/mnt/cfg/tr.cod", 2}, {"/mnt/cfg/tr.cod", 0}, // already in memory
        {"/mnt/cfg/tr.upd", 0},                         // empty
        {"/mnt/cfg/tr.hot", 0},                         // missing
        {"tr.hot", 0},                                  // not an image file
    };
    for (const Case &c : cases) {
        uint32_t size = 99;
        EXPECT_EQ(TrVfs_LoadToMemory(c.path, &size), c.handle) << c.path;
        EXPECT_EQ(size, c.handle ? image.size() : 0u) << c.path;
    }
    EXPECT_EQ(ram_text(2), image);
    TrVfs_ReleaseFromMemory(2);
    EXPECT_EQ(ram_text(2), "(none)");
    EXPECT_EQ(OsFile_OpenCount(), 0u) << "no file left open";
}

TEST_F(Vfs, StreamsReadAndWriteAtAnOffsetOrWhereTheyAre) {
    const char *f = "/mnt/cfg/tr.hot";
    uint32_t w = TrVfs_OpenWriteCreate(f);
    ASSERT_NE(w, 0u);
    EXPECT_EQ(TrVfs_Write(w, -1, 6, "abcdef"), 1);
    EXPECT_EQ(TrVfs_Write(w, 1, 2, "XY"), 1);
    EXPECT_EQ(TrVfs_Write(w, -1, 1, "!"), 1) << "goes on after the seek";
    EXPECT_EQ(TrVfs_Write(w, -2, 1, "?"), 0) << "no position before the start";
    TrVfs_Close(w);
    uint32_t a = TrVfs_OpenWriteAppend(f);
    EXPECT_EQ(TrVfs_Write(a, 0, 2, "gh"), 1) << "append mode writes at the end";
    TrVfs_Close(a);

    uint32_t size = 0;
    EXPECT_EQ(TrVfs_GetSize(f, &size), 1);
    EXPECT_EQ(size, 8u);
    uint32_t r = TrVfs_OpenReadRand(f, &size);
    ASSERT_NE(r, 0u);
    EXPECT_EQ(size, 8u);
    char buf[16] = {};
    EXPECT_EQ(TrVfs_Read(r, 2, 3, buf), 3u);
    EXPECT_STREQ(buf, "Y!e");
    EXPECT_EQ(TrVfs_Read(r, -1, 16, buf), 3u);
    EXPECT_EQ(std::string(buf, 3), "fgh");
    EXPECT_EQ(TrVfs_Eof(r), 1);
    EXPECT_EQ(TrVfs_Read(r, 0, 1, buf), 1u);
    EXPECT_EQ(buf[0], 'a');
    EXPECT_EQ(TrVfs_Read(0, 0, 1, buf), 0u);
    TrVfs_Close(r);

    EXPECT_EQ(TrVfs_Rename(f, "/mnt/cfg/tr.upd"), 1);
    EXPECT_EQ(TrVfs_FileInFlash(f), 0);
    EXPECT_EQ(TrVfs_FileInFlash("/mnt/cfg/tr.upd"), 1);
    EXPECT_EQ(TrVfs_OpenReadRand(f, &size), 0u);
    EXPECT_EQ(size, 0u);
    write_file("/mnt/cfg/tr.cod", "");
    EXPECT_EQ(TrVfs_GetSize("/mnt/cfg/tr.cod", &size), 0) << "empty";
    EXPECT_EQ(TrVfs_Delete("/mnt/cfg/tr.upd"), 1);
    EXPECT_EQ(TrVfs_Delete("/mnt/cfg/tr.upd"), 0);
    EXPECT_EQ(TrVfs_GetSize("/mnt/cfg/tr.upd", &size), 0) << "missing";
    EXPECT_EQ(TrVfs_OpenReadRand("/mnt/cfg/../../x", nullptr), 0u) << "never outside the root";
}

} // namespace
