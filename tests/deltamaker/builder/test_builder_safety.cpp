// Inputs that must fail cleanly, partition bounds, message order and the way the package
// reaches its output path.
#include "builder_test_util.h"

#include "deltamaker/builder/fota.h"
#include "deltamaker/samples/board_samples.h"
#include "deltamaker/verify/package_verify.h"

#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

#include <QDir>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace BuilderTest;

namespace {

constexpr size_t kBlock = 20480;

class BuilderSafety : public FolderTest {
protected:
    std::string table(const std::string &name, const std::vector<Samples::PartitionSpec> &parts)
    {
        std::vector<uint8_t> t;
        std::string error;
        EXPECT_TRUE(Samples::makePartitionTable(parts, t, error)) << error;
        return file(name, t);
    }
    std::string zTable(uint32_t nvUsr = 0x8000)
    {
        return table("zpart.bin", {{"cpu1", 0x8000, 0x100000}, {"data_ota", 0x108000, 0x80000},
                                   {"nv_usr", 0x188000, nvUsr}, {"nv_amt", 0x190000, 0x4000}});
    }
    std::string kTable(std::vector<Samples::PartitionSpec> parts = {{"uboot", 0, 0x40000}, {"cpu", 0x40000, 0x300000}})
    {
        return table("kpart.bin", parts);
    }
    std::vector<uint8_t> zImage(uint32_t seed, size_t size, const char *version)
    {
        return zn3150Image(seed, size, version);
    }
    std::vector<uint8_t> kImage(uint32_t seed, size_t size, const char *version, uint8_t code)
    {
        return klm4410Image(seed, size, version, code);
    }
    // A ZN3150 pair: new is old with a few bytes changed.
    void zPair(std::string &oldPath, std::string &newPath, size_t size = 30000)
    {
        std::vector<uint8_t> o = zImage(7, size, "1.0.0");
        std::vector<uint8_t> n = o;
        for (size_t i = 50; i + 24 < n.size(); i += 997)
            n[i] ^= 0x21;
        Samples::stampZn3150(n, "1.0.1");
        oldPath = file("old.bin", o);
        newPath = file("new.bin", n);
    }
    // Every entry of the folder, so that leftovers of a build show.
    QStringList entries() const
    {
        return QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }
    size_t errorIndex(const std::string &prefix) const
    {
        for (size_t i = 0; i < sink.lines.size(); ++i)
            if (sink.lines[i].second.rfind(prefix, 0) == 0)
                return i;
        return std::string::npos;
    }

