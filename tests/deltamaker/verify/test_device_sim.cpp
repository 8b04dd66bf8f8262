// The device dry run and its power-cut analysis. The analysis is proven by brute force: for
// packages of every method of both boards, the power is cut after every erase and program
// operation of every step, the loader resumes by the model, and exactly the steps the analysis
// calls unsafe can end in a wrong image.
#include "device_test_util.h"

#include "deltamaker/format/package_layout.h"
#include "deltamaker/patch/inplace.h"
#include "deltamaker/samples/firmware_gen.h"
#include "deltamaker/verify/inplace_apply.h"

#include <cstdlib>
#include <random>
#include <sstream>

using namespace DeviceTest;

namespace {

bool sanitized() { return std::getenv("TESSEL_SANITIZE") != nullptr; }

long envNumber(const char *name, long fallback)
{
    const char *v = std::getenv(name);
    char *end = nullptr;
    const long n = v && *v ? std::strtol(v, &end, 10) : -1;
    return n >= 0 && end && *end == '\0' ? n : fallback;
}

FlashProfile profile(const std::string &spec)
{
    FlashProfile p;
    std::string error;
    EXPECT_TRUE(flash_profile_parse(spec, p, error)) << error;
    return p;
}

// mt19937_64's output is fixed by the standard; a seed names the same pair everywhere.
struct Rng {
    explicit Rng(uint64_t seed) : gen(seed * 0x9E3779B97F4A7C15ull + 29) {}
    size_t range(size_t lo, size_t hi) { return lo + size_t(gen() % (hi - lo + 1)); }
    Bytes bytes(size_t n)
    {
        Bytes v(n);
        for (auto &b : v)
            b = static_cast<uint8_t>(gen() >> 40) & 0x7F;
        return v;
    }
    std::mt19937_64 gen;
};

struct SmallPair {
    Bytes oldImage, newImage, boot, nv1, nv2;
    std::string what;
};

// A small pair: a firmware update, an identical pair, a shifted one or unrelated images, with
// a boot image and NV files in some of them.
SmallPair smallPair(uint64_t seed)
{
    Rng rng(seed);
    SmallPair p;
    const size_t size = rng.range(0, 3) == 0 ? rng.range(200, 5000) : rng.range(5000, 90000);
    switch (seed % 4) {
    case 0:
    case 1: {
        Samples::FirmwarePair fp = Samples::makePair(seed, size, rng.range(0, 3) == 0);
        p.oldImage = std::move(fp.oldImage);
        p.newImage = std::move(fp.newImage);
        p.what = "update " + fp.description;
        break;
    }
    case 2: {
        p.oldImage = Samples::makeFirmware(seed, size);
        const size_t by = rng.range(1, size / 2);
        p.newImage.assign(p.oldImage.begin() + long(by), p.oldImage.end());
        const Bytes head = Samples::makeFirmware(seed + 1, rng.range(0, 3000));
        p.newImage.insert(p.newImage.begin(), head.begin(), head.end());
        p.what = "shifted";
        break;
    }
    default:
        p.oldImage = Samples::makeFirmware(seed, size);
        p.newImage = rng.range(0, 1) ? p.oldImage : rng.bytes(rng.range(200, size));
        p.what = p.newImage == p.oldImage ? "identical" : "unrelated";
        break;
    }
    for (Bytes *img : {&p.oldImage, &p.newImage})
        if (img->size() < 200)
            img->resize(200, 0x11);
    if (rng.range(0, 1))
        p.boot = Samples::makeFirmware(seed + 7, rng.range(1, 0x6000));
    if (rng.range(0, 1))
        p.nv1 = rng.bytes(rng.range(1, kZNvUsrSize));
    if (rng.range(0, 2) == 0)
        p.nv2 = Bytes(rng.range(1, kZNvAmtSize), 0xFF); // an erased NV area
    std::ostringstream s;
    s << "seed " << seed << " (" << p.what << ", old " << p.oldImage.size() << ", new "
      << p.newImage.size() << ", boot " << p.boot.size() << ", nv " << p.nv1.size() << "/"
      << p.nv2.size() << ")";
    p.what = s.str();
    return p;
}

// Cuts the power after every operation of every step and compares the steps that can end
// wrong with those the analysis calls unsafe. Returns the number of cuts made.
uint64_t bruteForce(DeviceCutReplay &replay, const std::string &context)
{
    const DeviceRunResult &r = replay.result();
    uint64_t cuts = 0;
    for (size_t i = 0; i < r.steps.size(); ++i) {
        const DeviceStep &st = r.steps[i];
        bool wrong = false;
        std::string why;
        for (uint64_t op = 1; op <= replay.operations(i) && !wrong; ++op, ++cuts)
            wrong = !replay.cutAndResume(i, op, &why);
        EXPECT_EQ(wrong, st.unsafe)
            << context << ": step " << i << " (" << st.what << ", " << st.partition << " 0x"
            << std::hex << st.addr << "+" << std::dec << st.len << ") "
            << (st.unsafe ? "called unsafe (" + st.reason + "), yet every cut resumes right"
                          : "called safe, yet a cut ends wrong: " + why);
    }
    return cuts;
}

struct Geometry {
    const char *spec;
};
const Geometry kGeometries[] = {{"nor-4k"}, {"nor-64k"}, {"erase_unit=1024,program_unit=512"}};

} // namespace

