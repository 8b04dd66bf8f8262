#include "deltamaker/verify/lzma_unpack.h"

#include "deltamaker/lzma/lzma_lib.h"

const uint8_t kLzmaStreamProps[5] = {0x00, 0x00, 0x20, 0x00, 0x00};

LzmaReader::LzmaReader(const uint8_t *src, size_t srcLen)
    : src_(src), srcLen_(srcLen), decoder_(LzmaRawDecoderCreate(kLzmaStreamProps, 5))
{
}

LzmaReader::~LzmaReader()
{
    LzmaRawDecoderDestroy(decoder_);
}

bool LzmaReader::read(uint8_t *dst, size_t n, std::string &error)
{
    if (!decoder_) {
        error = "LZMA decoder: out of memory";
        return false;
    }
    if (failed_) {
        error = "LZMA stream is damaged";
        return false;
    }
    size_t done = 0;
    while (done < n) {
        size_t outLen = n - done;
        size_t inLen = srcLen_ - used_;
        int status = 0;
        const int rc = LzmaRawDecoderRun(decoder_, dst + done, &outLen, src_ + used_, &inLen, 0,
                                         &status);
        used_ += inLen;
        done += outLen;
        if (rc != LZMA_LIB_OK) {
            failed_ = true;
            error = "LZMA stream is damaged";
            return false;
        }
        if (status == LZMA_RAW_STATUS_FINISHED_WITH_MARK && done < n) {
            failed_ = true;
            error = "LZMA stream ends early";
            return false;
        }
        if (outLen == 0 && inLen == 0) {
            failed_ = true;
            error = "LZMA stream ends early";
            return false;
        }
    }
    return true;
}

bool LzmaReader::readAppend(std::vector<uint8_t> &out, size_t n, std::string &error)
{
    constexpr size_t kStep = size_t(1) << 20;
    while (n > 0) {
        const size_t take = n < kStep ? n : kStep;
        const size_t at = out.size();
        out.resize(at + take);
        if (!read(out.data() + at, take, error))
            return false;
        n -= take;
    }
    return true;
}

bool LzmaReader::finish(std::string &error)
{
    if (!decoder_ || failed_) {
        error = decoder_ ? "LZMA stream is damaged" : "LZMA decoder: out of memory";
        return false;
    }
    uint8_t dummy = 0;
    size_t outLen = 0;
    size_t inLen = srcLen_ - used_;
    int status = 0;
    const int rc = LzmaRawDecoderRun(decoder_, &dummy, &outLen, src_ + used_, &inLen, 1, &status);
    used_ += inLen;
    if (rc != LZMA_LIB_OK
        || (status != LZMA_RAW_STATUS_MAYBE_FINISHED_WITHOUT_MARK
            && status != LZMA_RAW_STATUS_FINISHED_WITH_MARK)) {
        failed_ = true;
        error = "LZMA stream does not end where its data ends";
        return false;
    }
    if (used_ != srcLen_) {
        failed_ = true;
        error = "LZMA stream has " + std::to_string(srcLen_ - used_) + " bytes left over";
        return false;
    }
    return true;
}

bool lzma_unpack(const uint8_t *src, size_t srcLen, uint8_t *dst, size_t dstLen,
                 std::string &error)
{
    LzmaReader reader(src, srcLen);
    return reader.read(dst, dstLen, error) && reader.finish(error);
}