    SinkRecorder sink;
};

TEST_F(BuilderSafety, NvFilesMustFitTheirPartitions)
{
    std::string oldPath, newPath;
    zPair(oldPath, newPath);
    const std::string out = path("z.pkg");
    const std::string part = zTable(0x8000);
    const std::string over = file("nv_over.bin", noise(3, 0x8001, 2));
    EXPECT_EQ(fota_make_package(request(1, part, newPath, oldPath, out, "", over)), -1);
    EXPECT_TRUE(sink.has(1, over + " is 0x8001 bytes, larger than its partition nv_usr of 0x8000 bytes\n")) << sink.joined();
    EXPECT_FALSE(sink.hasText("package verified\n"));
    EXPECT_FALSE(exists(out));
    const std::string over2 = file("nv2_over.bin", noise(4, 0x4001, 2));
    EXPECT_EQ(fota_make_package(request(1, part, newPath, oldPath, out, "", "", over2)), -1);
    EXPECT_TRUE(sink.has(1, over2 + " is 0x4001 bytes, larger than its partition nv_amt of 0x4000 bytes\n"));

    // Exactly the partition's size: every record stays inside it.
    sink.lines.clear();
    const std::string exact = file("nv_exact.bin", noise(5, 0x8000, 2));
    ASSERT_EQ(fota_make_package(request(1, part, newPath, oldPath, out, "", exact)), 0) << sink.joined();
    const std::vector<uint8_t> pkg = readBytes(out);
    const uint32_t records = le32(pkg, 16);
    size_t nv = 0;
    for (uint32_t i = 0; i < records; ++i) {
        const size_t rec = 64 + 112 * i;
        if (std::string(reinterpret_cast<const char *>(&pkg[rec])) != "nv_usr")
            continue;
        ++nv;
        EXPECT_LE(le32(pkg, rec + 16) + le32(pkg, rec + 28), 0x188000u + 0x8000u);
    }
    EXPECT_EQ(nv, 2u);

    // The verifier finds a record past its partition: the same package against a table whose
    // nv_usr is one byte smaller.
    PackageInputs in;
    in.partition = table("smaller.bin", {{"cpu1", 0x8000, 0x100000}, {"data_ota", 0x108000, 0x80000},
                                         {"nv_usr", 0x188000, 0x7FFF}, {"nv_amt", 0x190000, 0x4000}});
    in.oldImage = oldPath;
    in.newImage = newPath;
    in.nv1 = exact;
    const std::vector<std::string> findings = package_verify(pkg.data(), pkg.size(), in);
    bool outside = false;
    for (const std::string &f : findings)
        outside = outside || f == "record 3 (nv_usr block 1): flash range 0x18d000..0x190000 lies outside partition "
                                  "nv_usr (0x188000..0x18ffff)";
    EXPECT_TRUE(outside) << ::testing::PrintToString(findings);
    in.partition = part;
    EXPECT_TRUE(package_verify(pkg.data(), pkg.size(), in).empty());
}

TEST_F(BuilderSafety, Zn3150InPlaceRefusesInputsItWouldDrop)
{
    std::string oldPath, newPath;
    zPair(oldPath, newPath);
    const std::string out = path("z3.pkg");
    const std::string boot = file("boot.bin", noise(1, 1000, 2));
    const std::string nv = file("nv.bin", noise(2, 1000, 2));
    EXPECT_EQ(fota_make_package(request(3, zTable(), newPath, oldPath, out, boot, "", nv)), -1);
    EXPECT_TRUE(sink.has(1, "ZN3150 in-place packages (method 3) have no place for the boot image or NV files and "
                            "would ignore: boot image, second NV file. Leave them out or use method 1\n"))
        << sink.joined();
    EXPECT_FALSE(sink.hasText("Partition Init ok \n")) << "refused before any work";
    EXPECT_EQ(fota_make_package(request(3, zTable(), newPath, oldPath, out, "", nv)), -1);
    EXPECT_FALSE(exists(out));
    sink.lines.clear();
    EXPECT_EQ(fota_make_package(request(3, zTable(), newPath, oldPath, out)), 0) << sink.joined();
}

TEST_F(BuilderSafety, SuggestionsNameTheCallersMethodNames)
{
    std::string oldPath, newPath;
    zPair(oldPath, newPath);
    const std::string out = path("named.pkg");
    const std::string nv = file("nv.bin", noise(2, 1000, 2));
    const char *const names[5] = {nullptr, "Block delta package", "A/B package", "Delta package",
                                  "Compressed full package"};
    PackRequest req = request(3, zTable(), newPath, oldPath, out, "", nv);
    req.method_names = names;
    EXPECT_EQ(fota_make_package(req), -1);
    EXPECT_TRUE(sink.has(1, "ZN3150 in-place packages (\"Delta package\") have no place for the boot image or NV "
                            "files and would ignore: first NV file. Leave them out or press \"Block delta package\"\n"))
        << sink.joined();
    req = request(4, zTable(), newPath, oldPath, out);
    req.method_names = names;
    EXPECT_EQ(fota_make_package(req), -1);
    EXPECT_TRUE(sink.has(1, "ZN3150 images cannot be built as \"Compressed full package\": ZN3150 takes \"Block "
                            "delta package\" and \"Delta package\"\n"))
        << sink.joined();
    // A method without a name of the caller's keeps the command line's words.
    req = request(0, zTable(), newPath, oldPath, out);
    req.method_names = names;
    EXPECT_EQ(fota_make_package(req), -1);
    EXPECT_TRUE(sink.has(1, "ZN3150 images cannot be built with method 0: ZN3150 takes methods 1 and 3\n"))
        << sink.joined();
    EXPECT_FALSE(exists(out));
}

// Cheap lookups fail before any block is made, and a failing size check logs no verification.
TEST_F(BuilderSafety, ChecksComeBeforeWork)
{
    const std::string a = file("a.bin", kImage(1, 50000, "K1", 0x42));
    const std::string b = file("b.bin", kImage(2, 50000, "K2", 0x42));
    const std::string out = path("k.pkg");
    EXPECT_EQ(fota_make_package(request(1, zTable(), b, a, out)), -1);
    EXPECT_EQ(sink.lines.back(), std::make_pair(1, std::string("Not Find The Part(cpu)\n"))) << sink.joined();
    EXPECT_FALSE(sink.hasText("package verified\n"));

    // The AB size check looks the boot partition up even without a boot image.
    sink.lines.clear();
    const std::string abA = file("abA.bin", kImage(3, 5000, "K1", 0x82));
    const std::string abB = file("abB.bin", kImage(4, 5000, "K2", 0x82));
    EXPECT_EQ(fota_make_package(request(2, kTable({{"cpu", 0x40000, 0x300000}}), abB, abA, out)), -1);
    EXPECT_TRUE(sink.has(1, "Not Find The Part(uboot)\n")) << sink.joined();
    EXPECT_FALSE(exists(out));
}

TEST_F(BuilderSafety, HugeSparseInputIsRefusedQuickly)
{
    const off_t size = sanitized() ? (off_t(300) << 20) : (off_t(3) << 30);
    const std::string huge = path("huge.bin");
    {
        const int fd = ::open(huge.c_str(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, size), 0);
        ::close(fd);
    }
    std::string oldPath, newPath;
    zPair(oldPath, newPath);
    const std::string out = path("z.pkg");
    struct rusage before;
    ::getrusage(RUSAGE_SELF, &before);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(fota_make_package(request(1, zTable(), huge, oldPath, out)), -1);
    char text[128];
    std::snprintf(text, sizeof text, "master part 0x100000 not enough, new file size:0x%x\n", static_cast<unsigned>(size));
    EXPECT_TRUE(sink.has(1, text)) << sink.joined();
    EXPECT_EQ(fota_make_package(request(1, zTable(), newPath, huge, out)), -1);
    EXPECT_EQ(fota_make_package(request(1, zTable(), newPath, oldPath, out, "", huge)), -1);
    EXPECT_EQ(fota_make_package(request(1, zTable(), newPath, oldPath, out, huge)), -1);
    EXPECT_EQ(fota_make_package(request(2, kTable(), huge, huge, out)), -1);
    EXPECT_EQ(fota_make_package(request(4, kTable(), file("k.bin", kImage(5, 3000, "K", 0x22)), "", out, huge)), -1);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    struct rusage after;
    ::getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(seconds, 5.0);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024) << "KiB of peak growth";
    EXPECT_FALSE(exists(out));
}