TEST(DeviceRun, TinyBlockPackageByHand)
{
    // KLM4410 method 0: a 5000-byte boot image and a 20481-byte image with no page of 0xFF,
    // so one "uboot" record and two "cpu" records.
    PackageBench bench;
    Bytes boot(5000), image(20481);
    for (size_t i = 0; i < boot.size(); ++i)
        boot[i] = static_cast<uint8_t>(i * 7 + 1);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>((i / 3) % 200);
    const Built b = bench.build({false, 0}, Bytes(), image, boot);
    ASSERT_EQ(b.error, "");
    DeviceRunResult r;
    std::string error;
    ASSERT_TRUE(device_run(b.pkg.data(), b.pkg.size(), b.inputs(profile("nor-4k"), true), r, error))
        << error;
    ASSERT_TRUE(r.completed);
    ASSERT_EQ(r.steps.size(), 3u);
    // uboot: 5000 bytes = units 0 and 1; 19 full pages and one of 136 bytes; the second unit
    // keeps its last 3192 bytes (read before the erase).
    const DeviceImageResult &ub = r.images[0];
    EXPECT_EQ(ub.partition, "uboot");
    EXPECT_EQ(ub.sectorsErased, 2u);
    EXPECT_EQ(ub.bytesProgrammed, 20u * 256);
    EXPECT_EQ(ub.bytesRead, 4096u * 2 - 5000);
    EXPECT_NEAR(ub.ms, 2 * 45 + 20 * 0.7 + 3192 / 50000.0, 1e-9);
    EXPECT_EQ(ub.matches, 1);
    // cpu: 20480 bytes = 5 units of 16 pages, then 1 byte = 1 unit, 1 page.
    const DeviceImageResult &cpu = r.images[1];
    EXPECT_EQ(cpu.partition, "cpu");
    EXPECT_EQ(cpu.addr, kKCpuAddr);
    EXPECT_EQ(cpu.size, 20481u);
    EXPECT_EQ(cpu.steps, 2u);
    EXPECT_EQ(cpu.sectorsErased, 6u);
    EXPECT_EQ(cpu.bytesProgrammed, 81u * 256);
    EXPECT_EQ(cpu.bytesMoved, 0u);
    EXPECT_EQ(cpu.maxEraseCount, 1u);
    EXPECT_EQ(cpu.bytesRead, 4095u);
    EXPECT_EQ(cpu.matches, 1);
    // The loader's RAM for a record stored alone: its data, the new block, one decoder's
    // probabilities (5228 bytes) and the erase-unit buffer.
    PackageInfo info;
    std::vector<std::string> findings;
    ASSERT_TRUE(package_read(b.pkg.data(), b.pkg.size(), info, findings, 0));
    EXPECT_EQ(cpu.peakRam, info.records[1].dataLen + 20480u + 5228u + 4096u);
    EXPECT_EQ(r.total.sectorsErased, 8u);
    EXPECT_EQ(r.total.bytesProgrammed, 101u * 256);
    EXPECT_EQ(r.total.matches, 1);
    // Nothing is read from the flash: every step is safe.
    EXPECT_EQ(r.total.unsafeSteps, 0u);

    // A 64 KiB erase unit: the image's two records share one unit, so it is erased twice.
    ASSERT_TRUE(device_run(b.pkg.data(), b.pkg.size(), b.inputs(profile("nor-64k"), false), r,
                           error));
    EXPECT_EQ(r.images[1].sectorsErased, 2u);
    EXPECT_EQ(r.images[1].maxEraseCount, 2u);
}

