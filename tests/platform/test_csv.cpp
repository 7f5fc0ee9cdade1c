// CSV files: every value type written and read, write modes, reading by row
// and by column, layouts, and round trips with Python's csv module.
#include "base/le.h"
#include "media_fixture.h"
#include "platform/cf_api.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <vector>

namespace {
using Bytes = std::vector<uint8_t>;

Bytes u16s(std::initializer_list<uint16_t> v) {
    Bytes b;
    for (uint16_t x : v)
        b.push_back(uint8_t(x)), b.push_back(uint8_t(x >> 8));
    return b;
}
Bytes u32s(std::initializer_list<uint32_t> v) {
    Bytes b(v.size() * 4);
    size_t i = 0;
    for (uint32_t x : v)
        put_le32(b.data() + 4 * i++, x);
    return b;
}
Bytes floats(std::initializer_list<float> v) {
    Bytes b(v.size() * 4);
    size_t i = 0;
    for (float x : v)
        std::memcpy(b.data() + 4 * i++, &x, 4);
    return b;
}
Bytes doubles(std::initializer_list<double> v) {
    Bytes b(v.size() * 8);
    size_t i = 0;
    for (double x : v)
        std::memcpy(b.data() + 8 * i++, &x, 8);
    return b;
}
Bytes text(const std::string &s) {
    return Bytes(s.begin(), s.end());
}

struct Csv {
    CsvFileRequest req{};
    Bytes data;
    uint32_t result = 0xDEAD;
    std::string path;
    Csv(const std::string &p, uint32_t type, uint32_t count, Bytes d = {})
        : data(std::move(d)), path(p) {
        if (data.size() < 4800) data.resize(4800);
        req.kind = 1;
        req.path = path.c_str();
        req.data = data.data();
        req.type = type;
        req.count = count;
        req.result = &result;
    }
    int16_t write(uint32_t mode = 2, int32_t per_line = 0, uint32_t eor = 1) {
        req.open_mode = mode;
        req.position = per_line;
        req.end_of_row = eor;
        return CF_WriteFile(0, &req);
    }
    int16_t read_row(int32_t skip) {
        req.position = skip;
        return CF_ReadFile(0, &req);
    }
    int16_t read_column(uint32_t column, uint32_t most, uint32_t first, uint32_t last) {
        req.count = column | (most << 16);
        req.position = int32_t(0x80000000u | first | (last << 16));
        return CF_ReadFile(0, &req);
    }
    uint16_t w16(int i) const { return le16(data.data() + 2 * i); }
    uint32_t w32(int i) const { return le32(data.data() + 4 * i); }
    float f32(int i) const {
        float f;
        std::memcpy(&f, data.data() + 4 * i, 4);
        return f;
    }
    double f64(int i) const {
        double d;
        std::memcpy(&d, data.data() + 8 * i, 8);
        return d;
    }
};

// Runs a Python program with the root folder as its working folder.
std::string python(const std::string &root, const std::string &program, int *rc) {
    std::string file = root + "/prog.py";
    std::ofstream(file) << program;
    return MediaTest::capture("cd '" + root + "' && python3 prog.py 2>&1", rc);
}
} // namespace

class CsvTest : public MediaTest {};

