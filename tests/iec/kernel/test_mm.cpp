// The runtime's memory manager: images as heap blocks mirrored by files.
#include "host/root.h"
#include "iec/kernel/trmm.h"
#include "panel_fixture.h"

#include <cstring>

namespace {

class Mm : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        TrMM_Open(&mm, "");
        host::make_dirs("/mnt/cfg");
    }
    void TearDown() override {
        TrMM_Close(&mm);
        PanelTest::TearDown();
    }
    TrMMData mm;
};

TEST_F(Mm, LoadsWholeFilesOfAnySize) {
    for (size_t n : {size_t(1), size_t(4095), size_t(4096), size_t(4097), size_t(3 * 4096 + 5)}) {
        std::string data(n, '\0');
        for (size_t i = 0; i < n; ++i)
            data[i] = char(i * 7 + i / 4096);
        write_file("/mnt/cfg/tr.cod", data);
        ASSERT_EQ(TrMM_LoadCode(&mm, "tr"), 0) << n;
        EXPECT_EQ(mm.code.size, n);
        EXPECT_EQ(mm.code.flags, trmm::kInMemory);
        EXPECT_EQ(std::memcmp(mm.code.data, data.data(), n), 0) << n;
        EXPECT_EQ(TrMM_LoadCode(&mm, "tr"), 1) << "already in memory";
        ASSERT_EQ(TrMM_FreeCode(&mm), 0);
    }
}

TEST_F(Mm, MissingOrEmptyFilesDoNotLoad) {
    EXPECT_EQ(TrMM_LoadVMDB(&mm, "tr"), 1);
    write_file("/tr.hot", "");
    EXPECT_EQ(TrMM_LoadVMDB(&mm, "tr"), 1);
    EXPECT_EQ(mm.vmdb.flags, 0);
    EXPECT_EQ(mm.vmdb.kind, trmm::kVmDb);
}

TEST_F(Mm, LinksAreCounted) {
    ASSERT_EQ(TrMM_AllocRawVMDB(&mm, 64), 0);
    uint8_t *a = TrMM_LinkVMDB(&mm);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(TrMM_LinkVMDB(&mm), a);
    EXPECT_EQ(mm.vmdb.links, 2);
    EXPECT_EQ(TrMM_FreeVMDB(&mm), 1) << "linked";
    EXPECT_EQ(TrMM_UnlinkVMDB(&mm), 0);
    EXPECT_EQ(TrMM_FreeVMDB(&mm), 1) << "still linked once";
    EXPECT_EQ(TrMM_UnlinkVMDB(&mm), 0);
    EXPECT_EQ(mm.vmdb.linked, nullptr);
    EXPECT_EQ(TrMM_UnlinkVMDB(&mm), 1);
    EXPECT_EQ(TrMM_FreeVMDB(&mm), 0);
    EXPECT_EQ(TrMM_LinkVMDB(&mm), nullptr) << "not in memory";
}

TEST_F(Mm, SavesTheDatabaseAndTheChangedCode) {
    ASSERT_EQ(TrMM_AllocRawVMDB(&mm, 5000), 0);
    std::memset(mm.vmdb.data, 0x5A, 5000);
    ASSERT_EQ(TrMM_SaveVMDB(&mm, "tr"), 0);
    EXPECT_EQ(read_file("/tr.hot"), std::string(5000, '\x5A'));
    // The code is written back only once a change replaced it.
    write_file("/mnt/cfg/tr.cod", "old");
    write_file("/mnt/cfg/tr.upd", "new!");
    ASSERT_EQ(TrMM_LoadCode(&mm, "tr"), 0);
    EXPECT_EQ(TrMM_SaveChange(&mm, "tr"), 0);
    EXPECT_EQ(read_file("/mnt/cfg/tr.cod"), "old");
    ASSERT_EQ(TrMM_LoadChange(&mm, "tr"), 0);
    ASSERT_NE(TrMM_LinkCode(&mm), nullptr);
    EXPECT_EQ(TrMM_RegisterChange(&mm), 1) << "the code is linked";
    TrMM_UnlinkCode(&mm);
    ASSERT_EQ(TrMM_RegisterChange(&mm), 0);
    EXPECT_EQ(mm.code.changed, 1);
    EXPECT_EQ(mm.code.size, 4u);
    EXPECT_EQ(mm.change.flags, 0);
    EXPECT_EQ(mm.change.kind, trmm::kChange);
    EXPECT_EQ(TrMM_SaveChange(&mm, "tr"), 0);
    EXPECT_EQ(read_file("/mnt/cfg/tr.cod"), "new!");
}

TEST_F(Mm, DownloadInChunks) {
    const uint8_t a[] = {1, 2, 3}, b[] = {4, 5};
    TrLoadInfo ra{1, 3, "tr", a}, rb{1, 2, "tr", b};
    EXPECT_EQ(TrMM_WriteCodeRequest(&mm, 3, &ra), 1) << "no file started";
    EXPECT_EQ(TrMM_WriteCodeRequest(&mm, 2, &ra), 0);
    EXPECT_EQ(TrMM_WriteCodeRequest(&mm, 4, &ra), 1) << "empty";
    EXPECT_EQ(TrMM_WriteCodeRequest(&mm, 3, &ra), 0);
    EXPECT_EQ(TrMM_WriteCodeRequest(&mm, 3, &rb), 0);
    EXPECT_EQ(TrMM_WriteCodeRequest(&mm, 4, &ra), 0);
    EXPECT_EQ(TrMM_WriteCodeRequest(&mm, 5, &ra), 1);
    EXPECT_EQ(read_file("/mnt/cfg/tr.cod"), std::string("\1\2\3\4\5"));
    // Nothing is written while the code is in memory.
    ASSERT_EQ(TrMM_LoadCode(&mm, "tr"), 0);
    EXPECT_EQ(TrMM_WriteCodeRequest(&mm, 2, &ra), 1);
    EXPECT_EQ(read_file("/mnt/cfg/tr.cod"), std::string("\1\2\3\4\5"));
    // The change file the same way.
    EXPECT_EQ(TrMM_WriteChangeRequest(&mm, 2, &ra), 0);
    EXPECT_EQ(TrMM_WriteChangeRequest(&mm, 3, &rb), 0);
    EXPECT_EQ(TrMM_WriteChangeRequest(&mm, 4, &rb), 0);
    EXPECT_EQ(read_file("/mnt/cfg/tr.upd"), std::string("\4\5"));
}

} // namespace
