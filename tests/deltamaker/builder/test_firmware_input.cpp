#include "builder_test_util.h"

#include "deltamaker/builder/firmware_input.h"
#include "deltamaker/builder/fota.h"
#include "deltamaker/samples/board_samples.h"

#include <zlib.h>

using namespace BuilderTest;

namespace {

// Writes one record at `pos`; returns its length. `lengthOverride` replaces the length word.
size_t putRecord(std::vector<uint8_t> &t, size_t pos, const std::string &name,
                 const std::string &value, uint32_t lengthOverride = 0)
{
    const size_t nameLen = name.size();
    const size_t len = 36 + ((nameLen + 3) & ~size_t(3)) + ((value.size() + 4) & ~size_t(3));
    std::fill(t.begin() + pos, t.begin() + pos + len, 0);
    put32(t, pos + 20, lengthOverride ? lengthOverride : static_cast<uint32_t>(len));
    put32(t, pos + 28, static_cast<uint32_t>(nameLen));
    put32(t, pos + 32, static_cast<uint32_t>(value.size()));
    std::memcpy(&t[pos + 36], name.data(), nameLen);
    std::memcpy(&t[pos + 36 + ((nameLen + 3) & ~size_t(3))], value.data(), value.size());
    const uint32_t crcLen = (lengthOverride && lengthOverride >= 28 && pos + lengthOverride <= t.size())
                                ? lengthOverride - 28
                                : static_cast<uint32_t>(len - 28);
    put32(t, pos + 24, static_cast<uint32_t>(::crc32(0, &t[pos + 28], crcLen)));
    return len;
}

std::vector<uint8_t> erasedTable() { return std::vector<uint8_t>(4096, 0xFF); }

class PartitionTable : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    std::string path(const char *name) { return dir.filePath(name).toStdString(); }
    std::string writeTable(const std::vector<uint8_t> &t)
    {
        const std::string p = path("partition.bin");
        writeBytes(p, t);
        return p;
    }
    std::vector<std::string> names()
    {
        std::vector<std::string> out;
        for (const PartEntry &e : part_table_entries())
            out.emplace_back(e.name, strnlen(e.name, 16));
        return out;
    }
    QTemporaryDir dir;
    SinkRecorder sink;
};

TEST_F(PartitionTable, SizeOtherThan4096Fails)
{
    EXPECT_EQ(part_table_init(writeTable(std::vector<uint8_t>(4095, 0)).c_str(), 2), -1);
    EXPECT_TRUE(sink.has(1, "partition size 0xfff error\n"));
    EXPECT_EQ(part_table_init(writeTable(std::vector<uint8_t>(4097, 0)).c_str(), 2), -1);
    EXPECT_TRUE(sink.has(1, "partition size 0x1001 error\n"));
    const std::string missing = path("missing.bin");
    EXPECT_EQ(part_table_init(missing.c_str(), 2), -1);
    EXPECT_TRUE(sink.has(1, "cannot stat " + missing + "\n"));
}

TEST_F(PartitionTable, RegionEndResumesAt1024AndSecondEndStops)
{
    std::vector<uint8_t> t = erasedTable();
    std::fill(t.begin(), t.begin() + 36, 0);
    size_t pos = 36;
    pos += putRecord(t, pos, "uboot", "0x0 0x40000");
    pos += putRecord(t, pos, "cpu", "0x40000 0x300000");
    ASSERT_LE(pos, 200u);
    // Erased bytes at 200 end the first region; garbage after it is never read.
    putRecord(t, 260, "hidden", "0x1 0x2");
    std::fill(t.begin() + pos, t.begin() + 260, 0xFF);
    size_t pos2 = 1024;
    pos2 += putRecord(t, pos2, "nv", "0x340000 0x40000");
    putRecord(t, pos2 + 64, "after", "0x1 0x2"); // behind the second end
    ASSERT_EQ(part_table_init(writeTable(t).c_str(), 2), 0);
    EXPECT_TRUE(sink.has(3, "Partition Init ok \n"));
    EXPECT_EQ(names(), (std::vector<std::string>{"uboot", "cpu", "nv"}));
    uint32_t addr = 0, size = 0;
    ASSERT_EQ(part_find("nv", &addr, &size), 0);
    EXPECT_EQ(addr, 0x340000u);
    EXPECT_EQ(size, 0x40000u);
}