TEST(DeviceRun, InplaceFiguresAgreeWithTheSimulator)
{
    const Samples::FirmwarePair fp = Samples::makePair(11, 100000);
    Bytes patch;
    ASSERT_EQ(sw_bsdiff_new_mem(fp.oldImage.data(), int64_t(fp.oldImage.size()), fp.newImage.data(),
                                int64_t(fp.newImage.size()), patch),
              0);
    InplaceApplyStats stats;
    Bytes rebuilt;
    std::string error;
    ASSERT_TRUE(apply_inplace_patch(fp.oldImage.data(), fp.oldImage.size(), fp.newImage.size(),
                                    patch.data(), patch.size(), rebuilt, error, &stats));
    DeviceRunResult r;
    ASSERT_TRUE(inplace_device_run(fp.oldImage.data(), fp.oldImage.size(), fp.newImage.size(),
                                   patch.data(), patch.size(), 0, profile("nor-4k"), r, error))
        << error;
    EXPECT_EQ(r.total.bytesMoved, stats.movedBytes);
    EXPECT_EQ(r.steps.size(), stats.windows + stats.moves);
    size_t windows = 0;
    for (const DeviceStep &s : r.steps)
        windows += s.kind == DeviceStepKind::Window;
    EXPECT_EQ(windows, stats.windows);
    // Each window rewrites its 7 units; each move its units.
    uint64_t erases = 0;
    for (const DeviceStep &s : r.steps)
        erases += s.len == 0 ? 0 : (s.addr + s.len - 1) / 4096 - s.addr / 4096 + 1;
    EXPECT_EQ(r.total.sectorsErased, erases);
}

TEST(DeviceRun, FlashProfilesAndOverrides)
{
    FlashProfile p;
    std::string error;
    ASSERT_TRUE(flash_profile_parse("nor-64k,erase_ms=200,program_unit=0x100", p, error)) << error;
    EXPECT_EQ(p.name, "nor-64k+");
    EXPECT_EQ(p.eraseUnit, 65536u);
    EXPECT_EQ(p.programUnit, 256u);
    EXPECT_EQ(p.eraseMs, 200);
    ASSERT_TRUE(flash_profile_parse("erase_unit=8K,read_mbps=12.5", p, error)) << error;
    EXPECT_EQ(p.eraseUnit, 8192u);
    EXPECT_EQ(p.readMBps, 12.5);
    for (const char *bad : {"nor-9k", "erase_unit=3000", "erase_unit=128", "program_unit=8192",
                            "erase_ms=0", "erase_ms=-1", "read_mbps=nan", "bogus=1", "nor-4k,",
                            "nor-4k,nor-64k", "erase_unit=", "program_ms=1e9"})
        EXPECT_FALSE(flash_profile_parse(bad, p, error)) << bad;
}

