// Each input of a build is opened at most twice (read once; the read-back verification reads
// it again), and a file that changes while a build runs gives a package of one whole content of
// it or none.
#include "builder_test_util.h"

#include "deltamaker/builder/fota_log_p.h"
#include "deltamaker/samples/board_samples.h"

#include <map>

#include <fcntl.h>
#include <sys/inotify.h>
#include <unistd.h>

using namespace BuilderTest;

namespace detail = deltamaker::detail;

namespace {

// Counts the opens of files by any code, through the kernel's inotify events.
class OpenCounter {
public:
    OpenCounter() : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}
    ~OpenCounter()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    bool watch(const std::string &path)
    {
        const int wd = ::inotify_add_watch(fd_, path.c_str(), IN_OPEN);
        if (wd < 0)
            return false;
        paths_[wd] = path;
        return true;
    }
    // Opens of each watched path since the watch was added.
    std::map<std::string, int> counts()
    {
        alignas(inotify_event) char buf[64 * 1024];
        for (;;) {
            const ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n <= 0)
                break;
            for (ssize_t at = 0; at < n;) {
                const auto *e = reinterpret_cast<const inotify_event *>(buf + at);
                if (e->mask & IN_OPEN)
                    ++counts_[paths_[e->wd]];
                at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
            }
        }
        return counts_;
    }
    bool ok() const { return fd_ >= 0; }

private:
    int fd_;
    std::map<int, std::string> paths_;
    std::map<std::string, int> counts_;
};

class BuildInputs : public FolderTest {
protected:
    void SetUp() override
    {
        FolderTest::SetUp();
        std::vector<uint8_t> t;
        std::string error;
        ASSERT_TRUE(Samples::makePartitionTable({{"cpu1", 0x8000, 0x100000}, {"data_ota", 0x108000, 0x80000},
                                                 {"nv_usr", 0x188000, 0x8000}, {"nv_amt", 0x190000, 0x4000}},
                                                t, error));
        zTable = file("zpart.bin", t);
        ASSERT_TRUE(Samples::makePartitionTable({{"uboot", 0, 0x40000}, {"cpu", 0x40000, 0x300000}}, t, error));
        kTable = file("kpart.bin", t);
    }
    void TearDown() override { detail::set_build_step_hook(nullptr); }
    // One case per layout: the request and the images it is built from.
    struct Case {
        const char *name;
        bool zn;
        int method;
        bool boot = false;
        bool nv = false;
        bool old = true;
    };
    PackRequest requestFor(const Case &c, const std::string &out)
    {
        return request(c.method, c.zn ? zTable : kTable, newPath, c.old ? oldPath : "", out, c.boot ? bootPath : "",
                       c.nv ? nv1Path : "", c.nv ? nv2Path : "");
    }
    // Writes the inputs of a case: an update pair of about 60 KB, a boot image, NV files.
    void writeInputs(const Case &c)
    {
        const uint8_t code = c.method == 2 ? 0x82 : 0x42;
        oldImage = c.zn ? zn3150Image(1, 60000, "1.0.0") : klm4410Image(1, 60000, "K1", code);
        newImage = oldImage;
        for (size_t i = 300; i < newImage.size() - 200; i += 4001)
            newImage[i] ^= 0x33;
        if (c.zn)
            Samples::stampZn3150(newImage, "1.0.1");
        else
            Samples::stampKlm4410(newImage, "K2", code);
        oldPath = file("old.bin", oldImage);
        newPath = file("new.bin", newImage);
        bootPath = file("boot.bin", noise(2, 3000, 3));
        nv1Path = file("nv1.bin", noise(3, 5000, 3));
        nv2Path = file("nv2.bin", noise(4, 700, 3));
    }
    static std::vector<Case> cases()
    {
        return {{"Z1", true, 1, true, true},      {"Z3", true, 3},
                {"K0", false, 0, true, false, true}, {"K1", false, 1, true},
                {"K2", false, 2, true},           {"K3", false, 3, true},
                {"K4", false, 4, true, false, true}};
    }

    SinkRecorder sink;
    std::string zTable, kTable, oldPath, newPath, bootPath, nv1Path, nv2Path;
    std::vector<uint8_t> oldImage, newImage;
};

TEST_F(BuildInputs, EachInputIsOpenedAtMostTwice)
{
    for (const Case &c : cases()) {
        SCOPED_TRACE(c.name);
        writeInputs(c);
        const std::string out = path("out.pkg");
        const PackRequest req = requestFor(c, out);
        OpenCounter opens;
        ASSERT_TRUE(opens.ok());
        std::vector<std::string> inputs = {c.zn ? zTable : kTable, newPath};
        for (const char *p : {req.old_path, req.boot_path, req.nv1_path, req.nv2_path})
            if (p[0])
                inputs.push_back(p);
        for (const std::string &p : inputs)
            ASSERT_TRUE(opens.watch(p)) << p;
        ASSERT_EQ(fota_make_package(req), 0) << sink.joined();
        const std::map<std::string, int> counts = opens.counts();
        for (const std::string &p : inputs) {
            const auto it = counts.find(p);
            const int n = it == counts.end() ? 0 : it->second;
            EXPECT_GE(n, 1) << p;
            EXPECT_LE(n, 2) << p << ": read once by the build, once by the verification";
        }
    }
}

