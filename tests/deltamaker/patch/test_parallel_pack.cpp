// Compressions run at once on a task pool give the bytes and property bytes of the same
// compressions run one after the other.
#include "deltamaker/parallel/task_pool_p.h"
#include "deltamaker/patch/inplace.h"
#include "deltamaker/patch/inplace_p.h"
#include "deltamaker/patch/lzma_pack.h"
#include "deltamaker/samples/firmware_gen.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

namespace detail = deltamaker::detail;

namespace {

std::vector<uint8_t> smallest(const std::vector<uint8_t> &src, detail::TaskPool *pool)
{
    std::vector<uint8_t> out(src.size() + src.size() / 2 + 4096);
    size_t len = out.size();
    EXPECT_EQ(pool ? lzma_pack_smallest(src.data(), src.size(), out.data(), &len, pool)
                   : lzma_pack_smallest(src.data(), src.size(), out.data(), &len),
              0);
    out.resize(len);
    return out;
}

} // namespace

TEST(ParallelPack, SmallestStreamIsTheSameOnAPool)
{
    const std::vector<uint8_t> data = Samples::makeFirmware(5, 96 * 1024);
    const std::vector<uint8_t> alone = smallest(data, nullptr);
    for (int threads : {1, 2, 4}) {
        SCOPED_TRACE(threads);
        detail::TaskPool pool(threads);
        // The caller's property store is set even though the streams were made elsewhere.
        std::memset(g_lzma_props, 0xAA, kLzmaPropsSize);
        EXPECT_EQ(smallest(data, &pool), alone);
        const uint8_t expected[kLzmaPropsSize] = {0x00, 0x00, 0x20, 0x00, 0x00};
        EXPECT_EQ(std::memcmp(g_lzma_props, expected, kLzmaPropsSize), 0);
    }
    // Too little room for either stream fails as the one-after-the-other call does.
    detail::TaskPool pool(2);
    std::vector<uint8_t> tiny(8);
    size_t len = tiny.size();
    EXPECT_EQ(lzma_pack_smallest(data.data(), data.size(), tiny.data(), &len, &pool), -1);
}

TEST(ParallelPack, InplaceStreamsAreTheSameOnAPool)
{
    const Samples::FirmwarePair pair = Samples::makePair(9, 300 * 1024);
    for (bool optimize : {false, true}) {
        SCOPED_TRACE(optimize);
        std::vector<uint8_t> reference;
        for (int threads : {1, 2, 4}) {
            InplaceOptions options;
            options.optimize = optimize;
            options.threads = threads;
            std::vector<uint8_t> patch;
            ASSERT_EQ(sw_bsdiff_new_mem(pair.oldImage.data(), int64_t(pair.oldImage.size()),
                                        pair.newImage.data(), int64_t(pair.newImage.size()), patch,
                                        options),
                      0);
            if (reference.empty())
                reference = patch;
            EXPECT_EQ(patch, reference) << "threads " << threads;
        }
    }
    // Streams without an extra block: two tasks, the header's third length 0.
    detail::TaskPool pool(3);
    const std::vector<uint8_t> control(240, 1);
    const std::vector<uint8_t> diff(5000, 0);
    std::vector<uint8_t> one;
    std::vector<uint8_t> many;
    ASSERT_EQ(detail::packInplaceContainer(control, diff, {}, one), 0);
    ASSERT_EQ(detail::packInplaceContainer(control, diff, {}, many, false, &pool), 0);
    EXPECT_EQ(many, one);
}
