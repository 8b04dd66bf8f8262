// The builder inside a host process: its signal handlers are in place only while a build runs
// and leave the host's own in place around it, and a build can be asked to stop.
#include "builder_test_util.h"

#include "deltamaker/builder/fota_log_p.h"
#include "deltamaker/samples/board_samples.h"

#include <QDir>

#include <csignal>
#include <thread>

using namespace BuilderTest;

namespace detail = deltamaker::detail;

namespace {

volatile sig_atomic_t g_hostSaw = 0;
void hostHandler(int sig) { g_hostSaw = sig; }

using Handler = void (*)(int);
Handler handlerOf(int sig)
{
    struct sigaction now;
    sigaction(sig, nullptr, &now);
    return now.sa_handler;
}

class BuildInterrupts : public FolderTest {
protected:
    void SetUp() override
    {
        FolderTest::SetUp();
        std::vector<uint8_t> t;
        std::string error;
        ASSERT_TRUE(Samples::makePartitionTable({{"cpu1", 0x8000, 0x100000}, {"data_ota", 0x108000, 0x80000}}, t, error));
        table = file("part.bin", t);
        std::vector<uint8_t> old = zn3150Image(1, 70000, "1.0.0");
        std::vector<uint8_t> image = old;
        image[500] ^= 1;
        Samples::stampZn3150(image, "1.0.1");
        oldPath = file("old.bin", old);
        newPath = file("new.bin", image);
        out = path("z.pkg");
    }
    void TearDown() override
    {
        detail::set_build_step_hook(nullptr);
        for (int sig : {SIGINT, SIGTERM, SIGHUP})
            signal(sig, SIG_DFL);
    }
    QStringList buildFiles() const
    {
        return QDir(dir.path()).entryList({".z.pkg.*"}, QDir::Files | QDir::Hidden);
    }
    int build(int method = 1) { return fota_make_package(request(method, table, newPath, oldPath, out)); }

    SinkRecorder sink;
    std::string table, oldPath, newPath, out;
};

TEST_F(BuildInterrupts, HandlersAreInPlaceOnlyWhileABuildRuns)
{
    signal(SIGHUP, SIG_IGN); // as under nohup
    signal(SIGINT, hostHandler);
    std::map<int, Handler> during;
    detail::set_build_step_hook([&](const char *step) {
        if (std::string(step) == "inputs read")
            for (int sig : {SIGINT, SIGTERM, SIGHUP})
                during[sig] = handlerOf(sig);
    });
    ASSERT_EQ(build(), 0) << sink.joined();
    EXPECT_NE(during[SIGINT], hostHandler);
    EXPECT_NE(during[SIGTERM], SIG_DFL);
    EXPECT_EQ(during[SIGINT], during[SIGTERM]);
    EXPECT_EQ(during[SIGHUP], SIG_IGN) << "an ignored signal stays ignored";
    EXPECT_EQ(handlerOf(SIGINT), hostHandler) << "the host's handler is back after the build";
    EXPECT_EQ(handlerOf(SIGTERM), SIG_DFL);
    EXPECT_EQ(handlerOf(SIGHUP), SIG_IGN);
}

// A signal whose handler (the host's) keeps the process alive: the build's files are removed,
// the host's handler runs, and the build stops instead of writing files that are gone.
TEST_F(BuildInterrupts, ASignalTheHostHandlesStopsTheBuild)
{
    for (const char *at : {"inputs read", "package written"}) {
        SCOPED_TRACE(at);
        sink.lines.clear();
        g_hostSaw = 0;
        signal(SIGTERM, hostHandler);
        QStringList seen;
        detail::set_build_step_hook([&](const char *step) {
            if (std::string(step) == at) {
                seen = buildFiles();
                raise(SIGTERM);
            }
        });
        EXPECT_EQ(build(3), -1);
        detail::set_build_step_hook(nullptr);
        EXPECT_EQ(g_hostSaw, SIGTERM);
        EXPECT_EQ(seen.size(), std::string(at) == "package written" ? 2 : 0) << "the lock and the package file";
        EXPECT_TRUE(buildFiles().isEmpty()) << buildFiles().join(' ').toStdString();
        EXPECT_FALSE(exists(out));
        EXPECT_EQ(sink.lines.back(), std::make_pair(1, std::string("build cancelled: the output is left as it was\n")))
            << sink.joined();
        EXPECT_EQ(handlerOf(SIGTERM), hostHandler);
    }
}

TEST_F(BuildInterrupts, ACancelledBuildLeavesTheOutputAsItWas)
{
    ASSERT_EQ(build(), 0) << sink.joined();
    const std::vector<uint8_t> earlier = readBytes(out);
    fota_cancel_build(); // before the build: it does not stop the next one
    ASSERT_EQ(build(), 0) << sink.joined();
    for (int method : {1, 3}) {
        for (const char *at : {"inputs checked", "inputs read", "package written"}) {
            SCOPED_TRACE(std::string(at) + " method " + std::to_string(method));
            sink.lines.clear();
            detail::set_build_step_hook([at](const char *step) {
                if (std::string(step) == at) {
                    std::thread other([] { fota_cancel_build(); }); // as the window would
                    other.join();
                }
            });
            EXPECT_EQ(build(method), -1);
            detail::set_build_step_hook(nullptr);
            EXPECT_EQ(sink.lines.back(),
                      std::make_pair(1, std::string("build cancelled: the output is left as it was\n")))
                << sink.joined();
            EXPECT_FALSE(sink.hasText("package verified\n"));
            EXPECT_TRUE(buildFiles().isEmpty()) << buildFiles().join(' ').toStdString();
            EXPECT_TRUE(readBytes(out) == earlier);
        }
    }
}

} // namespace
