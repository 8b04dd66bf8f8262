// The version texts of the images, read from their records by the board's rule.
#include "deltamaker/builder/build_p.h"
#include "deltamaker/builder/fota_log_p.h"

#include <cstring>
#include <string>

namespace deltamaker::detail {

namespace {

// Longest version text looked at: anything longer than a header field is refused anyway.
constexpr size_t kVersionProbe = 64;

// Compares two version texts piece by piece, runs of digits by their value: <0, 0 or >0.
int compareVersions(const char *a, const char *b)
{
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    while (*a && *b) {
        if (digit(*a) && digit(*b)) {
            while (*a == '0')
                ++a;
            while (*b == '0')
                ++b;
            const char *ea = a;
            const char *eb = b;
            while (digit(*ea))
                ++ea;
            while (digit(*eb))
                ++eb;
            if (ea - a != eb - b)
                return ea - a < eb - b ? -1 : 1;
            const int c = std::strncmp(a, b, static_cast<size_t>(ea - a));
            if (c != 0)
                return c;
            a = ea;
            b = eb;
        } else {
            if (*a != *b)
                return static_cast<unsigned char>(*a) < static_cast<unsigned char>(*b) ? -1 : 1;
            ++a;
            ++b;
        }
    }
    return (*a != 0) - (*b != 0);
}

// The version text of an image by its board's rule, cut to the capacity. False after the
// reason (none for an image of unknown board, which the method check has refused already).
bool imageVersion(const ImageRecord &image, char *text, size_t capacity)
{
    text[0] = '\0';
    const int type = image.board();
    if (type == kBoardZN3150 && image.size() < 24) {
        fota_log(FOTA_LOG_ERROR, "%s is %lld bytes, too short to carry a version (24 bytes)\n",
                 image.path(), static_cast<long long>(image.size()));
        return false;
    }
    if (type != kBoardZN3150 && type != kBoardKLM4410)
        return false;
    std::string error;
    if (!version_of_image(type, image.data(), static_cast<size_t>(image.size()), text, capacity,
                          error)) {
        fota_log(FOTA_LOG_ERROR, "%s: %s", image.path(), error.c_str());
        return false;
    }
    return true;
}

// One version text; a text longer than its header field is refused, not cut.
bool readVersion(const ImageRecord &image, size_t width, char *out)
{
    char text[kVersionProbe + 1] = {};
    if (!imageVersion(image, text, sizeof text))
        return false;
    const size_t len = std::strlen(text);
    if (len > width) {
        fota_log(FOTA_LOG_ERROR,
                 "version %s of %s has %zu characters, more than the %zu its header field "
                 "holds\n",
                 text, image.path(), len, width);
        return false;
    }
    std::memcpy(out, text, len + 1);
    return true;
}

} // namespace

bool read_versions(const ImageRecord *old, const ImageRecord &image, size_t width,
                   bool warnDowngrade, Versions &v)
{
    if (old && !readVersion(*old, width, v.src))
        return false;
    if (!readVersion(image, width, v.tgt))
        return false;
    const bool srcDefault = std::strcmp(v.src, "x.x.x") == 0;
    const bool tgtDefault = std::strcmp(v.tgt, "x.x.x") == 0;
    if (old) {
        if (!srcDefault && !tgtDefault)
            fota_log(FOTA_LOG_INFO, "source version %s target version %s\n", v.src, v.tgt);
        else
            fota_log(FOTA_LOG_INFO, "Warning !!! Has default version source %s target %s\n",
                     v.src, v.tgt);
        if (warnDowngrade && !srcDefault && !tgtDefault && compareVersions(v.tgt, v.src) <= 0)
            fota_log(FOTA_LOG_WARN,
                     "target version %s is not newer than source version %s: the package does "
                     "not upgrade the device\n",
                     v.tgt, v.src);
    } else {
        if (!tgtDefault)
            fota_log(FOTA_LOG_INFO, "target version %s\n", v.tgt);
        else
            fota_log(FOTA_LOG_INFO, "Warning !!! Has default version %s better supply src file\n",
                     v.tgt);
    }
    return true;
}

} // namespace deltamaker::detail
