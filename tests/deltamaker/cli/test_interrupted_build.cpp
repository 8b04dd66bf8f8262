// A build of the real bin/deltamaker interrupted mid-way: SIGINT, SIGTERM and SIGHUP leave no
// file behind and end the process with the signal; what a kill -9 leaves is removed by the
// next build to the same output, while the files of a build that still runs are left alone.
#include "deltamaker/samples/board_samples.h"
#include "tests/deltamaker/builder/builder_test_util.h"
#include "tests/support/test_paths.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <spawn.h>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

using namespace BuilderTest;

namespace {

class InterruptedBuild : public FolderTest {
protected:
    void SetUp() override
    {
        FolderTest::SetUp();
        std::vector<uint8_t> t;
        std::string error;
        ASSERT_TRUE(Samples::makePartitionTable({{"uboot", 0, 0x40000}, {"cpu", 0x40000, 0x2000000}}, t, error));
        file("part.bin", t);
        // A pair large enough that its in-place build is still running when the signal comes.
        const size_t size = std::getenv("TESSEL_SANITIZE") ? (4u << 20) : (12u << 20);
        std::vector<uint8_t> old = noise(1, size, 3);
        std::vector<uint8_t> image = old;
        for (size_t i = 5000; i < image.size(); i += 7919)
            image[i] ^= 0x11;
        Samples::stampKlm4410(old, "K1", 0x42);
        Samples::stampKlm4410(image, "K2", 0x42);
        file("big_old.bin", old);
        file("big_new.bin", image);
        std::vector<uint8_t> small = klm4410Image(2, 30000, "K1", 0x42);
        file("small_old.bin", small);
        small[3000] ^= 1;
        Samples::stampKlm4410(small, "K2", 0x42);
        file("small_new.bin", small);
        inputs = entries();
    }
    QStringList entries() const
    {
        return QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }
    // The build's own files for `output` (lock and hidden package file).
    QStringList buildFiles(const std::string &output) const
    {
        QStringList out;
        for (const QString &e : entries())
            if (e.startsWith(QString::fromStdString("." + output + ".")))
                out << e;
        return out;
    }
    // Starts bin/deltamaker building `pair` to `output`, with SIGINT, SIGTERM and SIGHUP at their
    // default actions whatever this process has.
    pid_t start(const std::string &pair, const std::string &output, const std::string &log)
    {
        const std::string bin = (TestPaths::binDir() + "/deltamaker").toStdString();
        std::vector<std::string> args = {bin,         "build",     "--quiet",           "--method", "3",
                                         "--partition", path("part.bin"), "--old", path(pair + "_old.bin"),
                                         "--new",     path(pair + "_new.bin"), "--output", path(output)};
        std::vector<char *> argv;
        for (std::string &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, path(log).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGINT);
        sigaddset(&defaults, SIGTERM);
        sigaddset(&defaults, SIGHUP);
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigdefault(&attr, &defaults);
        posix_spawnattr_setsigmask(&attr, &none);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
        pid_t pid = -1;
        const int rc = posix_spawn(&pid, bin.c_str(), &files, &attr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&files);
        posix_spawnattr_destroy(&attr);
        return rc == 0 ? pid : -1;
    }
    // Waits until the build has its hidden package file, the sign that it has begun its work.
    bool midBuild(const std::string &output)
    {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < until) {
            for (const QString &e : buildFiles(output)) {
                if (e.endsWith(".tmp")) {
                    // Into its work on the images.
                    std::this_thread::sleep_for(std::chrono::milliseconds(50));
                    return true;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return false;
    }
    static int waitFor(pid_t pid)
    {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        return status;
    }
    std::string readLog(const std::string &log) const
    {
        std::ifstream f(path(log));
        return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    }
    // Runs a build to the end: its exit code and output.
    int run(const std::string &pair, const std::string &output, std::string &log)
    {
        const pid_t pid = start(pair, output, "run.log");
        if (pid < 0)
            return -1;
        const int status = waitFor(pid);
        log = readLog("run.log");
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    QStringList inputs;
};

TEST_F(InterruptedBuild, EachSignalLeavesNothingAndEndsTheProcessWithIt)
{
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(strsignal(sig));
        const pid_t pid = start("big", "m.pkg", "build.log");
        ASSERT_GT(pid, 0);
        ASSERT_TRUE(midBuild("m.pkg"));
        ASSERT_EQ(::kill(pid, sig), 0);
        const int status = waitFor(pid);
        ASSERT_TRUE(WIFSIGNALED(status)) << "exit " << WEXITSTATUS(status) << "\n" << readLog("build.log");
        EXPECT_EQ(WTERMSIG(status), sig);
        ::unlink(path("build.log").c_str());
        EXPECT_EQ(entries(), inputs) << "nothing is left: " << entries().join(' ').toStdString();
    }
}

TEST_F(InterruptedBuild, WhatAKilledBuildLeavesIsRemovedByTheNextBuildToTheSameOutput)
{
    const pid_t pid = start("big", "m.pkg", "build.log");
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(midBuild("m.pkg"));
    ASSERT_EQ(::kill(pid, SIGKILL), 0);
    waitFor(pid);
    const QStringList left = buildFiles("m.pkg");
    ASSERT_EQ(left.size(), 2) << left.join(' ').toStdString(); // the lock and the package file
    // A file of the same kind whose maker still runs (this test) is not the next build's to take.
    char alive[64];
    std::snprintf(alive, sizeof alive, ".m.pkg.%08x12345678.tmp", static_cast<unsigned>(::getpid()));
    file(alive, {1, 2, 3});

    std::string log;
    ASSERT_EQ(run("small", "m.pkg", log), 0) << log;
    for (const QString &f : left) {
        if (f.endsWith(".tmp")) {
            EXPECT_NE(log.find("removed " + path(f.toStdString()) + ", left behind by an interrupted build"),
                      std::string::npos)
                << log;
        }
    }
    QStringList expected = inputs;
    expected << "build.log" << "m.pkg" << "run.log" << alive;
    expected.sort();
    EXPECT_EQ(entries(), expected);
}

TEST_F(InterruptedBuild, TheFilesOfARunningBuildAreLeftAlone)
{
    const pid_t pid = start("big", "m.pkg", "build.log");
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(midBuild("m.pkg"));
    const QStringList running = buildFiles("m.pkg");
    std::string log;
    EXPECT_EQ(run("small", "m.pkg", log), 1);
    EXPECT_NE(log.find("is being written by another build"), std::string::npos) << log;
    EXPECT_EQ(run("small", "other.pkg", log), 0) << log;
    EXPECT_EQ(buildFiles("m.pkg"), running) << "the running build keeps its files";
    const int status = waitFor(pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << readLog("build.log");
    EXPECT_TRUE(buildFiles("m.pkg").isEmpty());
    EXPECT_TRUE(QFile::exists(QString::fromStdString(path("m.pkg"))));
}

} // namespace