// The new image (or the old one) is changed at a step of the build: replaced by rename, changed
// in place where the checks did not look, changed in its first bytes, or cut short. The build
// either fails and leaves no package, or its package is the one built from a single whole
// content of the file, the one it has when the build ends: never a header of one content over
// blocks of another.
TEST_F(BuildInputs, AFileChangedDuringTheBuildGivesOneWholeContentOrNothing)
{
    enum Change { Rename, Middle, Head, Truncate };
    const char *const steps[] = {"inputs checked", "inputs read", "package written"};
    // Expected: 1 the package of the contents after the change; -1 refused by the read-back
    // verification, which reads the file again; -2 refused when the file is read whole. Rows
    // by change, columns by step.
    const int expected[4][3] = {
        {-1, -1, -1}, // the build keeps the file it opened; the verification sees the new one
        {1, -1, -1},  // read after the change; or read before it, and the verification differs
        {-2, -1, -1}, // the first bytes differ from those the checks saw
        {-2, -1, -1}, // the size differs from the size the checks saw
    };
    const auto change = [](Change how, const std::string &p, std::vector<uint8_t> bytes) {
        switch (how) {
        case Rename:
            bytes[bytes.size() / 2] ^= 0x5A;
            writeBytes(p + ".swap", bytes);
            ASSERT_EQ(::rename((p + ".swap").c_str(), p.c_str()), 0);
            break;
        case Middle:
        case Head: {
            const size_t at = how == Middle ? bytes.size() / 2 : 100;
            const uint8_t b = static_cast<uint8_t>(bytes[at] ^ 0x5A);
            const int fd = ::open(p.c_str(), O_WRONLY);
            ASSERT_GE(fd, 0);
            ASSERT_EQ(::pwrite(fd, &b, 1, static_cast<off_t>(at)), 1);
            ::close(fd);
            break;
        }
        case Truncate:
            ASSERT_EQ(::truncate(p.c_str(), static_cast<off_t>(bytes.size() - 100)), 0);
            break;
        }
    };
    const std::string out = path("out.pkg");
    for (const Case &c : cases()) {
        for (const bool changeOld : {false, true}) {
            if (changeOld && !c.old)
                continue;
            writeInputs(c);
            const std::string target = changeOld ? oldPath : newPath;
            const std::vector<uint8_t> original = changeOld ? oldImage : newImage;
            const PackRequest req = requestFor(c, out);
            ASSERT_EQ(fota_make_package(req), 0) << c.name << sink.joined();
            const std::vector<uint8_t> before = readBytes(out);
            for (int how = Rename; how <= Truncate; ++how) {
                // The package of the changed contents, where the change leaves a buildable file.
                std::vector<uint8_t> after;
                if (how == Middle) {
                    change(Middle, target, original);
                    std::remove(out.c_str());
                    ASSERT_EQ(fota_make_package(req), 0) << sink.joined();
                    after = readBytes(out);
                    writeBytes(target, original);
                }
                for (int s = 0; s < 3; ++s) {
                    SCOPED_TRACE(std::string(c.name) + (changeOld ? " old" : " new") + " change " +
                                 std::to_string(how) + " at " + steps[s]);
                    writeBytes(target, original);
                    std::remove(out.c_str());
                    detail::set_build_step_hook([&, s, how](const char *step) {
                        if (std::string(step) == steps[s])
                            change(static_cast<Change>(how), target, original);
                    });
                    sink.lines.clear();
                    const int rc = fota_make_package(req);
                    detail::set_build_step_hook(nullptr);
                    if (expected[how][s] == 1) {
                        ASSERT_EQ(rc, 0) << sink.joined();
                        EXPECT_TRUE(readBytes(out) == after);
                        EXPECT_FALSE(after == before);
                        continue;
                    }
                    EXPECT_EQ(rc, -1);
                    EXPECT_FALSE(exists(out));
                    if (expected[how][s] == -2)
                        EXPECT_TRUE(sink.has(1, std::string("the ") + (changeOld ? "old" : "new") + " image " + target +
                                                    " changed while the build read it\n"))
                            << sink.joined();
                    else
                        EXPECT_EQ(sink.lines.back().second.rfind("package verification failed: ", 0), 0u)
                            << sink.joined();
                }
            }
            writeBytes(target, original);
        }
    }
}

} // namespace
