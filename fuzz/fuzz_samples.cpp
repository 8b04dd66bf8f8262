#include "fuzz/fuzz_samples.h"

#include "deltamaker/builder/fota.h"
#include "deltamaker/format/package_layout.h"
#include "deltamaker/samples/board_samples.h"
#include "deltamaker/samples/firmware_gen.h"
#include "fuzz/fuzz_target.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sys/stat.h>

namespace FuzzSamples {

namespace {

// NV-like data: text records of a counter, as compressible as real NV files.
std::vector<uint8_t> makeNv(uint32_t seed, size_t size)
{
    std::vector<uint8_t> nv(size, 0xFF);
    for (size_t at = 0, i = 0; at + 32 <= size; at += 32, ++i) {
        char rec[33] = {};
        std::snprintf(rec, sizeof rec, "NV%04zu=%08x;", i, static_cast<unsigned>(seed * 7919 + i));
        std::memcpy(nv.data() + at, rec, 32);
    }
    return nv;
}

Samples::FirmwarePair pair(uint64_t seed, size_t size)
{
    Samples::PairSpec spec;
    spec.size = size;
    spec.kinds = {Samples::Mutation::InsertFunction, Samples::Mutation::ChangeConstants,
                  Samples::Mutation::AppendData};
    return Samples::makePair(seed, spec);
}

bool emit(const std::string &path, const std::vector<uint8_t> &bytes, std::string &error)
{
    if (writeBytes(path, bytes))
        return true;
    error = "cannot write " + path;
    return false;
}

} // namespace

uint32_t le32(const uint8_t *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

std::vector<uint8_t> withLe32(uint32_t v, const uint8_t *data, size_t size)
{
    std::vector<uint8_t> out;
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    out.insert(out.end(), data, data + size);
    return out;
}

bool writeBytes(const std::string &path, const std::vector<uint8_t> &bytes)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(f.flush());
}

bool readBytes(const std::string &path, std::vector<uint8_t> &out)
{
    std::ifstream f(path, std::ios::binary);
    if (!f)
        return false;
    out.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    return true;
}

bool writePackageInputs(const std::string &dir, std::vector<PackageCase> &cases,
                        std::string &error)
{
    cases.clear();
    const std::string zn = dir + "/zn3150";
    const std::string klm = dir + "/klm4410";
    mkdir(dir.c_str(), 0700);
    mkdir(zn.c_str(), 0700);
    mkdir(klm.c_str(), 0700);

    // ZN3150: two and a half blocks, just over one in-place window.
    std::vector<uint8_t> table;
    if (!Samples::makePartitionTable({{"cpu1", 0x8000, 0x20000},
                                      {"data_ota", 0x28000, 0x20000},
                                      {"nv_usr", 0x48000, 0x2000},
                                      {"nv_amt", 0x4a000, 0x2000}},
                                     table, error) ||
        !emit(zn + "/partition.bin", table, error))
        return false;
    Samples::FirmwarePair z = pair(31501, 48 * 1024);
    Samples::stampZn3150(z.oldImage, "1.0.3");
    Samples::stampZn3150(z.newImage, "1.1.0");
    if (!emit(zn + "/boot.bin", Samples::makeFirmware(3150, 6 * 1024), error) ||
        !emit(zn + "/old.bin", z.oldImage, error) || !emit(zn + "/new.bin", z.newImage, error) ||
        !emit(zn + "/nv_usr.bin", makeNv(1, 4096), error) ||
        !emit(zn + "/nv_amt.bin", makeNv(2, 2048), error))
        return false;

    // KLM4410: images of about two blocks for every method byte.
    if (!Samples::makePartitionTable({{"uboot", 0x0, 0x10000}, {"cpu", 0x10000, 0x40000}},
                                     table, error) ||
        !emit(klm + "/partition.bin", table, error))
        return false;
    Samples::FirmwarePair diff = pair(44101, 40 * 1024);
    Samples::stampKlm4410(diff.oldImage, "KLM_V2.3.0", kMethodCodeDiff);
    Samples::stampKlm4410(diff.newImage, "KLM_V2.4.0", kMethodCodeDiff);
    std::vector<uint8_t> cz = diff.newImage;
    Samples::stampKlm4410(cz, "KLM_V2.4.0", kMethodCodeCZ);
    Samples::FirmwarePair ab = pair(44102, 24 * 1024);
    Samples::stampKlm4410(ab.oldImage, "KLM_V2.3.0", kMethodCodeAB);
    Samples::stampKlm4410(ab.newImage, "KLM_V2.4.0", kMethodCodeAB);
    if (!emit(klm + "/boot.bin", Samples::makeFirmware(4410, 8 * 1024), error) ||
        !emit(klm + "/diff_old.bin", diff.oldImage, error) ||
        !emit(klm + "/diff_new.bin", diff.newImage, error) ||
        !emit(klm + "/cz_new.bin", cz, error) || !emit(klm + "/ab_old.bin", ab.oldImage, error) ||
        !emit(klm + "/ab_new.bin", ab.newImage, error))
        return false;

    auto add = [&](const char *name, int method, const std::string &part, const std::string &boot,
                   const std::string &oldImage, const std::string &newImage,
                   const std::string &nv1 = std::string(), const std::string &nv2 = std::string()) {
        PackageCase c;
        c.name = name;
        c.inputs.partition = part;
        c.inputs.boot = boot;
        c.inputs.oldImage = oldImage;
        c.inputs.newImage = newImage;
        c.inputs.nv1 = nv1;
        c.inputs.nv2 = nv2;
        c.inputs.method = method;
        cases.push_back(c);
    };
    const std::string zp = zn + "/partition.bin", kp = klm + "/partition.bin";
    add("zn3150_m1", 1, zp, zn + "/boot.bin", zn + "/old.bin", zn + "/new.bin",
        zn + "/nv_usr.bin", zn + "/nv_amt.bin");
    add("zn3150_m3", 3, zp, "", zn + "/old.bin", zn + "/new.bin");
    add("klm4410_m0", 0, kp, klm + "/boot.bin", "", klm + "/cz_new.bin");
    add("klm4410_m1", 1, kp, klm + "/boot.bin", klm + "/diff_old.bin", klm + "/diff_new.bin");
    add("klm4410_m2", 2, kp, klm + "/boot.bin", klm + "/ab_old.bin", klm + "/ab_new.bin");
    add("klm4410_m3", 3, kp, klm + "/boot.bin", klm + "/diff_old.bin", klm + "/diff_new.bin");
    add("klm4410_m4", 4, kp, klm + "/boot.bin", klm + "/diff_old.bin", klm + "/cz_new.bin");
    return true;
}

bool buildPackage(const PackageCase &c, const std::string &output, std::string &error)
{
    PackRequest req;
    std::memset(&req, 0, sizeof req);
    auto put = [](char *field, const std::string &path) {
        std::snprintf(field, 256, "%s", path.c_str());
    };
    put(req.partition_path, c.inputs.partition);
    put(req.boot_path, c.inputs.boot);
    put(req.old_path, c.inputs.oldImage);
    put(req.new_path, c.inputs.newImage);
    put(req.nv1_path, c.inputs.nv1);
    put(req.nv2_path, c.inputs.nv2);
    req.method = c.inputs.method;
    req.output_path = output.c_str();
    std::string log;
    fota_set_log_sink([&log](int, const char *text) { log += text; });
    const int rc = fota_make_package(req);
    fota_set_log_sink({});
    if (rc != 0)
        error = c.name + ": " + log;
    return rc == 0;
}

void builtPackages(std::vector<std::vector<uint8_t>> &packages)
{
    const std::string dir = fuzzTempDir("fuzz-seeds");
    std::vector<PackageCase> cases;
    std::string error;
    if (dir.empty() || !writePackageInputs(dir, cases, error)) {
        std::fprintf(stderr, "cannot write the package inputs: %s\n", error.c_str());
        return;
    }
    for (const PackageCase &c : cases) {
        const std::string out = dir + "/" + c.name + ".pkg";
        packages.emplace_back();
        if (!buildPackage(c, out, error) || !readBytes(out, packages.back())) {
            std::fprintf(stderr, "%s\n", error.c_str());
            packages.pop_back();
        }
    }
}

const PackageCase *caseForPackage(const std::vector<PackageCase> &cases, const uint8_t *pkg,
                                  size_t size)
{
    PackageInfo info;
    std::vector<std::string> findings;
    if (!package_read(pkg, size, info, findings, -1))
        return nullptr;
    const char *name = nullptr;
    switch (info.layout) {
    case PackageLayout::Z1: name = "zn3150_m1"; break;
    case PackageLayout::Z3: name = "zn3150_m3"; break;
    case PackageLayout::KBlocks:
        name = info.method == kMethodCodeCZ ? "klm4410_m0" : "klm4410_m1";
        break;
    case PackageLayout::KInplace: name = "klm4410_m3"; break;
    case PackageLayout::KWhole: name = "klm4410_m4"; break;
    case PackageLayout::AB: name = "klm4410_m2"; break;
    default: return nullptr;
    }
    for (const PackageCase &c : cases)
        if (c.name == name)
            return &c;
    return nullptr;
}

const std::vector<uint8_t> &oldBlock()
{
    static const std::vector<uint8_t> block = pair(20480, kBlockSize).oldImage;
    return block;
}

const std::vector<uint8_t> &oldImage()
{
    static const std::vector<uint8_t> image = pair(65536, 64 * 1024).oldImage;
    return image;
}

std::vector<uint8_t> newBlock(int variant)
{
    std::vector<uint8_t> b = pair(20480, kBlockSize).newImage;
    if (variant % 3 == 1)
        b.resize(kBlockSize / 2 + 7); // a short last block
    else if (variant % 3 == 2)
        b = std::vector<uint8_t>(oldBlock().begin() + 1000, oldBlock().end());
    if (b.size() > kBlockSize)
        b.resize(kBlockSize);
    return b;
}

std::vector<uint8_t> newImage(int variant)
{
    std::vector<uint8_t> image = pair(65536, 64 * 1024).newImage;
    if (variant % 2 == 1)
        image.resize(40 * 1024);
    return image;
}

} // namespace FuzzSamples