TEST_F(BuilderSafety, MissingInputIsNamedFirst)
{
    std::string oldPath, newPath;
    zPair(oldPath, newPath);
    const std::string missing = path("missing.bin");
    const std::string out = path("z.pkg");
    EXPECT_EQ(fota_make_package(request(1, zTable(), missing, oldPath, out)), -1);
    ASSERT_FALSE(sink.lines.empty());
    EXPECT_EQ(sink.lines.front(),
              std::make_pair(1, "cannot open the new image " + missing + ": No such file or directory\n"));
    EXPECT_TRUE(sink.has(1, "image type not match\n")) << "the lines after it stay";
    sink.lines.clear();
    EXPECT_EQ(fota_make_package(request(1, zTable(), newPath, oldPath, out, missing)), -1);
    EXPECT_EQ(sink.lines.front(),
              std::make_pair(1, "cannot open the boot image " + missing + ": No such file or directory\n"));
    EXPECT_FALSE(exists(out));
}

TEST_F(BuilderSafety, FoldersFifosAndDevicesAreRefusedAsInputs)
{
    std::string oldPath, newPath;
    zPair(oldPath, newPath);
    const std::string part = zTable();
    const std::string folder = path("folder");
    const std::string fifo = path("fifo");
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(folder)));
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string out = path("z.pkg");
    struct Special {
        std::string path, kind;
    };
    for (const Special &s : {Special{folder, "a folder"}, Special{fifo, "a FIFO"}, Special{"/dev/null", "a device"}}) {
        const struct {
            const char *what;
            PackRequest req;
        } cases[] = {
            {"partition table", request(1, s.path, newPath, oldPath, out)},
            {"boot image", request(1, part, newPath, oldPath, out, s.path)},
            {"old image", request(1, part, newPath, s.path, out)},
            {"new image", request(1, part, s.path, oldPath, out)},
            {"first NV file", request(1, part, newPath, oldPath, out, "", s.path)},
            {"second NV file", request(1, part, newPath, oldPath, out, "", "", s.path)},
        };
        for (const auto &c : cases) {
            SCOPED_TRACE(std::string(c.what) + " " + s.kind);
            sink.lines.clear();
            EXPECT_EQ(fota_make_package(c.req), -1);
            EXPECT_TRUE(sink.has(1, "the " + std::string(c.what) + " " + s.path + " is " + s.kind +
                                        ", not a regular file\n"))
                << sink.joined();
            EXPECT_FALSE(exists(out));
        }
    }
}

