#include "deltamaker/samples/board_samples.h"

#include "deltamaker/samples/firmware_gen.h"

#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

namespace Samples {

namespace {

constexpr size_t kTableSize = 4096;
constexpr size_t kFirstRegion = 36;
constexpr size_t kSecondRegion = 1024;
constexpr size_t kRegionEnd = 6; // erased bytes that end a region

void put32(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

size_t pad4(size_t n) { return (n + 3) & ~size_t(3); }

bool makeDir(const std::string &path, std::string &error)
{
    if (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) {
        error = "cannot create folder " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool writeBytes(const std::string &path, const std::vector<uint8_t> &bytes, std::string &error)
{
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) {
        error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if (std::fclose(f) != 0 || !ok) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

// NV data: key/value records with counters, compressible as real NV files are.
std::vector<uint8_t> makeNv(uint32_t seed, size_t size)
{
    std::vector<uint8_t> nv(size, 0xFF);
    size_t at = 0;
    for (uint32_t i = 0; at + 32 <= size; ++i) {
        char rec[33] = {}; // 27 characters and zero padding: every byte of a record is defined
        std::snprintf(rec, sizeof rec, "NV%04u=%08x;cal=%06u;", i, seed * 2654435761u + i * 7,
                      (seed + i * 13) % 1000000);
        std::memcpy(nv.data() + at, rec, 32);
        at += 32;
    }
    return nv;
}

} // namespace

bool makePartitionTable(const std::vector<PartitionSpec> &parts, std::vector<uint8_t> &table,
                        std::string &error)
{
    if (parts.size() > 64) {
        // The reader refuses a table of more entries; do not write one.
        error = "a partition table holds at most 64 partitions, not " + std::to_string(parts.size());
        return false;
    }
    table.assign(kTableSize, 0xFF);
    std::memset(table.data(), 0, kFirstRegion);
    std::memcpy(table.data(), "TESSEL PARTITION TABLE", 22);
    size_t pos = kFirstRegion;
    size_t regionEnd = kSecondRegion;
    bool second = false;
    for (const PartitionSpec &p : parts) {
        if (p.name.empty() || p.name.size() > 16) {
            error = "partition name \"" + p.name + "\" must have 1 to 16 bytes";
            return false;
        }
        char value[64];
        const int v = std::snprintf(value, sizeof value, "0x%x 0x%x", p.addr,
                                    p.size);
        const size_t len = 36 + pad4(p.name.size()) + pad4(static_cast<size_t>(v) + 1);
        if (pos + len + kRegionEnd > regionEnd) {
            if (second) {
                error = "too many partitions for one table";
                return false;
            }
            second = true;
            pos = kSecondRegion;
            regionEnd = kTableSize + kRegionEnd; // the table's end also ends the region
            if (pos + len + kRegionEnd > regionEnd) {
                error = "too many partitions for one table";
                return false;
            }
        }
        uint8_t *rec = table.data() + pos;
        std::memset(rec, 0, len);
        put32(rec + 20, static_cast<uint32_t>(len));
        put32(rec + 28, static_cast<uint32_t>(p.name.size()));
        put32(rec + 32, static_cast<uint32_t>(v));
        std::memcpy(rec + 36, p.name.data(), p.name.size());
        std::memcpy(rec + 36 + pad4(p.name.size()), value, static_cast<size_t>(v));
        put32(rec + 24, static_cast<uint32_t>(::crc32(0, rec + 28, static_cast<uInt>(len - 28))));
        pos += len;
    }
    return true;
}

void stampKlm4410(std::vector<uint8_t> &image, const char *version, uint8_t methodByte)
{
    if (image.size() < 128)
        image.resize(128, 0xFF);
    put32(image.data(), 0x02262018u);
    std::memset(image.data() + 96, 0, 16);
    std::memcpy(image.data() + 96, version, strnlen(version, 15));
    image[112] = methodByte;
}

void stampZn3150(std::vector<uint8_t> &image, const char *version)
{
    if (image.size() < 24)
        image.resize(24, 0xFF);
    // A ZN3150 image must not start with a KLM4410 board word.
    if ((image[0] == 0x18 && image[1] == 0x20 && image[2] == 0x26 && image[3] == 0x02) ||
        std::memcmp(image.data(), "2pxH", 4) == 0)
        image[0] ^= 0x01;
    uint8_t *tail = image.data() + image.size() - 24;
    std::memset(tail, 0, 24);
    std::memcpy(tail, "REL_V:", 6);
    std::memcpy(tail + 6, version, strnlen(version, 17));
}

bool writeBoardSamples(const std::string &dir, std::vector<WrittenSample> &written,
                       std::string &error)
{
    const std::string zn = dir + "/zn3150";
    const std::string klm = dir + "/klm4410";
    if (!makeDir(dir, error) || !makeDir(zn, error) || !makeDir(klm, error))
        return false;
    auto emit = [&](const std::string &path, const std::vector<uint8_t> &bytes,
                    const std::string &what) {
        if (!writeBytes(path, bytes, error))
            return false;
        written.push_back({path, what});
        return true;
    };
    std::vector<uint8_t> table;

    // ZN3150: its own "boot" and "partition" records are shadowed by the predefined entries.
    if (!makePartitionTable({{"boot", 0x0, 0x10000},
                             {"partition", 0x10000, 0x1000},
                             {"cpu1", 0x8000, 0x100000},
                             {"data_ota", 0x108000, 0x80000},
                             {"nv_usr", 0x188000, 0x8000},
                             {"nv_amt", 0x190000, 0x4000}},
                            table, error) ||
        !emit(zn + "/partition.bin", table,
              "ZN3150 partition table: cpu1 1 MiB, data_ota 512 KiB, nv_usr, nv_amt"))
        return false;
    std::vector<uint8_t> zBoot = makeFirmware(3150, 16384);
    if (!emit(zn + "/boot.bin", zBoot, "ZN3150 boot image, 16 KiB"))
        return false;
    PairSpec zSpec;
    zSpec.size = 200 * 1024;
    zSpec.kinds = {Mutation::InsertFunction, Mutation::ChangeConstants, Mutation::AppendData};
    FirmwarePair zPair = makePair(31501, zSpec);
    stampZn3150(zPair.oldImage, "1.0.3");
    stampZn3150(zPair.newImage, "1.1.0");
    if (!emit(zn + "/old.bin", zPair.oldImage, "ZN3150 image 1.0.3 (on the device)") ||
        !emit(zn + "/new.bin", zPair.newImage,
              "ZN3150 image 1.1.0 (" + zPair.description + ")") ||
        !emit(zn + "/nv_usr.bin", makeNv(1, 8192), "ZN3150 first NV file") ||
        !emit(zn + "/nv_amt.bin", makeNv(2, 4096), "ZN3150 second NV file"))
        return false;

    // KLM4410.
    if (!makePartitionTable({{"uboot", 0x0, 0x40000}, {"cpu", 0x40000, 0x300000},
                             {"nv", 0x340000, 0x40000}},
                            table, error) ||
        !emit(klm + "/partition.bin", table, "KLM4410 partition table: uboot 256 KiB, cpu 3 MiB"))
        return false;
    std::vector<uint8_t> kBoot = makeFirmware(4410, 48 * 1024);
    if (!emit(klm + "/boot.bin", kBoot, "KLM4410 boot image, 48 KiB"))
        return false;
    PairSpec kSpec;
    kSpec.size = 384 * 1024;
    kSpec.kinds = {Mutation::InsertFunction, Mutation::ChangeConstants, Mutation::RemoveRun,
                   Mutation::AppendData};
    FirmwarePair diff = makePair(44101, kSpec);
    stampKlm4410(diff.oldImage, "KLM_V2.3.0", 0x42);
    stampKlm4410(diff.newImage, "KLM_V2.4.0", 0x42);
    if (!emit(klm + "/diff_old.bin", diff.oldImage,
              "KLM4410 image V2.3.0, method byte 0x42 (on the device)") ||
        !emit(klm + "/diff_new.bin", diff.newImage,
              "KLM4410 image V2.4.0, method byte 0x42 (" + diff.description + ")"))
        return false;
    std::vector<uint8_t> cz = diff.newImage;
    stampKlm4410(cz, "KLM_V2.4.0", 0x22);
    if (!emit(klm + "/cz_new.bin", cz, "KLM4410 image V2.4.0, method byte 0x22"))
        return false;
    FirmwarePair ab = makePair(44102, kSpec);
    stampKlm4410(ab.oldImage, "KLM_V2.3.0", 0x82);
    stampKlm4410(ab.newImage, "KLM_V2.4.0", 0x82);
    if (!emit(klm + "/ab_old.bin", ab.oldImage, "KLM4410 A image V2.3.0, method byte 0x82") ||
        !emit(klm + "/ab_new.bin", ab.newImage, "KLM4410 B image V2.4.0, method byte 0x82"))
        return false;

    const std::string readme =
        "Demo inputs for deltamaker. From this folder:\n"
        "\n"
        "ZN3150\n"
        "  deltamaker build --method 1 --partition zn3150/partition.bin --boot zn3150/boot.bin "
        "--old zn3150/old.bin --new zn3150/new.bin --nv1 zn3150/nv_usr.bin --nv2 "
        "zn3150/nv_amt.bin --output zn3150_m1.pkg\n"
        "  deltamaker build --method 3 --partition zn3150/partition.bin --old zn3150/old.bin "
        "--new zn3150/new.bin --output zn3150_m3.pkg\n"
        "KLM4410\n"
        "  deltamaker build --method 0 --partition klm4410/partition.bin --boot klm4410/boot.bin "
        "--new klm4410/cz_new.bin --output klm4410_m0.pkg\n"
        "  deltamaker build --method 1 --partition klm4410/partition.bin --boot klm4410/boot.bin "
        "--old klm4410/diff_old.bin --new klm4410/diff_new.bin --output klm4410_m1.pkg\n"
        "  deltamaker build --method 2 --partition klm4410/partition.bin --boot klm4410/boot.bin "
        "--old klm4410/ab_old.bin --new klm4410/ab_new.bin --output klm4410_m2.pkg\n"
        "  deltamaker build --method 3 --partition klm4410/partition.bin --boot klm4410/boot.bin "
        "--old klm4410/diff_old.bin --new klm4410/diff_new.bin --output klm4410_m3.pkg\n"
        "  deltamaker build --method 4 --partition klm4410/partition.bin --boot klm4410/boot.bin "
        "--old klm4410/diff_old.bin --new klm4410/cz_new.bin --output klm4410_m4.pkg\n"
        "\n"
        "Check a package with the same inputs: deltamaker verify PACKAGE --partition ... --new "
        "...\n";
    return emit(dir + "/README.txt", std::vector<uint8_t>(readme.begin(), readme.end()),
                "one build command per method");
}

} // namespace Samples