TEST_F(CsvTest, EveryValueTypeIsWrittenAsText) {
    struct Case {
        uint32_t type, count;
        Bytes data;
        const char *text;
    };
    // clang-format off
    const Case cases[] = {
        {0, 9,  text("a,b \"q\"x"),                "\"a,b \"\"q\"\"x\"\r\n"},
        {0, 5,  text("plain"),                      "plain\r\n"},
        {1, 2,  u16s({0x8001, 0x00FF}),             "1000000000000001,0000000011111111\r\n"},
        {2, 10, Bytes{0x05, 0x02},                  "1,0,1,0,0,0,0,0,0,1\r\n"},
        {3, 3,  u32s({0x80000000u, 7, 0xFFFFFFFFu}),"-2147483648,7,-1\r\n"},
        {4, 2,  u16s({0xBEEF, 0x000A}),             "BEEF,A\r\n"},
        {5, 2,  u16s({0xFFFF, 0x7FFF}),             "-1,32767\r\n"},
        {6, 3,  floats({1.5f, 0.1f, 1234567.0f}),   "1.5,0.1,1234567\r\n"},
        {7, 1,  u32s({4294967295u}),                "4294967295\r\n"},
        {8, 1,  u16s({65535}),                      "65535\r\n"},
        {9, 2,  doubles({3.141592653589793, 1e-300}),"3.141592653589793,1e-300\r\n"},
    };
    // clang-format on
    int i = 0;
    for (const Case &c : cases) {
        std::string name = "A:\\T" + std::to_string(i++) + ".CSV";
        Csv w(name, c.type, c.count, c.data);
        ASSERT_EQ(w.write(), cf::kOk) << name;
        EXPECT_EQ(read_file("/mnt/USB0/" + name.substr(3)), c.text) << "type " << c.type;
        EXPECT_EQ(w.result, c.type == 0 ? 1u : c.count);
        // Read back by row: the same bytes.
        Csv r(name, c.type, c.count);
        ASSERT_EQ(r.read_row(0), cf::kOk) << "type " << c.type;
        size_t bytes = c.type == 0 ? c.count : c.type == 2 ? 2 : c.count * CF_TypeWidth(c.type) / 8;
        Bytes expect = c.data;
        expect.resize(std::max(bytes, expect.size())); // a text ends at its zero
        if (c.type == 2) {
            EXPECT_EQ(r.w16(0) & 0x3FF, le16(expect.data()) & 0x3FF);
        } else {
            EXPECT_EQ(Bytes(r.data.begin(), r.data.begin() + bytes),
                      Bytes(expect.begin(), expect.begin() + bytes))
                << "type " << c.type;
        }
    }
}

TEST_F(CsvTest, ValuesPerLineAndEndOfRow) {
    Csv w("A:\\LINES.CSV", 8, 7, u16s({1, 2, 3, 4, 5, 6, 7}));
    ASSERT_EQ(w.write(2, 3, 1), cf::kOk);
    EXPECT_EQ(read_file("/mnt/USB0/LINES.CSV"), "1,2,3\r\n4,5,6\r\n7\r\n");
    Csv open_row("A:\\ROW.CSV", 8, 3, u16s({1, 2, 3}));
    ASSERT_EQ(open_row.write(2, 3, 0), cf::kOk);
    ASSERT_EQ(open_row.write(2, 3, 1), cf::kOk);
    EXPECT_EQ(read_file("/mnt/USB0/ROW.CSV"), "1,2,3,1,2,3\r\n")
        << "a later append continues the row";
}

TEST_F(CsvTest, WriteModes) {
    Csv w("A:\\LOG\\M.CSV", 8, 1, u16s({5}));
    EXPECT_EQ(w.write(1), cf::kNotFound) << "append needs the file";
    EXPECT_EQ(w.write(0), cf::kOk) << "created with its folder";
    EXPECT_EQ(w.write(0), cf::kExists);
    EXPECT_EQ(w.write(2), cf::kOk);
    EXPECT_EQ(w.write(1), cf::kOk);
    EXPECT_EQ(read_file("/mnt/USB0/LOG/M.CSV"), "5\r\n5\r\n5\r\n");
    EXPECT_EQ(w.write(3), cf::kOk);
    EXPECT_EQ(read_file("/mnt/USB0/LOG/M.CSV"), "5\r\n");
    EXPECT_EQ(w.write(4), cf::kInvalid);
    host::make_dirs("/mnt/USB0/ADIR");
    Csv dir("A:\\ADIR", 8, 1, u16s({5}));
    EXPECT_EQ(dir.write(2), cf::kCorrupt);
    Csv bad("A:\\X.CSV", 10, 1);
    EXPECT_EQ(bad.write(2), cf::kInvalid);
    Csv none("A:\\X.CSV", 8, 0);
    EXPECT_EQ(none.write(2), cf::kInvalid);
    // A missing folder of a B: name is made on the stick.
    Csv stick("B:\\NEW\\DIR\\S.CSV", 8, 1, u16s({9}));
    EXPECT_EQ(stick.write(2), cf::kOk);
    EXPECT_EQ(read_file("/mnt/USB1/NEW/DIR/S.CSV"), "9\r\n");
    EXPECT_FALSE(exists("/mnt/USB0/NEW"));
    host::media_remove(host::kMediumUsb);
    EXPECT_EQ(stick.write(2), cf::kAbsent);
    // Raw bytes.
    Csv raw("A:\\RAW.BIN", 0, 4, text("\x01\x02,\n"));
    raw.req.kind = 0;
    EXPECT_EQ(raw.write(2), cf::kOk);
    EXPECT_EQ(raw.result, 4u);
    EXPECT_EQ(read_file("/mnt/USB0/RAW.BIN"), std::string("\x01\x02,\n"));
}