TEST_F(BuilderSafety, OutputThatIsNotAFileIsLeftAlone)
{
    std::string oldPath, newPath;
    zPair(oldPath, newPath);
    const std::string folder = path("out_folder");
    const std::string fifo = path("out_fifo");
    const std::string device = path("out_device"); // a link to a character device
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(folder)));
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(::symlink("/dev/null", device.c_str()), 0);
    const std::pair<std::string, std::string> outputs[] = {{folder, "a folder"}, {fifo, "a FIFO"}, {device, "a device"}};
    for (const auto &o : outputs) {
        sink.lines.clear();
        EXPECT_EQ(fota_make_package(request(1, zTable(), newPath, oldPath, o.first)), -1);
        EXPECT_TRUE(sink.has(1, "output " + o.first + " exists and is " + o.second +
                                    ", not a regular file: it is left alone\n"))
            << sink.joined();
    }
    struct stat st;
    ASSERT_EQ(::stat(folder.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    ASSERT_EQ(::stat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    ASSERT_EQ(::lstat(device.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(::stat("/dev/null", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
}

// The package is built beside the output and renamed into place: scratch files are gone after
// success and failure alike, an earlier package survives a failed build, and the mode is 0644
// less the umask.
TEST_F(BuilderSafety, PackageReachesItsOutputByRename)
{
    std::string oldPath, newPath;
    zPair(oldPath, newPath);
    const std::string part = zTable();
    const QStringList inputs = entries();
    const std::string out = path("z.pkg");
    const mode_t saved = ::umask(022);
    for (int method : {1, 3}) {
        ASSERT_EQ(fota_make_package(request(method, part, newPath, oldPath, out)), 0) << sink.joined();
        QStringList expected = inputs + QStringList{"z.pkg"};
        expected.sort();
        EXPECT_EQ(entries(), expected) << "no scratch file is left";
    }
    struct stat st;
    ASSERT_EQ(::stat(out.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    ::umask(077);
    ::unlink(out.c_str());
    ASSERT_EQ(fota_make_package(request(1, part, newPath, oldPath, out)), 0) << sink.joined();
    ASSERT_EQ(::stat(out.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ::umask(saved);

    // A failing build (in place, failing its size check) leaves the earlier package as it was.
    const std::vector<uint8_t> earlier = readBytes(out);
    const std::string tight = table("tight.bin", {{"cpu1", 0x8000, 0x8000}, {"data_ota", 0x108000, 0x100}});
    EXPECT_EQ(fota_make_package(request(3, tight, newPath, oldPath, out)), -1);
    EXPECT_TRUE(readBytes(out) == earlier);
    EXPECT_EQ(entries().size(), inputs.size() + 2) << entries().join(' ').toStdString();
}

// While another build holds the output, a second one fails instead of both claiming it.
TEST_F(BuilderSafety, OutputHeldByAnotherBuildIsRefused)
{
    std::string oldPath, newPath;
    zPair(oldPath, newPath);
    const std::string out = path("same.pkg");
    const std::string lock = path(".same.pkg.lock");
    const int fd = ::open(lock.c_str(), O_CREAT | O_RDWR, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    EXPECT_EQ(fota_make_package(request(1, zTable(), newPath, oldPath, out)), -1);
    EXPECT_TRUE(sink.has(1, "output " + out + " is being written by another build\n")) << sink.joined();
    EXPECT_FALSE(exists(out));
    ::close(fd);
    EXPECT_EQ(fota_make_package(request(1, zTable(), newPath, oldPath, out)), 0) << sink.joined();
    EXPECT_FALSE(exists(lock)) << "the lock goes with the build";
}

// Two builds on two threads: each fails or leaves its own verified package; the file in
// place is always one whole, sound package.
TEST_F(BuilderSafety, TwoBuildsToOneOutputAtOnce)
{
    std::string oldPath, newPath;
    zPair(oldPath, newPath, 60000);
    const std::string part = zTable();
    const std::string out = path("same.pkg");
    std::mutex lines;
    fota_set_log_sink([&](int, const char *) { std::lock_guard<std::mutex> hold(lines); });
    for (int round = 0; round < 4; ++round) {
        int rc[2] = {-1, -1};
        std::thread a([&] { rc[0] = fota_make_package(request(1, part, newPath, oldPath, out)); });
        std::thread b([&] { rc[1] = fota_make_package(request(3, part, newPath, oldPath, out)); });
        a.join();
        b.join();
        ASSERT_TRUE(rc[0] == 0 || rc[1] == 0);
        const std::vector<uint8_t> pkg = readBytes(out);
        PackageInputs in;
        in.partition = part;
        in.oldImage = oldPath;
        in.newImage = newPath;
        EXPECT_TRUE(package_verify(pkg.data(), pkg.size(), in).empty());
        EXPECT_TRUE((pkg[7] == 1 && rc[0] == 0) || (pkg[7] == 3 && rc[1] == 0)) << "the package in place is one that succeeded";
    }
    fota_set_log_sink(nullptr);
    EXPECT_EQ(entries().size(), 4) << entries().join(' ').toStdString();
}

TEST_F(BuilderSafety, ShortLastBlockIsStoredWithoutItsOld)
{
    const std::string part = zTable();
    for (size_t tail : {size_t(1), size_t(17), size_t(55)}) {
        SCOPED_TRACE(tail);
        sink.lines.clear();
        std::vector<uint8_t> o = zImage(20, kBlock + 100, "1.0.0");
        std::vector<uint8_t> n(o.begin(), o.begin() + static_cast<std::ptrdiff_t>(kBlock + tail));
        n[10] ^= 1;
        if (n.size() >= 24)
            Samples::stampZn3150(n, "1.0.1");
        const std::string oldPath = file("old.bin", o);
        const std::string newPath = file("new.bin", n);
        const std::string out = path("short.pkg");
        ASSERT_EQ(fota_make_package(request(1, part, newPath, oldPath, out)), 0) << sink.joined();
        EXPECT_TRUE(sink.has(3, "block of cpu1 at 0x5000: its patch does not fit, stored compressed without the old block\n"))
            << sink.joined();
        const std::vector<uint8_t> pkg = readBytes(out);
        ASSERT_EQ(le32(pkg, 16), 2u);
        const size_t rec = 64 + 112;
        EXPECT_EQ(pkg[rec + 40], 0) << "type 0";
        EXPECT_EQ(le32(pkg, rec + 20), 0u) << "no old length";
        EXPECT_EQ(le32(pkg, rec + 28), tail);
        EXPECT_TRUE(std::all_of(&pkg[rec + 48], &pkg[rec + 80], [](uint8_t b) { return b == 0; }));
        EXPECT_EQ(pkg[64 + 40], 1) << "the first block is still patched";
    }
}

TEST_F(BuilderSafety, VersionTexts)
{
    const std::string part = zTable();
    const std::string out = path("v.pkg");
    std::vector<uint8_t> o = zImage(30, 30000, "1.0.0");
    std::vector<uint8_t> n = o;
    n[100] ^= 1;
    // 17 characters do not fit the 16-byte field.
    Samples::stampZn3150(n, "1.2.3-abcdefghijk");
    const std::string oldPath = file("old.bin", o);
    std::string newPath = file("new.bin", n);
    EXPECT_EQ(fota_make_package(request(1, part, newPath, oldPath, out)), -1);
    EXPECT_TRUE(sink.has(1, "version 1.2.3-abcdefghijk of " + newPath +
                                " has 17 characters, more than the 16 its header field holds\n"))
        << sink.joined();
    EXPECT_FALSE(exists(out));
    Samples::stampZn3150(n, "1.2.3-abcdefghij");
    newPath = file("new.bin", n);
    ASSERT_EQ(fota_make_package(request(1, part, newPath, oldPath, out)), 0) << sink.joined();

    // Not newer than the source: a warning, and the package is still built.
    for (const char *older : {"0.9.9", "1.0.0"}) {
        sink.lines.clear();
        Samples::stampZn3150(n, older);
        newPath = file("new.bin", n);
        ASSERT_EQ(fota_make_package(request(1, part, newPath, oldPath, out)), 0) << sink.joined();
        EXPECT_TRUE(sink.has(2, std::string("target version ") + older +
                                    " is not newer than source version 1.0.0: the package does not upgrade the device\n"))
            << sink.joined();
    }
    sink.lines.clear();
    Samples::stampZn3150(n, "1.0.10");
    Samples::stampZn3150(o, "1.0.9");
    ASSERT_EQ(fota_make_package(request(1, part, file("new.bin", n), file("old.bin", o), out)), 0);
    for (const auto &l : sink.lines)
        EXPECT_NE(l.first, 2) << l.second;

    // A ZN3150 image too short for its trailer says so.
    sink.lines.clear();
    const std::string tiny = file("tiny.bin", {1, 2, 3, 4});
    EXPECT_EQ(fota_make_package(request(1, part, tiny, tiny == oldPath ? "" : file("tiny_old.bin", {5, 6, 7, 8}), out)), -1);
    EXPECT_TRUE(sink.has(1, file("tiny_old.bin", {5, 6, 7, 8}) + " is 4 bytes, too short to carry a version (24 bytes)\n"))
        << sink.joined();
}

TEST_F(BuilderSafety, WholeImageOverTheDataAreaSaysSo)
{
    if (sanitized())
        GTEST_SKIP() << "4 MiB of compression is slow under the sanitizers";
    std::vector<uint8_t> img = noise(40, 0x400000 + 0x10000, 8);
    Samples::stampKlm4410(img, "K", 0x22);
    const std::string newPath = file("big.bin", img);
    EXPECT_EQ(fota_make_package(request(4, kTable({{"uboot", 0, 0x40000}, {"cpu", 0x40000, 0x1000000}}), newPath, "",
                                        path("w.pkg"))),
              -1);
    EXPECT_TRUE(sink.has(1, "compression of " + newPath +
                                " failed: the compressed image does not fit in the 0x400000 bytes left in the data area "
                                "(data area full)\n"))
        << sink.joined();
}

TEST_F(BuilderSafety, ProgressNamesEveryStage)
{
    std::string oldPath, newPath;
    zPair(oldPath, newPath, 70000);
    std::vector<std::pair<std::string, int>> seen;
    fota_set_progress_sink([&](const char *stage, int percent) { seen.emplace_back(stage, percent); });
    ASSERT_EQ(fota_make_package(request(1, zTable(), newPath, oldPath, path("p.pkg"))), 0) << sink.joined();
    ASSERT_EQ(fota_make_package(request(3, zTable(), newPath, oldPath, path("p.pkg"))), 0) << sink.joined();
    fota_set_progress_sink(nullptr);
    std::vector<std::string> stages;
    std::vector<int> blockPercents;
    int resolving = -2;
    for (const auto &s : seen) {
        EXPECT_TRUE(s.second >= -1 && s.second <= 100) << s.first << " " << s.second;
        if (stages.empty() || stages.back() != s.first)
            stages.push_back(s.first);
        if (s.first == "block patches")
            blockPercents.push_back(s.second);
        if (s.first == "in-place patch: resolving") {
            EXPECT_GT(s.second, resolving) << "percent only grows";
            resolving = s.second;
        }
    }
    EXPECT_EQ(stages, (std::vector<std::string>{"reading inputs", "block patches", "writing", "verifying", "done",
                                                "reading inputs", "in-place patch", "in-place patch: sorting",
                                                "in-place patch: matching", "in-place patch: resolving",
                                                "in-place patch: compressing", "in-place patch: self-check",
                                                "writing", "verifying", "done"}));
    EXPECT_EQ(blockPercents, (std::vector<int>{0, 25, 50, 75, 100}));
}

} // namespace

namespace {

// A file of 4 GiB and some bytes, sparse, starting with `head`.
void sparseFile(const std::string &path, const std::vector<uint8_t> &head, off_t size)
{
    writeBytes(path, head);
    ASSERT_EQ(::truncate(path.c_str(), size), 0);
}

// Sizes over 4 GiB are shown as they are, not cut to 32 bits.
TEST_F(BuilderSafety, SizesOver4GiBAreShownWhole)
{
    const off_t big = (off_t(1) << 32) + 0x10;
    std::string oldPath, newPath;
    zPair(oldPath, newPath);
    const std::string out = path("z.pkg");
    const std::string table = path("big_table.bin");
    sparseFile(table, readBytes(zTable()), big);
    EXPECT_EQ(fota_make_package(request(1, table, newPath, oldPath, out)), -1);
    EXPECT_TRUE(sink.has(1, "partition size 0x100000010 error\n")) << sink.joined();

    const std::string boot = path("big_boot.bin");
    sparseFile(boot, {1, 2, 3}, big);
    EXPECT_EQ(fota_make_package(request(1, zTable(), newPath, oldPath, out, boot)), -1);
    EXPECT_TRUE(sink.has(1, "boot file 0x100000010 too big than boot part 0x6000\n")) << sink.joined();

    const std::string bigNew = path("big_new.bin");
    sparseFile(bigNew, zImage(9, 100, "1.0.2"), big);
    EXPECT_EQ(fota_make_package(request(1, zTable(), bigNew, oldPath, out)), -1);
    EXPECT_TRUE(sink.has(1, "master part 0x100000 not enough, new file size:0x100000010\n")) << sink.joined();

    const std::string a = file("a.bin", kImage(1, 5000, "K1", 0x82));
    const std::string bigB = path("big_b.bin");
    sparseFile(bigB, kImage(2, 200, "K2", 0x82), big);
    EXPECT_EQ(fota_make_package(request(2, kTable(), bigB, a, out)), -1);
    EXPECT_TRUE(sink.has(1, "master part size 0x180000 not enough, firmware size:0x100000010\n")) << sink.joined();
    EXPECT_EQ(fota_make_package(request(2, kTable(), file("b.bin", kImage(2, 5000, "K2", 0x82)), a, out, boot)), -1);
    EXPECT_TRUE(sink.has(1, "boot size 0x100000010 too big\n")) << sink.joined();
    EXPECT_FALSE(exists(out));
}

} // namespace