TEST(DeviceRun, HostilePackagesFailCleanly)
{
    PackageBench bench;
    const Samples::FirmwarePair fp = Samples::makePair(3, 40000);
    const Built b = bench.build({false, 3}, fp.oldImage, fp.newImage);
    ASSERT_EQ(b.error, "");
    const DeviceRunInputs in = b.inputs(profile("nor-4k"), true);
    DeviceRunResult r;
    std::string error;
    // Every truncation and a flipped byte at many places: a clear error or a run, never a crash.
    for (size_t cut = 0; cut < b.pkg.size(); cut += 97)
        device_run(b.pkg.data(), cut, in, r, error);
    for (size_t at = 0; at < b.pkg.size(); at += 41) {
        Bytes bad = b.pkg;
        bad[at] ^= 0x5A;
        device_run(bad.data(), bad.size(), in, r, error);
    }
    // A header that names a huge image is refused before anything of that size is made.
    for (const Method &m : {Method{false, 3}, Method{false, 4}}) {
        const Built big = bench.build(m, fp.oldImage, fp.newImage);
        ASSERT_EQ(big.error, "");
        Bytes bad = big.pkg;
        for (int i = 0; i < 4; ++i)
            bad[24 + i] = 0xFF; // new image size
        EXPECT_FALSE(device_run(bad.data(), bad.size(), big.inputs(profile("nor-4k"), false), r,
                                error));
        EXPECT_NE(error.find("does not fit"), std::string::npos) << error;
    }
    DeviceRunInputs noOld = in;
    noOld.oldImage = DeviceImage();
    EXPECT_FALSE(device_run(b.pkg.data(), b.pkg.size(), noOld, r, error));
    EXPECT_NE(error.find("old image"), std::string::npos) << error;
    // Another old image: the loader checks its CRC-32 and writes nothing.
    Bytes other = b.oldImage;
    other[200] ^= 1;
    DeviceRunInputs wrongOld = in;
    wrongOld.oldImage.data = other.data();
    ASSERT_TRUE(device_run(b.pkg.data(), b.pkg.size(), wrongOld, r, error)) << error;
    EXPECT_FALSE(r.completed);
    EXPECT_EQ(r.total.matches, 0);
    EXPECT_TRUE(r.steps.empty());
}

TEST(PowerCuts, BruteForceOnSmallPairsOfEveryMethod)
{
    const long pairs = envNumber("TESSEL_POWERCUT_PAIRS", sanitized() ? 12 : 200);
    const long first = envNumber("TESSEL_POWERCUT_FIRST", 1);
    PackageBench bench;
    uint64_t cuts = 0, packages = 0, unsafe = 0, steps = 0;
    for (long seed = first; seed < first + pairs; ++seed) {
        const SmallPair p = smallPair(uint64_t(seed));
        const Geometry &g = kGeometries[seed % 3];
        for (const Method &m : kMethods) {
            const Built b = bench.build(m, p.oldImage, p.newImage, p.boot, p.nv1, p.nv2);
            const std::string context = p.what + ", " + methodName(m) + ", flash " + g.spec;
            if (!b.error.empty())
                continue; // a pair a method cannot take (a block over its size limit)
            DeviceCutReplay replay;
            std::string error;
            ASSERT_TRUE(replay.load(b.pkg.data(), b.pkg.size(), b.inputs(profile(g.spec), true),
                                    error))
                << context << ": " << error;
            EXPECT_EQ(replay.result().total.matches, 1) << context;
            cuts += bruteForce(replay, context);
            ++packages;
            steps += replay.result().steps.size();
            unsafe += replay.result().total.unsafeSteps;
            if (HasFailure())
                return;
        }
    }
    std::printf("%ld pairs, %llu packages, %llu steps (%llu unsafe), %llu power cuts\n", pairs,
                (unsigned long long)packages, (unsigned long long)steps,
                (unsigned long long)unsafe, (unsigned long long)cuts);
    EXPECT_GT(unsafe, 0u);
    EXPECT_LT(unsafe, steps);
}