TEST_F(PartitionTable, FlippedNameByteFailsWithCrcAndStops)
{
    std::vector<uint8_t> t = erasedTable();
    std::fill(t.begin(), t.begin() + 36, 0);
    size_t pos = 36;
    pos += putRecord(t, pos, "uboot", "0x0 0x40000");
    const size_t second = pos;
    pos += putRecord(t, pos, "cpu", "0x40000 0x300000");
    putRecord(t, pos, "nv", "0x340000 0x40000");
    const uint32_t stored = le32(t, second + 24);
    t[second + 36] ^= 0x01; // "bpu"
    const uint32_t computed = static_cast<uint32_t>(::crc32(0, &t[second + 28], le32(t, second + 20) - 28));
    EXPECT_EQ(part_table_init(writeTable(t).c_str(), 2), -1);
    char msg[128];
    std::snprintf(msg, sizeof msg, "crc check error. crc32 0x%x calcrc 0x%x\n", stored, computed);
    EXPECT_TRUE(sink.has(1, msg)) << sink.joined();
    EXPECT_EQ(names(), (std::vector<std::string>{"uboot"}));
}

TEST_F(PartitionTable, PredefinedZn3150EntriesWinOverTheFile)
{
    std::vector<uint8_t> t;
    std::string error;
    ASSERT_TRUE(Samples::makePartitionTable({{"boot", 0x100, 0x7000}, {"cpu1", 0x8000, 0x100000}},
                                            t, error));
    const std::string p = writeTable(t);
    ASSERT_EQ(part_table_init(p.c_str(), 1), 0);
    EXPECT_EQ(names(), (std::vector<std::string>{"boot", "partition", "cpu1"}));
    uint32_t addr = 1, size = 0;
    ASSERT_EQ(part_find("boot", &addr, &size), 0);
    EXPECT_EQ(addr, 0u);
    EXPECT_EQ(size, 0x6000u);
    // KLM4410 has no predefined entries: the file's own record counts.
    ASSERT_EQ(part_table_init(p.c_str(), 2), 0);
    ASSERT_EQ(part_find("boot", &addr, &size), 0);
    EXPECT_EQ(addr, 0x100u);
    EXPECT_EQ(size, 0x7000u);
}

TEST_F(PartitionTable, ValueWithSurroundingWords)
{
    std::vector<uint8_t> t = erasedTable();
    std::fill(t.begin(), t.begin() + 36, 0);
    putRecord(t, 36, "cpu", "start=0x10000, size=0x80000 (flash)");
    ASSERT_EQ(part_table_init(writeTable(t).c_str(), 2), 0);
    uint32_t addr = 0, size = 0;
    ASSERT_EQ(part_find("cpu", &addr, &size), 0);
    EXPECT_EQ(addr, 0x10000u);
    EXPECT_EQ(size, 0x80000u);
}

TEST_F(PartitionTable, ValueWithoutSecondHexNumberFails)
{
    std::vector<uint8_t> t = erasedTable();
    std::fill(t.begin(), t.begin() + 36, 0);
    putRecord(t, 36, "cpu", "addr 0x10000 size 4096");
    EXPECT_EQ(part_table_init(writeTable(t).c_str(), 2), -1);
    EXPECT_TRUE(sink.has(1, "part parser failed(addr 0x10000 size 4096)\n")) << sink.joined();
}

