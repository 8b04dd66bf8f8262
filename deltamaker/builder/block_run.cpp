// Block records: one per 20480-byte block of a partition's file, patched against the old block
// or compressed alone, made on the build's pool and appended in block order.
#include "deltamaker/builder/build_p.h"
#include "deltamaker/builder/firmware_input.h"
#include "deltamaker/builder/firmware_input_p.h"
#include "deltamaker/builder/fota_log_p.h"
#include "deltamaker/parallel/task_pool_p.h"
#include "deltamaker/patch/bsdiff.h"
#include "deltamaker/patch/bsdiff_opt.h"
#include "deltamaker/patch/lzma_pack.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace deltamaker::detail {

namespace {

constexpr int kError = FOTA_LOG_ERROR;
constexpr size_t kPatchBuffer = 2 * kBlockSize + 32; // room for 32 + 2 * block bytes

// The optimising encoder's choice for a block with an old counterpart: when the new block
// compressed alone is smaller than its patch in out[0, *len), it replaces the patch there.
bool packAloneIfSmaller(const uint8_t *block, size_t blockLen, uint8_t *out, size_t *len)
{
    std::vector<uint8_t> alone(2 * kBlockSize);
    size_t aloneLen = alone.size();
    if (lzma_pack(block, blockLen, alone.data(), &aloneLen) != 0)
        return false;
    // The stronger compression saves a few percent at most: not tried when far behind.
    if (aloneLen < *len + *len / 4) {
        std::vector<uint8_t> strong(alone.size());
        size_t strongLen = strong.size();
        if (lzma_pack_strong(block, blockLen, strong.data(), &strongLen) == 0 &&
            strongLen < aloneLen) {
            alone.swap(strong);
            aloneLen = strongLen;
        }
    }
    if (aloneLen >= *len)
        return false;
    std::memcpy(out, alone.data(), aloneLen);
    *len = aloneLen;
    return true;
}

// One block of a partition: its bytes lie in the records, it is patched or compressed on any
// thread of the pool, then turned into its record on the build thread in block order. The work
// touches nothing but the job, so any thread can do it.
struct BlockJob {
    int64_t offset = 0;
    const uint8_t *oldBlock = nullptr; // in the old image's record
    const uint8_t *newBlock = nullptr; // in the new image's record
    int64_t oldLen = 0;                // 0: no old counterpart
    int64_t newLen = 0;
    bool withOld = false;
    std::vector<uint8_t> out = std::vector<uint8_t>(kPatchBuffer);
    // Results.
    bool fellBack = false;   // the patch did not fit: compressed alone
    bool packFailed = false; // compression alone failed
    size_t patchLen = 0;
    uint8_t type = 0;
    uint8_t props[kLzmaPropsSize] = {};
    uint8_t oldHash[32] = {};
    uint8_t newHash[32] = {};
};

// Patches or compresses one block. Runs on any thread; the encoder choice is passed in, and the
// property bytes of this thread's compression are kept with the block.
void makeBlock(BlockJob &b, bool optimize)
{
    b.fellBack = b.packFailed = false;
    bool packedAlone = false;
    if (b.withOld) {
        int64_t len = 0;
        const auto diff = optimize ? sw_bsdiff_opt : sw_bsdiff;
        if (diff(b.oldBlock, b.oldLen, b.newBlock, b.newLen, b.out.data(), &len) == 0 &&
            len >= 0 && static_cast<size_t>(len) <= kBlockSize) {
            block_sha256(b.oldBlock, static_cast<size_t>(b.oldLen), b.oldHash);
            b.patchLen = static_cast<size_t>(len);
            b.type = 1;
            if (optimize && packAloneIfSmaller(b.newBlock, static_cast<size_t>(b.newLen),
                                               b.out.data(), &b.patchLen)) {
                // Stored as a block without an old counterpart, which every device reads.
                std::memset(b.oldHash, 0, sizeof b.oldHash);
                b.type = 0;
                b.withOld = false;
                b.oldLen = 0;
                packedAlone = true;
            }
        } else {
            // A patch that cannot fit (a short last block has no room for its header):
            // the block goes in compressed alone, which every device reads.
            b.fellBack = true;
            b.withOld = false;
            b.oldLen = 0;
        }
    }
    if (!b.withOld && !packedAlone) {
        b.patchLen = 2 * kBlockSize;
        const int rc = optimize ? lzma_pack_smallest(b.newBlock, static_cast<size_t>(b.newLen),
                                                     b.out.data(), &b.patchLen)
                                : lzma_pack(b.newBlock, static_cast<size_t>(b.newLen),
                                            b.out.data(), &b.patchLen);
        b.packFailed = rc != 0;
        b.type = 0;
    }
    std::memcpy(b.props, g_lzma_props, kLzmaPropsSize);
    block_sha256(b.newBlock, static_cast<size_t>(b.newLen), b.newHash);
}

// Appends block b's record and data, saying exactly what the one-block-at-a-time build says
// at this block. False when the build fails here.
bool commitBlock(PackageWriter &pkg, BlockJob &b, const char *part, uint32_t partAddr)
{
    if (pkg.controlLen() + kBlockRecordSize > kBuildAreaSize) {
        fota_log(kError, "control area full at %s block 0x%llx\n", part,
                 static_cast<unsigned long long>(b.offset));
        return false;
    }
    if (b.fellBack)
        fota_log(FOTA_LOG_INFO,
                 "block of %s at 0x%llx: its patch does not fit, stored compressed without the "
                 "old block\n",
                 part, static_cast<unsigned long long>(b.offset));
    if (b.packFailed) {
        fota_log(kError, "compression of %s at 0x%llx failed\n", part,
                 static_cast<unsigned long long>(b.offset));
        return false;
    }
    if (b.patchLen > kBlockSize) {
        fota_log(kError, "patchlen size %ld too long \n", static_cast<long>(b.patchLen));
        return false;
    }
    const size_t stored = fota_round16(b.patchLen);
    if (stored > pkg.dataLeft()) {
        fota_log(kError, "data area full at %s block 0x%llx\n", part,
                 static_cast<unsigned long long>(b.offset));
        return false;
    }
    const uint32_t dataOffset = static_cast<uint32_t>(pkg.dataLen());
    uint8_t *rec = pkg.addRecord();
    std::strncpy(reinterpret_cast<char *>(rec + kRecName), part, kPartNameSize);
    if (b.type == 1)
        std::memcpy(rec + kRecOldHash, b.oldHash, sizeof b.oldHash);
    rec[kRecType] = b.type;
    const uint32_t addr = partAddr + static_cast<uint32_t>(b.offset);
    fota_put32(rec + kRecAddr, addr);
    fota_put32(rec + kRecOldLen, static_cast<uint32_t>(b.oldLen));
    fota_put32(rec + kRecAddr2, addr);
    fota_put32(rec + kRecNewLen, static_cast<uint32_t>(b.newLen));
    fota_put32(rec + kRecOffset, dataOffset);
    fota_put32(rec + kRecDataLen, static_cast<uint32_t>(b.patchLen));
    rec[kRecOne] = 1;
    // The property bytes of the compression that made this block, wherever it ran; the build
    // thread's store is left as after the last block, as when the blocks are made here.
    std::memcpy(rec + kRecProps, b.props, kLzmaPropsSize);
    std::memcpy(g_lzma_props, b.props, kLzmaPropsSize);
    rec[kRecZero] = 0;
    std::memcpy(rec + kRecNewHash, b.newHash, sizeof b.newHash);
    std::memcpy(pkg.data() + pkg.dataLen(), b.out.data(), b.patchLen);
    pkg.commitData(b.patchLen, stored - b.patchLen); // the filler up to 16 bytes
    return true;
}

} // namespace