TEST(PowerCuts, BruteForceOnALargeInplacePair)
{
    if (sanitized())
        GTEST_SKIP() << "the small pairs cover the sanitizer run";
    PackageBench bench;
    const Samples::FirmwarePair fp = Samples::makePair(77, 320 * 1024);
    // Default packages (mostly unsafe steps) and power-safe ones (every cut of every step
    // must resume right).
    for (const bool safe : {false, true})
        for (const Method &m : {Method{false, 3}, Method{true, 3}}) {
            const Built b = bench.build(m, fp.oldImage, fp.newImage, Bytes(), Bytes(), Bytes(),
                                        safe);
            ASSERT_EQ(b.error, "");
            DeviceCutReplay replay;
            std::string error;
            ASSERT_TRUE(replay.load(b.pkg.data(), b.pkg.size(),
                                    b.inputs(profile("nor-4k"), true), error))
                << error;
            const uint64_t cuts =
                bruteForce(replay, "large pair, " + methodName(m) + (safe ? ", power-safe" : ""));
            EXPECT_EQ(replay.result().total.unsafeSteps == 0, safe);
            std::printf("%s%s: %zu steps, %llu unsafe, %llu power cuts\n", methodName(m).c_str(),
                        safe ? " power-safe" : "", replay.result().steps.size(),
                        (unsigned long long)replay.result().total.unsafeSteps,
                        (unsigned long long)cuts);
        }
}

TEST(PowerSafe, PatchesHaveNoUnsafeStepAndSurviveEveryCut)
{
    const long pairs = envNumber("TESSEL_POWERCUT_PAIRS", sanitized() ? 12 : 200);
    const long first = envNumber("TESSEL_POWERCUT_FIRST", 1);
    InplaceOptions options;
    options.powerSafe = true;
    options.threads = 1;
    uint64_t defaultSize = 0, safeSize = 0;
    for (long seed = first; seed < first + pairs; ++seed) {
        const SmallPair p = smallPair(uint64_t(seed));
        Bytes patch, plain;
        ASSERT_EQ(sw_bsdiff_new_mem(p.oldImage.data(), int64_t(p.oldImage.size()),
                                    p.newImage.data(), int64_t(p.newImage.size()), patch, options),
                  0)
            << p.what;
        ASSERT_EQ(sw_bsdiff_new_mem(p.oldImage.data(), int64_t(p.oldImage.size()),
                                    p.newImage.data(), int64_t(p.newImage.size()), plain),
                  0);
        defaultSize += plain.size();
        safeSize += patch.size();
        Bytes rebuilt;
        std::string error;
        ASSERT_TRUE(apply_inplace_patch(p.oldImage.data(), p.oldImage.size(), p.newImage.size(),
                                        patch.data(), patch.size(), rebuilt, error))
            << p.what << ": " << error;
        ASSERT_EQ(rebuilt, p.newImage) << p.what;
        // Safe on every flash erased in 4 KiB units or less.
        for (const char *spec : {"nor-4k", "erase_unit=1024,program_unit=256"}) {
            DeviceCutReplay replay;
            ASSERT_TRUE(replay.loadInplace(p.oldImage.data(), p.oldImage.size(), p.newImage.size(),
                                           patch.data(), patch.size(), 0x40000, profile(spec),
                                           error))
                << p.what << ": " << error;
            EXPECT_EQ(replay.result().total.unsafeSteps, 0u) << p.what << ", flash " << spec;
            bruteForce(replay, p.what + ", power-safe, flash " + spec);
            if (HasFailure())
                return;
        }
    }
    std::printf("%ld pairs: default patches %llu bytes, power-safe %llu bytes\n", pairs,
                (unsigned long long)defaultSize, (unsigned long long)safeSize);
}
