// Tables that no package may be built on (entries past 4 GiB or over 32 bits, overlapping
// entries, a package partition too small for a header) are refused by every method of the
// board, before any work, and by the verifier.
#include "builder_test_util.h"

#include "deltamaker/samples/board_samples.h"
#include "deltamaker/verify/package_verify.h"

#include <zlib.h>

#include <algorithm>
#include <map>

using namespace BuilderTest;

namespace {

struct Record {
    std::string name;
    std::string value; // "0x<addr> 0x<size>", any text
};

// A 4096-byte table of raw records, so that values the sample writer cannot express (more than
// 32 bits) can be written.
std::vector<uint8_t> rawTable(const std::vector<Record> &records)
{
    std::vector<uint8_t> t(4096, 0xFF);
    std::fill(t.begin(), t.begin() + 36, 0);
    size_t pos = 36;
    for (const Record &r : records) {
        const size_t nameLen = r.name.size();
        const size_t len = 36 + ((nameLen + 3) & ~size_t(3)) + ((r.value.size() + 4) & ~size_t(3));
        std::fill(t.begin() + pos, t.begin() + pos + len, 0);
        put32(t, pos + 20, static_cast<uint32_t>(len));
        put32(t, pos + 28, static_cast<uint32_t>(nameLen));
        put32(t, pos + 32, static_cast<uint32_t>(r.value.size()));
        std::memcpy(&t[pos + 36], r.name.data(), nameLen);
        std::memcpy(&t[pos + 36 + ((nameLen + 3) & ~size_t(3))], r.value.data(), r.value.size());
        put32(t, pos + 24, static_cast<uint32_t>(::crc32(0, &t[pos + 28], static_cast<uInt>(len - 28))));
        pos += len;
    }
    return t;
}

struct Hostile {
    const char *what;
    bool zn;
    std::vector<Record> records;
    std::string fault; // the message naming the entries, without its "\n"
};

std::vector<Hostile> hostileTables()
{
    const Record kOta{"data_ota", "0x108000 0x80000"};
    return {
        {"cpu1 reaching past 4 GiB", true, {{"cpu1", "0xfffff000 0x200000"}, kOta},
         "partition cpu1 at 0xfffff000 with 0x200000 bytes reaches past 4 GiB"},
        {"cpu1 of 0xffffffff bytes", true, {{"cpu1", "0x8000 0xffffffff"}, {"data_ota", "0x0 0x0"}},
         "partition cpu1 at 0x8000 with 0xffffffff bytes reaches past 4 GiB"},
        {"data_ota reaching past 4 GiB", true, {{"cpu1", "0x8000 0x100000"}, {"data_ota", "0xfff00000 0x200000"}},
         "partition data_ota at 0xfff00000 with 0x200000 bytes reaches past 4 GiB"},
        {"data_ota of 16 bytes", true, {{"cpu1", "0x8000 0x100000"}, {"data_ota", "0x108000 0x10"}},
         "partition data_ota of 0x10 bytes cannot hold the 64-byte package header"},
        {"cpu1 and data_ota at 0 over boot", true, {{"cpu1", "0x0 0x100000"}, {"data_ota", "0x0 0x80000"}},
         "partitions boot (0x0..0x6000) and cpu1 (0x0..0x100000) overlap"},
        {"size over 32 bits", true, {{"cpu1", "0x8000 0x100040000"}, kOta},
         "partition cpu1 has the size 0x100040000, which does not fit in 32 bits"},
        {"address over 32 bits", true, {{"cpu1", "0x100008000 0x100000"}, kOta},
         "partition cpu1 has the address 0x100008000, which does not fit in 32 bits"},
        {"cpu inside uboot", false, {{"uboot", "0x0 0x400000"}, {"cpu", "0x40000 0x300000"}},
         "partitions uboot (0x0..0x400000) and cpu (0x40000..0x340000) overlap"},
        {"cpu smaller than a header", false, {{"uboot", "0x0 0x40000"}, {"cpu", "0x40000 0x6f"}},
         "partition cpu of 0x6f bytes cannot hold the 112-byte package header"},
        {"KLM4410 size over 32 bits", false, {{"uboot", "0x0 0x40000"}, {"cpu", "0x40000 0x100300000"}},
         "partition cpu has the size 0x100300000, which does not fit in 32 bits"},
    };
}

class PartitionChecks : public FolderTest {
protected:
    SinkRecorder sink;
};

TEST_F(PartitionChecks, HostileTablesAreRefusedByEveryMethodAndByTheVerifier)
{
    const std::string zOld = file("z_old.bin", zn3150Image(1, 30000, "1.0.0"));
    const std::string zNew = file("z_new.bin", zn3150Image(2, 30000, "1.0.1"));
    const std::string out = path("out.pkg");
    std::map<int, std::string> kOld, kNew;
    for (uint8_t code : {0x42, 0x82}) {
        kOld[code] = file("k_old_" + std::to_string(code) + ".bin", klm4410Image(3, 30000, "K1", code));
        kNew[code] = file("k_new_" + std::to_string(code) + ".bin", klm4410Image(4, 30000, "K2", code));
    }
    // A sound package of each board, to be verified against the hostile tables.
    std::vector<uint8_t> t;
    std::string error;
    ASSERT_TRUE(Samples::makePartitionTable({{"cpu1", 0x8000, 0x100000}, {"data_ota", 0x108000, 0x80000}}, t, error));
    const std::string zSound = file("z_sound.bin", t);
    ASSERT_TRUE(Samples::makePartitionTable({{"uboot", 0, 0x40000}, {"cpu", 0x40000, 0x300000}}, t, error));
    const std::string kSound = file("k_sound.bin", t);
    ASSERT_EQ(fota_make_package(request(1, zSound, zNew, zOld, path("z.pkg"))), 0) << sink.joined();
    ASSERT_EQ(fota_make_package(request(1, kSound, kNew[0x42], kOld[0x42], path("k.pkg"))), 0) << sink.joined();

    for (const Hostile &h : hostileTables()) {
        SCOPED_TRACE(h.what);
        const std::string table = file("hostile.bin", rawTable(h.records));
        for (int method : h.zn ? std::vector<int>{1, 3} : std::vector<int>{0, 1, 2, 3, 4}) {
            SCOPED_TRACE(method);
            sink.lines.clear();
            const uint8_t code = method == 2 ? 0x82 : 0x42;
            const PackRequest req = h.zn ? request(method, table, zNew, zOld, out)
                                         : request(method, table, kNew[code], kOld[code], out);
            EXPECT_EQ(fota_make_package(req), -1);
            EXPECT_TRUE(sink.has(1, h.fault + "\n")) << sink.joined();
            EXPECT_FALSE(sink.hasText("Partition Init ok \n")) << "refused before any method's work";
            EXPECT_FALSE(exists(out));
        }
        PackageInputs in;
        in.partition = table;
        in.oldImage = h.zn ? zOld : kOld[0x42];
        in.newImage = h.zn ? zNew : kNew[0x42];
        const std::vector<uint8_t> pkg = readBytes(path(h.zn ? "z.pkg" : "k.pkg"));
        const std::vector<std::string> findings = package_verify(pkg.data(), pkg.size(), in);
        EXPECT_NE(std::find(findings.begin(), findings.end(), "partition table: " + h.fault), findings.end())
            << ::testing::PrintToString(findings);
    }
}

// Entries that touch are not overlapping, empty entries overlap nothing, and a ZN3150 table
// whose own boot record lies elsewhere keeps the predefined one.
TEST_F(PartitionChecks, TouchingAndEmptyEntriesAreSound)
{
    const std::string table = file("table.bin", rawTable({{"boot", "0x100000 0x9000"},
                                                          {"cpu1", "0x7000 0x100000"},
                                                          {"data_ota", "0x107000 0x80000"},
                                                          {"spare", "0x8000 0x0"}}));
    const std::string out = path("out.pkg");
    ASSERT_EQ(fota_make_package(request(1, table, file("new.bin", zn3150Image(2, 30000, "1.0.1")),
                                        file("old.bin", zn3150Image(1, 30000, "1.0.0")), out)),
              0)
        << sink.joined();
    EXPECT_TRUE(sink.hasText("Partition Init ok \n"));
}

} // namespace