TEST_F(CsvTest, ReadByRow) {
    write_file("/mnt/USB0/R.CSV", "\"Name, first\",2,3\r\n  4,\t5,6\r\n7,8,9");
    Csv t("A:\\R.CSV", 0, 20);
    ASSERT_EQ(t.read_row(0), cf::kOk);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(t.data.data())), "Name, first");
    EXPECT_EQ(t.result, 11u);
    Csv v("A:\\R.CSV", 5, 4);
    ASSERT_EQ(v.read_row(2), cf::kOk);
    EXPECT_EQ(v.result, 4u);
    EXPECT_EQ(std::vector<uint16_t>({v.w16(0), v.w16(1), v.w16(2), v.w16(3)}),
              std::vector<uint16_t>({3, 4, 5, 6}));
    Csv last("A:\\R.CSV", 5, 3);
    EXPECT_EQ(last.read_row(6), cf::kOk) << "the last line needs no line end";
    EXPECT_EQ(last.w16(2), 9);
    Csv past("A:\\R.CSV", 5, 2);
    EXPECT_EQ(past.read_row(8), cf::kEndOfFile);
    EXPECT_EQ(past.read_row(40), cf::kEndOfFile);
    Csv missing("A:\\NONE.CSV", 5, 2);
    EXPECT_EQ(missing.read_row(0), cf::kNotFound);
    Csv too_long("A:\\R.CSV", 0, 127);
    EXPECT_EQ(too_long.read_row(0), cf::kInvalid);
    Csv rows("A:\\R.CSV", 7, 1);
    EXPECT_EQ(rows.read_row(-1), cf::kOk);
    EXPECT_EQ(rows.w32(0), 2u) << "line feeds counted";
    EXPECT_EQ(rows.result, 1u);
}

TEST_F(CsvTest, ReadByColumn) {
    std::string file;
    for (int r = 0; r <= 20; ++r)
        file += "r" + std::to_string(r) + "," + std::to_string(r * 10) + "\r\n";
    write_file("/mnt/USB0/C.CSV", file);
    Csv c("A:\\C.CSV", 8, 0);
    ASSERT_EQ(c.read_column(1, 10, 0, 10), cf::kOk);
    EXPECT_EQ(c.result, 10u);
    std::vector<uint16_t> got;
    for (int i = 0; i < 10; ++i)
        got.push_back(c.w16(i));
    EXPECT_EQ(got, std::vector<uint16_t>({0, 10, 20, 30, 40, 50, 60, 70, 80, 100}))
        << "rows sampled evenly, first and last included";
    Csv one("A:\\C.CSV", 8, 0);
    ASSERT_EQ(one.read_column(1, 1, 4, 9), cf::kOk) << "one value is simply read";
    EXPECT_EQ(one.result, 1u);
    EXPECT_EQ(one.w16(0), 40);
    Csv same("A:\\C.CSV", 8, 0);
    ASSERT_EQ(same.read_column(1, 0, 7, 7), cf::kOk);
    EXPECT_EQ(same.result, 1u);
    EXPECT_EQ(same.w16(0), 70);
    Csv fewer("A:\\C.CSV", 8, 0, u16s({9, 9, 9, 9, 9, 9}));
    ASSERT_EQ(fewer.read_column(1, 6, 0, 3), cf::kOk);
    EXPECT_EQ(fewer.result, 3u);
    EXPECT_EQ(std::vector<uint16_t>(
                  {fewer.w16(0), fewer.w16(1), fewer.w16(2), fewer.w16(3), fewer.w16(5)}),
              std::vector<uint16_t>({0, 10, 30, 0, 0}))
        << "the values asked for beyond the rows are cleared";
    Csv name("A:\\C.CSV", 0, 0);
    ASSERT_EQ(name.read_column(0, 0, 3, 3), cf::kOk);
    EXPECT_STREQ(reinterpret_cast<char *>(name.data.data()), "r3");
    Csv past("A:\\C.CSV", 8, 0);
    EXPECT_EQ(past.read_column(1, 2, 19, 40), cf::kEndOfFile);
    Csv back("A:\\C.CSV", 8, 0);
    EXPECT_EQ(back.read_column(1, 2, 5, 4), cf::kInvalid);
    Csv narrow("A:\\C.CSV", 8, 0);
    EXPECT_EQ(narrow.read_column(5, 2, 0, 1), cf::kOk) << "a short row ends the reading";
    EXPECT_EQ(narrow.result, 0u);
}

