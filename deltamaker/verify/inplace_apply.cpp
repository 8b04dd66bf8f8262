#include "deltamaker/verify/inplace_apply.h"

#include "deltamaker/format/patch_layout.h"
#include "deltamaker/format/sign_magnitude.h"
#include "deltamaker/verify/lzma_unpack.h"

#include <algorithm>
#include <cstring>

namespace {

const size_t kWindow = static_cast<size_t>(kInplaceWindowSize);

int64_t readSm4(const uint8_t *p) { return get_sm4(p); }

// Reads the window records one by one: the control stream's length is known only from them.
bool readControl(LzmaReader &reader, size_t windows, std::vector<InplaceWindow> &out,
                 std::string &error)
{
    out.clear();
    std::vector<uint8_t> buf;
    std::string why;
    for (size_t k = 0; k < windows; ++k) {
        const std::string where = "window " + std::to_string(k) + ": ";
        uint8_t head[8];
        if (!reader.read(head, sizeof head, why)) {
            error = "control stream too short (" + why + ")";
            return false;
        }
        const int64_t n = readSm4(head);
        const int64_t m = readSm4(head + 4);
        if (n < 0 || m < 0 || n + m > kInplaceMaxEntries) {
            error = where + "bad entry counts " + std::to_string(n) + " and " + std::to_string(m);
            return false;
        }
        buf.resize(static_cast<size_t>(n + m) * 12);
        if (!reader.read(buf.data(), buf.size(), why)) {
            error = "control stream too short (" + why + ")";
            return false;
        }
        const uint8_t *cur = buf.data();
        InplaceWindow w;
        w.entries.resize(static_cast<size_t>(n));
        for (auto &e : w.entries) {
            e.oldPos = static_cast<int32_t>(readSm4(cur));
            e.diffLen = static_cast<int32_t>(readSm4(cur + 4));
            e.extraLen = static_cast<int32_t>(readSm4(cur + 8));
            cur += 12;
        }
        w.moves.resize(static_cast<size_t>(m));
        for (auto &mv : w.moves) {
            mv.src = static_cast<int32_t>(readSm4(cur));
            const int64_t dst = readSm4(cur + 4);
            if (dst < 0) {
                error = where + "negative move destination";
                return false;
            }
            inplace_move_split(dst, mv.dst, mv.flag);
            mv.len = static_cast<int32_t>(readSm4(cur + 8));
            cur += 12;
        }
        out.push_back(std::move(w));
    }
    if (!reader.finish(why)) {
        error = "control stream has bytes left over (" + why + ")";
        return false;
    }
    return true;
}

// Decodes a whole block of known length from its stream, which must end exactly there.
bool readBlock(const uint8_t *src, size_t srcLen, size_t size, std::vector<uint8_t> &out,
               const char *name, std::string &error)
{
    LzmaReader reader(src, srcLen);
    std::string why;
    out.clear();
    if (!reader.readAppend(out, size, why)) {
        error = std::string(name) + " stream is damaged or too short (" + why + ")";
        return false;
    }
    if (!reader.finish(why)) {
        error = std::string(name) + " stream has bytes left over (" + why + ")";
        return false;
    }
    return true;
}

} // namespace

bool decode_inplace_patch(const uint8_t *patch, size_t patchSize, size_t newSize,
                          InplacePatchContents &contents, std::string &error)
{
    contents = InplacePatchContents();
    if (newSize == 0) {
        error = "new size is 0";
        return false;
    }
    if (patchSize < static_cast<size_t>(kInplaceHeaderSize) ||
        std::memcmp(patch, kPatchMagic, kPatchMagicSize) != 0) {
        error = "not an in-place patch (magic)";
        return false;
    }
    const int64_t c = readSm4(patch + 8);
    const int64_t d = readSm4(patch + 12);
    const int64_t x = readSm4(patch + 16);
    if (c <= 0 || d <= 0 || x < 0) {
        error = "bad stream lengths in header";
        return false;
    }
    const size_t body = patchSize - kInplaceHeaderSize;
    if (static_cast<uint64_t>(c) + static_cast<uint64_t>(d) + static_cast<uint64_t>(x) != body) {
        error = "stream lengths do not match the patch size";
        return false;
    }
    const uint8_t *cs = patch + kInplaceHeaderSize;
    const uint8_t *ds = cs + c;
    const uint8_t *xs = ds + d;
    const size_t windows = (newSize + kWindow - 1) / kWindow;

    LzmaReader control(cs, static_cast<size_t>(c));
    if (!readControl(control, windows, contents.windows, error))
        return false;

    uint64_t diffLen = 0;
    uint64_t extraLen = 0;
    for (const auto &w : contents.windows)
        for (const auto &e : w.entries) {
            if (e.diffLen < 0 || e.extraLen < 0) {
                error = "negative entry length";
                return false;
            }
            diffLen += static_cast<uint64_t>(e.diffLen);
            extraLen += static_cast<uint64_t>(e.extraLen);
        }
    if (diffLen > newSize || extraLen > newSize - diffLen) {
        error = "entries build more bytes than the new image";
        return false;
    }
    if (!readBlock(ds, static_cast<size_t>(d), diffLen, contents.diff, "diff", error))
        return false;
    if (x == 0) {
        if (extraLen != 0) {
            error = "extra stream missing";
            return false;
        }
    } else if (extraLen == 0) {
        error = "extra stream present but no entry uses it";
        return false;
    } else if (!readBlock(xs, static_cast<size_t>(x), extraLen, contents.extra, "extra", error)) {
        return false;
    }
    return true;
}

