// sw_bsdiff_new: the in-place patch of two whole images, checked on the device simulator before
// it is handed out.
#include "deltamaker/patch/inplace.h"

#include "deltamaker/patch/inplace_p.h"
#include "deltamaker/parallel/task_pool_p.h"
#include "deltamaker/io/whole_file.h"
#include "deltamaker/verify/inplace_apply.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <new>
#include <string>
#include <unistd.h>

namespace detail = deltamaker::detail;

namespace {

// Move destinations carry their flag in bits 29 and 30, so images stay below 512 MiB.
constexpr int64_t kMaxImageSize = (int64_t(1) << 29) - 1;

// A regular file within the image limit, read whole; silent (callers print their own message).
bool readWholeFile(const char *path, std::vector<uint8_t> &out)
{
    std::string error;
    return detail::read_file_bytes(path, out, error, static_cast<uint64_t>(kMaxImageSize));
}

bool writeWholeFile(const char *path, const std::vector<uint8_t> &data)
{
    // Truncating: a longer file left at the path would otherwise leave stale bytes behind.
    const int fd = ::open(path, O_CREAT | O_RDWR | O_TRUNC, 0644);
    if (fd < 0)
        return false;
    size_t done = 0;
    bool ok = true;
    while (ok && done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        if (ok)
            done += static_cast<size_t>(n);
    }
    ok = ::close(fd) == 0 && ok;
    if (!ok)
        ::remove(path);
    return ok;
}

} // namespace

namespace deltamaker::detail {

int verifyInplacePatch(const uint8_t *oldData, int64_t oldSize, const uint8_t *newData,
                       int64_t newSize, const std::vector<uint8_t> &patch)
{
    // The device has no second copy: hand out nothing that it would not rebuild exactly.
    std::vector<uint8_t> rebuilt;
    std::string error;
    if (!apply_inplace_patch(oldData, static_cast<size_t>(oldSize), static_cast<size_t>(newSize),
                             patch.data(), patch.size(), rebuilt, error)) {
        std::printf("\nsw_bsdiff_new: self-check failed: %s, no patch written\n", error.c_str());
        return -1;
    }
    if (rebuilt.size() != static_cast<size_t>(newSize) ||
        std::memcmp(rebuilt.data(), newData, rebuilt.size()) != 0) {
        std::printf("\nsw_bsdiff_new: self-check failed: the patch does not rebuild the new "
                    "image, no patch written\n");
        return -1;
    }
    return 0;
}

namespace {
thread_local InplaceProgressFn t_progress = nullptr;
} // namespace

void set_inplace_progress(InplaceProgressFn fn) { t_progress = fn; }

void inplace_progress(const char *stage, int percent)
{
    if (t_progress)
        t_progress(stage, percent);
}

void releaseFreeMemory()
{
#ifdef __GLIBC__
    ::malloc_trim(0);
#endif
}

} // namespace deltamaker::detail

namespace {

// Scan, resolver, container and self-check, once the arguments are checked.
int generate(const uint8_t *oldData, int64_t oldSize, const uint8_t *newData, int64_t newSize,
             std::vector<uint8_t> &patch, const InplaceOptions &options)
{
    try {
        std::vector<detail::InplaceStretch> stretches;
        std::vector<detail::InplaceStretch> costed; // the optimising encoder's other choice
        if (!detail::inplaceScanLoading(
                oldData, static_cast<int32_t>(oldSize), static_cast<int32_t>(newSize),
                [newData] { return newData; }, stretches, options.optimize ? &costed : nullptr))
            return -1;
        // The suffix array is gone: hand its pages back before the resolver allocates.
        detail::releaseFreeMemory();
        std::vector<uint8_t> out;
        detail::TaskPool pool(detail::resolve_threads(options.threads));
        const int built =
            options.optimize
                ? detail::buildOptimizedInplacePatch(oldData, static_cast<int32_t>(oldSize),
                                                     newData, static_cast<int32_t>(newSize),
                                                     stretches, costed, out, &pool)
                : detail::buildInplacePatch(oldData, static_cast<int32_t>(oldSize), newData,
                                            static_cast<int32_t>(newSize), stretches, out,
                                            nullptr, false, &pool);
        if (built != 0)
            return -1;

        detail::inplace_progress("in-place patch: self-check", -1);
        if (detail::verifyInplacePatch(oldData, oldSize, newData, newSize, out) != 0)
            return -1;
        patch.swap(out);
        return 0;
    } catch (const std::bad_alloc &) {
        std::printf("%s[%d] No Mem Left\n", "sw_bsdiff_new", 1885);
        patch.clear();
        return -1;
    }
}

// The argument checks shared by both entry points. Returns 0 or -1 after printing the reason.
int checkSizes(const uint8_t *oldData, int64_t oldSize, bool newPresent, int64_t newSize)
{
    if (newSize <= 0 || oldSize < 0 || (oldSize > 0 && !oldData) || !newPresent) {
        std::printf("sw_bsdiff_new: empty new image, no patch written\n");
        return -1;
    }
    if (oldSize > kMaxImageSize || newSize > kMaxImageSize) {
        std::printf("sw_bsdiff_new: image larger than %lld bytes, no patch written\n",
                    static_cast<long long>(kMaxImageSize));
        return -1;
    }
    return 0;
}

} // namespace

int sw_bsdiff_new_mem(const uint8_t *oldData, int64_t oldSize, const uint8_t *newData,
                      int64_t newSize, std::vector<uint8_t> &patch)
{
    return sw_bsdiff_new_mem(oldData, oldSize, newData, newSize, patch, InplaceOptions());
}

int sw_bsdiff_new_mem(const uint8_t *oldData, int64_t oldSize, const uint8_t *newData,
                      int64_t newSize, std::vector<uint8_t> &patch, const InplaceOptions &options)
{
    patch.clear();
    if (checkSizes(oldData, oldSize, newData != nullptr, newSize) != 0)
        return -1;
    return generate(oldData, oldSize, newData, newSize, patch, options);
}

int sw_bsdiff_new(const char *oldPath, const char *newPath, const char *outPath)
{
    return sw_bsdiff_new(oldPath, newPath, outPath, InplaceOptions());
}

int sw_bsdiff_new(const char *oldPath, const char *newPath, const char *outPath,
                  const InplaceOptions &options)
{
    std::vector<uint8_t> oldData;
    std::vector<uint8_t> newData;
    try {
        if (!oldPath || !readWholeFile(oldPath, oldData)) {
            std::printf("sw_bsdiff_new: cannot read old image %s\n", oldPath ? oldPath : "");
            return -1;
        }
        if (!newPath || !readWholeFile(newPath, newData)) {
            std::printf("sw_bsdiff_new: cannot read new image %s\n", newPath ? newPath : "");
            return -1;
        }
    } catch (const std::bad_alloc &) {
        std::printf("%s[%d] No Mem Left\n", "sw_bsdiff_new", 1885);
        return -1;
    }
    std::vector<uint8_t> patch;
    if (sw_bsdiff_new_mem(oldData.data(), static_cast<int64_t>(oldData.size()), newData.data(),
                          static_cast<int64_t>(newData.size()), patch, options) != 0)
        return -1;
    if (!outPath || !writeWholeFile(outPath, patch)) {
        std::printf("sw_bsdiff_new: cannot write %s\n", outPath ? outPath : "");
        return -1;
    }
    return 0;
}