TEST_F(CsvTest, LayoutWithHeaderRow) {
    // Entries: text of 6, three u16, one float.
    Bytes layout(3 * kCsvLayoutEntrySize);
    const char names[] = "NameTempFlow";
    auto entry = [&](int i, uint16_t type, uint16_t count, uint16_t off, uint16_t len) {
        uint8_t *e = layout.data() + i * kCsvLayoutEntrySize;
        put_le16(e, type);
        put_le16(e + 2, count);
        put_le16(e + 4, off);
        put_le16(e + 6, len);
    };
    entry(0, 0, 6, 0, 4);
    entry(1, 8, 3, 4, 4);
    entry(2, 6, 1, 8, 4);
    Bytes data = text("Pump1");
    data.resize(6);
    for (uint16_t v : {21, 22, 23})
        data.push_back(uint8_t(v)), data.push_back(0);
    float f = 2.5f;
    data.resize(data.size() + 4);
    std::memcpy(data.data() + 12, &f, 4);
    Csv w("A:\\LAYOUT.CSV", 0, 1, data);
    w.req.layout_word = kCsvLayoutWrite | (1u << 8) | (3u << 16);
    w.req.name_base = names;
    w.req.layout = layout.data();
    ASSERT_EQ(w.write(2), cf::kOk);
    ASSERT_EQ(w.write(2), cf::kOk);
    EXPECT_EQ(read_file("/mnt/USB0/LAYOUT.CSV"),
              "Name,Temp[0],Temp[1],Temp[2],Flow\r\nPump1,21,22,23,2.5\r\nPump1,21,22,23,2.5\r\n")
        << "the header only when the file is created";
    EXPECT_EQ(w.result, 5u);
    Csv r("A:\\LAYOUT.CSV", 0, 3);
    r.req.end_of_row = kCsvLayoutRead | (16u << 16);
    r.req.layout = layout.data();
    ASSERT_EQ(r.read_row(5), cf::kOk);
    EXPECT_EQ(Bytes(r.data.begin(), r.data.begin() + 16), Bytes(data.begin(), data.begin() + 16));
    EXPECT_EQ(r.result, 5u);
    r.req.end_of_row = kCsvLayoutRead | (15u << 16);
    EXPECT_EQ(r.read_row(5), cf::kInvalid) << "the layout does not fit its data area";
}