bool apply_inplace_patch(const uint8_t *oldData, size_t oldSize, size_t newSize,
                         const uint8_t *patch, size_t patchSize, std::vector<uint8_t> &newData,
                         std::string &error, InplaceApplyStats *stats)
{
    newData.clear();
    InplacePatchContents pc;
    if (!decode_inplace_patch(patch, patchSize, newSize, pc, error))
        return false;
    if (stats)
        *stats = InplaceApplyStats();

    const size_t work = std::max(oldSize, newSize);
    std::vector<uint8_t> image(work, 0);
    if (oldSize)
        std::memcpy(image.data(), oldData, oldSize);
    std::vector<uint8_t> built;
    built.reserve(kWindow);
    size_t diffPos = 0;
    size_t extraPos = 0;

    for (size_t k = 0; k < pc.windows.size(); ++k) {
        const InplaceWindow &w = pc.windows[k];
        const size_t start = k * kWindow;
        const size_t span = std::min(kWindow, newSize - start);
        const std::string where = "window " + std::to_string(k) + ": ";
        built.clear();
        for (size_t i = 0; i < w.entries.size(); ++i) {
            const InplaceDiffEntry &e = w.entries[i];
            const size_t len = static_cast<size_t>(e.diffLen);
            const size_t ext = static_cast<size_t>(e.extraLen);
            if (len + ext > span - built.size()) {
                error = where + "builds more bytes than its span";
                return false;
            }
            if (len) {
                if (e.oldPos < 0 || static_cast<size_t>(e.oldPos) > work ||
                    len > work - static_cast<size_t>(e.oldPos)) {
                    error = where + "entry " + std::to_string(i) + " reads outside the image";
                    return false;
                }
                const uint8_t *src = image.data() + e.oldPos;
                const uint8_t *dif = pc.diff.data() + diffPos;
                for (size_t j = 0; j < len; ++j)
                    built.push_back(static_cast<uint8_t>(src[j] + dif[j]));
                diffPos += len;
            }
            built.insert(built.end(), pc.extra.begin() + static_cast<ptrdiff_t>(extraPos),
                         pc.extra.begin() + static_cast<ptrdiff_t>(extraPos + ext));
            extraPos += ext;
        }
        if (built.size() != span) {
            error = where + "builds " + std::to_string(built.size()) + " bytes instead of " +
                    std::to_string(span);
            return false;
        }
        bool inRun = false;
        for (size_t i = 0; i < w.moves.size(); ++i) {
            const InplaceMove &mv = w.moves[i];
            const std::string which = where + "move " + std::to_string(i);
            if (mv.src < 0 || mv.len < 0 || static_cast<size_t>(mv.src) > work ||
                static_cast<size_t>(mv.len) > work - static_cast<size_t>(mv.src) ||
                static_cast<size_t>(mv.dst) > work ||
                static_cast<size_t>(mv.len) > work - static_cast<size_t>(mv.dst)) {
                error = which + " is out of range";
                return false;
            }
            // Flags: 0 alone, or a run 1, 2, ..., 3 filling one spare region.
            const bool okFlag = (mv.flag == 0 && !inRun) || (mv.flag == 1 && !inRun) ||
                                ((mv.flag == 2 || mv.flag == 3) && inRun);
            if (!okFlag) {
                error = which + " has an inconsistent flag " + std::to_string(mv.flag);
                return false;
            }
            inRun = mv.flag == 1 || mv.flag == 2;
            std::memmove(image.data() + mv.dst, image.data() + mv.src,
                         static_cast<size_t>(mv.len));
            if (stats) {
                ++stats->moves;
                stats->movedBytes += static_cast<size_t>(mv.len);
            }
        }
        if (inRun) {
            error = where + "move run not closed by flag 3";
            return false;
        }
        std::memcpy(image.data() + start, built.data(), span);
        if (stats) {
            ++stats->windows;
            stats->diffEntries += w.entries.size();
        }
    }
    image.resize(newSize);
    newData.swap(image);
    return true;
}
