// Builds on several threads say and write exactly what the one-thread build does.
#include "builder_test_util.h"
#include "deltamaker/format/package_layout.h"

using namespace BuilderTest;

namespace {

constexpr size_t kBlock = 20480;

struct Outcome {
    int result = 0;
    std::vector<std::pair<int, std::string>> lines;
    bool written = false;
    std::vector<uint8_t> package;
};

class ParallelBuild : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        std::vector<uint8_t> table;
        std::string error;
        ASSERT_TRUE(Samples::makePartitionTable({{"uboot", 0, 0x40000}, {"cpu", 0x40000, 0x300000}},
                                                table, error))
            << error;
        partition = file("part.bin", table);
    }
    std::string file(const std::string &name, const std::vector<uint8_t> &bytes)
    {
        const std::string p = dir.filePath(QString::fromStdString(name)).toStdString();
        writeBytes(p, bytes);
        return p;
    }
    Outcome build(int method, const std::string &oldPath, const std::string &newPath, int threads,
                  int optimize = 0)
    {
        const std::string out =
            dir.filePath(QStringLiteral("pkg_%1.bin").arg(threads)).toStdString();
        PackRequest req = request(method, partition, newPath, oldPath, out, bootPath);
        req.threads = threads;
        req.optimize = optimize;
        Outcome o;
        SinkRecorder sink;
        o.result = fota_make_package(req);
        // The board is named once per process, so whichever build comes first says it.
        for (const auto &l : sink.lines)
            if (l.second.rfind("Board ", 0) != 0)
                o.lines.push_back(l);
        o.written = exists(out);
        if (o.written)
            o.package = readBytes(out);
        return o;
    }

    QTemporaryDir dir;
    std::string partition;
    std::string bootPath;
};

// Replaces block `index` of img with incompressible bytes.
void spoilBlock(std::vector<uint8_t> &img, size_t index, uint32_t seed)
{
    const std::vector<uint8_t> junk = noise(seed, kBlock, 8);
    std::copy(junk.begin(), junk.end(), img.begin() + static_cast<std::ptrdiff_t>(index * kBlock));
}

} // namespace

// Blocks 9 and 13 of 24 can be neither patched nor compressed into 20480 bytes. Every thread
// count fails at block 9 with the same messages in the same order as one thread: block 9's
// fall-back note and its error, nothing about block 13 or any later block, and no package.
TEST_F(ParallelBuild, FailingBlockInTheMiddleSaysWhatOneThreadSays)
{
    const std::vector<uint8_t> oldImg = klm4410Image(1, 24 * kBlock, "1.0.0", kMethodCodeDiff);
    std::vector<uint8_t> newImg = oldImg;
    for (size_t i = 300; i < newImg.size(); i += 997)
        newImg[i] ^= 0x33;
    spoilBlock(newImg, 9, 7);
    spoilBlock(newImg, 13, 8);
    Samples::stampKlm4410(newImg, "1.0.1", kMethodCodeDiff);
    const std::string oldPath = file("old.bin", oldImg);
    const std::string newPath = file("new.bin", newImg);

    const Outcome one = build(1, oldPath, newPath, 1);
    ASSERT_EQ(one.result, -1);
    EXPECT_FALSE(one.written);
    int errors = 0;
    int notes = 0;
    for (const auto &l : one.lines) {
        errors += l.first == FOTA_LOG_ERROR && l.second.rfind("patchlen size ", 0) == 0;
        notes += l.second.find("its patch does not fit") != std::string::npos;
    }
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(notes, 1);
    EXPECT_EQ(one.lines.back().second.rfind("patchlen size ", 0), 0u);
    const std::string at9 = "block of cpu at 0x" + [] {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%zx", 9 * kBlock);
        return std::string(buf);
    }();
    bool named9 = false;
    for (const auto &l : one.lines)
        named9 = named9 || l.second.rfind(at9, 0) == 0;
    EXPECT_TRUE(named9);

    for (int threads : {2, 4, 0}) {
        SCOPED_TRACE("threads " + std::to_string(threads));
        const Outcome many = build(1, oldPath, newPath, threads);
        EXPECT_EQ(many.result, -1);
        EXPECT_FALSE(many.written);
        EXPECT_EQ(many.lines, one.lines);
    }
}

// A build that succeeds says the same and writes the same bytes on any thread count, the
// fall-back of a short last block (its patch cannot fit) included, for both encoders and with
// a boot image ahead of the image blocks.
TEST_F(ParallelBuild, SuccessfulBuildsMatchOneThread)
{
    std::vector<uint8_t> oldImg = klm4410Image(2, 30 * kBlock + 10, "1.0.0", kMethodCodeDiff);
    std::vector<uint8_t> newImg = oldImg;
    for (size_t i = 500; i < newImg.size(); i += 1501)
        newImg[i] += 7;
    Samples::stampKlm4410(newImg, "1.0.1", kMethodCodeDiff);
    const std::string oldPath = file("old.bin", oldImg);
    const std::string newPath = file("new.bin", newImg);
    bootPath = file("boot.bin", noise(3, 3 * kBlock + 5, 3));
    for (int method : {0, 1}) {
        for (int optimize : {0, 1}) {
            if (optimize && sanitized())
                continue; // the optimising encoder is slow under the sanitizers
            SCOPED_TRACE("method " + std::to_string(method) + " optimize " +
                         std::to_string(optimize));
            const Outcome one = build(method, oldPath, newPath, 1, optimize);
            ASSERT_EQ(one.result, 0);
            if (method == 1) {
                bool fellBack = false;
                for (const auto &l : one.lines)
                    fellBack = fellBack || l.second.find("its patch does not fit") != std::string::npos;
                EXPECT_TRUE(fellBack);
            }
            for (int threads : {2, 4}) {
                SCOPED_TRACE("threads " + std::to_string(threads));
                const Outcome many = build(method, oldPath, newPath, threads, optimize);
                EXPECT_EQ(many.result, 0);
                EXPECT_EQ(many.lines, one.lines);
                EXPECT_EQ(many.package, one.package);
            }
        }
    }
}