int pack_stream(const Build &b, const uint8_t *src, size_t srcLen, uint8_t *dst, size_t *dstLen)
{
    return b.optimize ? lzma_pack_smallest(src, srcLen, dst, dstLen, b.pool)
                      : lzma_pack(src, srcLen, dst, dstLen);
}

// Every record lies inside the partition: a file larger than it fails before any record is
// made. The blocks are made a batch at a time on the build's pool and appended strictly in
// block order, so records, data and messages are those of a one-block-at-a-time build, whatever
// the thread count; a failing block ends the build with its own message, and blocks after it
// say nothing.
int run_blocks(Build &b, const char *part, const ImageRecord *old, const ImageRecord &image,
               bool useOld)
{
    int64_t oldLeft = 0;
    if (old) {
        oldLeft = old->size();
        if (oldLeft == 0) {
            fota_log(kError, "file %s is empty\n", old->path());
            return -1;
        }
        if (!useOld)
            oldLeft = 0;
    }
    int64_t newLeft = image.size();
    if (newLeft == 0) {
        fota_log(kError, "file %s is empty\n", image.path());
        return -1;
    }
    uint32_t partAddr = 0;
    uint32_t partSize = 0;
    if (part_find(part, &partAddr, &partSize) != 0)
        return -1;
    if (!fits_partition(image.path(), newLeft, part, partSize))
        return -1;

    const int64_t blocks = (newLeft + static_cast<int64_t>(kBlockSize) - 1) / kBlockSize;
    // Eight blocks per thread in flight: little idle time at the end of a batch, and memory
    // stays bounded (40 KiB a block).
    const int threads = b.pool ? b.pool->threads() : 1;
    const size_t batch =
        threads < 2 ? 1 : static_cast<size_t>(std::min<int64_t>(blocks, 8 * threads));
    std::vector<BlockJob> jobs(batch);
    const bool optimize = b.optimize;
    int64_t done = 0;
    int64_t offset = 0;
    while (newLeft > 0) {
        size_t count = 0;
        while (count < batch && newLeft > 0) {
            BlockJob &job = jobs[count++];
            job.offset = offset;
            job.withOld = oldLeft > 0;
            job.newLen = std::min<int64_t>(newLeft, kBlockSize);
            job.oldLen = job.withOld ? std::min<int64_t>(oldLeft, kBlockSize) : 0;
            job.newBlock = image.data() + offset;
            job.oldBlock = job.withOld ? old->data() + offset : nullptr;
            offset += static_cast<int64_t>(kBlockSize);
            oldLeft = oldLeft > static_cast<int64_t>(kBlockSize) ? oldLeft - kBlockSize : 0;
            newLeft = newLeft > static_cast<int64_t>(kBlockSize) ? newLeft - kBlockSize : 0;
        }
        const auto make = [&jobs, optimize](size_t i) { makeBlock(jobs[i], optimize); };
        if (b.pool && count > 1) {
            if (!b.pool->run(count, make))
                throw std::bad_alloc(); // a block's work ran out of memory
        } else {
            for (size_t i = 0; i < count; ++i)
                make(i);
        }
        for (size_t i = 0; i < count; ++i) {
            fota_progress("block patches", static_cast<int>(done * 100 / blocks));
            if (!commitBlock(b.package, jobs[i], part, partAddr))
                return -1;
            ++done;
        }
    }
    fota_progress("block patches", 100);
    return 0;
}

} // namespace deltamaker::detail