TEST_F(CsvTest, PythonReadsWhatWeWrite) {
    Csv t("A:\\PY\\TEXT.CSV", 0, 20, text("Tank \"A\", level"));
    ASSERT_EQ(t.write(2, 0, 0), cf::kOk);
    Csv n("A:\\PY\\TEXT.CSV", 5, 3, u16s({0xFFFF, 2, 300}));
    ASSERT_EQ(n.write(1, 0, 0), cf::kOk);
    Csv d("A:\\PY\\TEXT.CSV", 9, 2, doubles({0.1, -2.5e10}));
    ASSERT_EQ(d.write(1, 0, 1), cf::kOk);
    int rc = -1;
    std::string out =
        python(root_dir,
               "import csv\n"
               "rows = list(csv.reader(open('mnt/USB0/PY/TEXT.CSV', newline='')))\n"
               "assert rows == [['Tank \"A\", level', '-1', '2', '300', '0.1', '-2.5e+10']], rows\n"
               "assert float(rows[0][4]) == 0.1\n"
               "print('ok')\n",
               &rc);
    EXPECT_EQ(out, "ok\n");
}

TEST_F(CsvTest, WeReadWhatPythonWrites) {
    int rc = -1;
    std::string out = python(root_dir,
                             "import csv, os\n"
                             "os.makedirs('mnt/USB0/PY', exist_ok=True)\n"
                             "with open('mnt/USB0/PY/IN.CSV', 'w', newline='') as f:\n"
                             "    w = csv.writer(f)\n"
                             "    w.writerow(['Speed, rpm', 'say \"hi\"', 'x'])\n"
                             "    w.writerow([1, -2, 32767, 65535, 'BEEF', 0.25, 1e-5])\n"
                             "    w.writerow([3.141592653589793, 4294967295, -2147483648])\n"
                             "print('ok')\n",
                             &rc);
    ASSERT_EQ(out, "ok\n");
    Csv t0("A:\\PY\\IN.CSV", 0, 40);
    ASSERT_EQ(t0.read_row(0), cf::kOk);
    EXPECT_STREQ(reinterpret_cast<char *>(t0.data.data()), "Speed, rpm");
    Csv t1("A:\\PY\\IN.CSV", 0, 40);
    ASSERT_EQ(t1.read_row(1), cf::kOk);
    EXPECT_STREQ(reinterpret_cast<char *>(t1.data.data()), "say \"hi\"");
    Csv s16("A:\\PY\\IN.CSV", 5, 3);
    ASSERT_EQ(s16.read_row(3), cf::kOk);
    EXPECT_EQ(std::vector<uint16_t>({s16.w16(0), s16.w16(1), s16.w16(2)}),
              std::vector<uint16_t>({1, 0xFFFE, 32767}));
    Csv u16("A:\\PY\\IN.CSV", 8, 1);
    ASSERT_EQ(u16.read_row(6), cf::kOk);
    EXPECT_EQ(u16.w16(0), 65535);
    Csv hex("A:\\PY\\IN.CSV", 4, 1);
    ASSERT_EQ(hex.read_row(7), cf::kOk);
    EXPECT_EQ(hex.w16(0), 0xBEEF);
    Csv fl("A:\\PY\\IN.CSV", 6, 2);
    ASSERT_EQ(fl.read_row(8), cf::kOk);
    EXPECT_EQ(fl.f32(0), 0.25f);
    EXPECT_EQ(fl.f32(1), 1e-5f);
    Csv db("A:\\PY\\IN.CSV", 9, 1);
    ASSERT_EQ(db.read_row(10), cf::kOk);
    EXPECT_EQ(db.f64(0), 3.141592653589793);
    Csv u32("A:\\PY\\IN.CSV", 7, 1);
    ASSERT_EQ(u32.read_row(11), cf::kOk);
    EXPECT_EQ(u32.w32(0), 4294967295u);
    Csv s32("A:\\PY\\IN.CSV", 3, 1);
    ASSERT_EQ(s32.read_row(12), cf::kOk);
    EXPECT_EQ(s32.w32(0), 0x80000000u);
    Csv bits("A:\\PY\\IN.CSV", 2, 3);
    ASSERT_EQ(bits.read_row(3), cf::kOk);
    EXPECT_EQ(bits.data[0], 0x7) << "nonzero values set their bits";
    Csv column("A:\\PY\\IN.CSV", 0, 1);
    ASSERT_EQ(column.read_column(1, 0, 0, 0), cf::kOk);
    EXPECT_STREQ(reinterpret_cast<char *>(column.data.data()), "say \"hi\"");
}