// Every bound the file does not guarantee is a parse failure, never an overrun.
TEST_F(PartitionTable, MalformedRecordsAreRejected)
{
    struct Case {
        const char *what;
        std::function<void(std::vector<uint8_t> &)> make;
        const char *message;
    };
    const std::vector<Case> cases = {
        {"length below 36",
         [](std::vector<uint8_t> &t) { putRecord(t, 36, "cpu", "0x1 0x2", 35); },
         "partition record at 0x24 has length 35, below 36\n"},
        {"length zero (would loop)",
         [](std::vector<uint8_t> &t) { putRecord(t, 36, "cpu", "0x1 0x2", 0xFFFFFFFF); },
         "partition record at 0x24 with length 4294967295 reaches past the table\n"},
        {"reaching past byte 4095",
         [](std::vector<uint8_t> &t) { putRecord(t, 36, "cpu", "0x1 0x2", 4061); },
         "partition record at 0x24 with length 4061 reaches past the table\n"},
        {"name over 16 bytes",
         [](std::vector<uint8_t> &t) { putRecord(t, 36, "seventeen_bytes_x", "0x1 0x2"); },
         "partition record at 0x24 has a name of 17 bytes, over 16\n"},
        {"value over 127 bytes",
         [](std::vector<uint8_t> &t) { putRecord(t, 36, "cpu", "0x1 0x2" + std::string(121, ' ')); },
         "partition record at 0x24 has a value of 128 bytes, over 127\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> t = erasedTable();
        std::fill(t.begin(), t.begin() + 36, 0);
        c.make(t);
        sink.lines.clear();
        EXPECT_EQ(part_table_init(writeTable(t).c_str(), 2), -1);
        EXPECT_TRUE(sink.has(1, c.message)) << sink.joined();
    }
}

TEST_F(PartitionTable, MoreThan64EntriesFail)
{
    std::vector<uint8_t> t = erasedTable();
    std::fill(t.begin(), t.begin() + 36, 0);
    size_t pos = 36;
    int n = 0;
    for (; n < 70; ++n) {
        const size_t regionEnd = pos < 1024 ? 1024 : 4096;
        if (pos + 56 + 6 > regionEnd) {
            if (pos >= 1024)
                break;
            pos = 1024;
        }
        char name[8];
        std::snprintf(name, sizeof name, "p%02d", n);
        pos += putRecord(t, pos, name, "0x1 0x2");
    }
    ASSERT_GT(n, 64);
    EXPECT_EQ(part_table_init(writeTable(t).c_str(), 2), -1);
    EXPECT_TRUE(sink.has(1, "partition table has more than 64 entries\n"));
    EXPECT_EQ(part_table_entries().size(), 64u);
}

TEST_F(PartitionTable, TableEndingCloseToByte4096)
{
    // The last record ends 3 erased bytes before the end of the table.
    std::vector<uint8_t> t = erasedTable();
    std::fill(t.begin(), t.begin() + 36, 0);
    putRecord(t, 1024, "cpu", "0x40000 0x300000", 4096 - 3 - 1024);
    ASSERT_EQ(part_table_init(writeTable(t).c_str(), 2), 0) << sink.joined();
    EXPECT_EQ(names(), (std::vector<std::string>{"cpu"}));
    // A record header that cannot fit before the end.
    t[4093] = 0;
    sink.lines.clear();
    EXPECT_EQ(part_table_init(writeTable(t).c_str(), 2), -1);
    EXPECT_TRUE(sink.has(1, "partition record at 0xffd runs past the end of the table\n")) << sink.joined();
}

TEST_F(PartitionTable, WrittenTablesReadBackInOrder)
{
    std::vector<Samples::PartitionSpec> parts;
    for (uint32_t i = 0; i < 64; ++i)
        parts.push_back({"part_" + std::to_string(i), i * 0x1000u, 0x1000u - i});
    std::vector<uint8_t> t;
    std::string error;
    ASSERT_TRUE(Samples::makePartitionTable(parts, t, error)) << error;
    ASSERT_EQ(part_table_init(writeTable(t).c_str(), 2), 0) << sink.joined();
    ASSERT_EQ(part_table_entries().size(), 64u);
    for (uint32_t i = 0; i < 64; ++i) {
        EXPECT_EQ(std::string(part_table_entries()[i].name), "part_" + std::to_string(i));
        EXPECT_EQ(part_table_entries()[i].addr, i * 0x1000u);
        EXPECT_EQ(part_table_entries()[i].size, 0x1000u - i);
    }
    parts.push_back({"sixteen_bytes_xx", 0, 1});
    EXPECT_FALSE(Samples::makePartitionTable({{"seventeen_bytes_x", 0, 1}}, t, error));
    EXPECT_FALSE(Samples::makePartitionTable({{"", 0, 1}}, t, error));
}

TEST_F(PartitionTable, FindMessages)
{
    std::vector<uint8_t> t;
    std::string error;
    ASSERT_TRUE(Samples::makePartitionTable({{"cpu", 0x40000, 0x300000}}, t, error));
    ASSERT_EQ(part_table_init(writeTable(t).c_str(), 2), 0);
    sink.lines.clear();
    uint32_t a = 0, s = 0;
    EXPECT_EQ(part_find(nullptr, &a, &s), -1);
    EXPECT_TRUE(sink.has(1, "Need Part Name Find In Partition\n"));
    EXPECT_EQ(part_find("CPU", &a, &s), -1); // case matters
    EXPECT_TRUE(sink.has(1, "Not Find The Part(CPU)\n"));
    sink.lines.clear();
    EXPECT_EQ(part_find("uboot", nullptr, nullptr), -1);
    EXPECT_TRUE(sink.lines.empty());
    EXPECT_EQ(part_find("cpu", nullptr, nullptr), 0);
}

class FileInputs : public PartitionTable {};

TEST_F(FileInputs, ReadSizeAndErrors)
{
    const std::string p = path("f.bin");
    writeBytes(p, noise(1, 1000));
    EXPECT_EQ(file_size(p.c_str()), 1000);
    uint8_t buf[64];
    EXPECT_EQ(file_read(p.c_str(), 980, buf, 64), 20);
    EXPECT_EQ(file_read(p.c_str(), 1000, buf, 64), 0);
    EXPECT_EQ(file_read(p.c_str(), 1001, buf, 64), -1);
    EXPECT_TRUE(sink.has(1, "file size 1000, offset= 1001 \n"));
    const std::string missing = path("none.bin");
    EXPECT_EQ(file_size(missing.c_str()), -1);
    EXPECT_TRUE(sink.has(1, "stat " + missing + " error \n"));
}

TEST_F(FileInputs, Crc32CoversImagesOver4MiB)
{
    const std::vector<uint8_t> big = noise(7, 0x400000 + 12345);
    const std::string p = path("big.bin");
    writeBytes(p, big);
    const uint32_t want = static_cast<uint32_t>(::crc32(0, big.data(), static_cast<uInt>(big.size())));
    EXPECT_EQ(file_crc32(p.c_str(), 0, static_cast<int64_t>(big.size())), want);
    EXPECT_EQ(file_crc32_whole(p.c_str()), want);
    EXPECT_NE(want, 0u);
    EXPECT_EQ(file_crc32(p.c_str(), 0, static_cast<int64_t>(big.size()) + 1), 0u);
}

TEST_F(FileInputs, Zn3150VersionTrailer)
{
    std::vector<uint8_t> img = noise(2, 5000);
    Samples::stampZn3150(img, "1.2.3");
    const std::string p = path("zn.bin");
    writeBytes(p, img);
    char v[17];
    ASSERT_EQ(image_version(p.c_str(), v, sizeof v), 0);
    EXPECT_STREQ(v, "1.2.3");
    img[img.size() - 24] = 'X';
    writeBytes(p, img);
    ASSERT_EQ(image_version(p.c_str(), v, sizeof v), 0);
    EXPECT_STREQ(v, "x.x.x");
    // 18 text bytes without a terminator inside the trailer.
    std::memcpy(&img[img.size() - 24], "REL_V:", 6);
    std::memset(&img[img.size() - 18], '9', 18);
    writeBytes(p, img);
    EXPECT_EQ(image_version(p.c_str(), v, sizeof v), -1);
    EXPECT_TRUE(sink.has(1, p + ": version text has no terminator in the image trailer\n"))
        << sink.joined();
}

TEST_F(FileInputs, Klm4410VersionAndBoardType)
{
    std::vector<uint8_t> img = noise(3, 4096);
    Samples::stampKlm4410(img, "KLM_V1.0", 0x42);
    const std::string p = path("klm.bin");
    writeBytes(p, img);
    EXPECT_EQ(image_board_type(p.c_str()), 2);
    char v[33];
    ASSERT_EQ(image_version(p.c_str(), v, sizeof v), 0);
    EXPECT_STREQ(v, "KLM_V1.0");
    std::memcpy(img.data(), "2pxH", 4);
    writeBytes(p, img);
    EXPECT_EQ(image_board_type(p.c_str()), 2);
    img[0] = 0;
    writeBytes(p, img);
    EXPECT_EQ(image_board_type(p.c_str()), 1);
    writeBytes(p, {1, 2, 3});
    EXPECT_EQ(image_board_type(p.c_str()), 0);
}

} // namespace
