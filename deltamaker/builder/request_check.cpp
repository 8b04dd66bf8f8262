// The checks of a request that come before any input is read whole: the output, the board
// against the method, and the method bytes of the images.
#include "deltamaker/builder/build_p.h"
#include "deltamaker/builder/fota_log_p.h"

#include <string>
#include <sys/stat.h>
#include <utility>

namespace deltamaker::detail {

namespace {

constexpr int kError = FOTA_LOG_ERROR;
constexpr int kInfo = FOTA_LOG_INFO;

bool isDiffCode(uint8_t b) { return b == kMethodCodeDiff || b == kMethodCodeCZ; }

} // namespace

bool output_usable(const char *output)
{
    struct stat st;
    if (::stat(output, &st) != 0 || S_ISREG(st.st_mode))
        return true;
    std::string kind;
    input_file_problem(output, kind);
    fota_log(kError, "output %s exists and is %s, not a regular file: it is left alone\n",
             output, kind.c_str());
    return false;
}

bool output_is_an_input(const PackRequest &req)
{
    struct stat out;
    if (::stat(req.output_path, &out) != 0)
        return false;
    for (const char *in : {req.partition_path, req.boot_path, req.old_path, req.new_path,
                           req.nv1_path, req.nv2_path}) {
        struct stat st;
        if (has_path(in) && ::stat(in, &st) == 0 && st.st_dev == out.st_dev &&
            st.st_ino == out.st_ino)
            return true;
    }
    return false;
}

namespace {

// The caller's name of a method, quoted, or null when it has none.
const char *named_method(const PackRequest &req, int32_t method)
{
    if (!req.method_names || method < 0 || method > 4)
        return nullptr;
    return req.method_names[method] && req.method_names[method][0] ? req.method_names[method] : nullptr;
}

} // namespace

bool method_suits_board(int type, const PackRequest &req)
{
    const int32_t m = req.method;
    // With the caller's names (the window's buttons) the suggestion names what to press.
    const char *asked = named_method(req, m);
    const char *block = named_method(req, 1);
    const char *inPlace = named_method(req, 3);
    if (type == kBoardZN3150) {
        if (m == 0 || m == 2 || m == 4) {
            if (asked && block && inPlace)
                fota_log(kError, "ZN3150 images cannot be built as \"%s\": ZN3150 takes \"%s\" and \"%s\"\n",
                         asked, block, inPlace);
            else
                fota_log(kError,
                         "ZN3150 images cannot be built with method %d: ZN3150 takes methods 1 and "
                         "3\n",
                         m);
            return false;
        }
        if (m == 3) {
            std::string dropped;
            for (const auto &in : {std::make_pair("boot image", req.boot_path),
                                   std::make_pair("first NV file", req.nv1_path),
                                   std::make_pair("second NV file", req.nv2_path)})
                if (has_path(in.second))
                    dropped += std::string(dropped.empty() ? "" : ", ") + in.first;
            if (!dropped.empty()) {
                if (inPlace && block)
                    fota_log(kError,
                             "ZN3150 in-place packages (\"%s\") have no place for the boot image "
                             "or NV files and would ignore: %s. Leave them out or press \"%s\"\n",
                             inPlace, dropped.c_str(), block);
                else
                    fota_log(kError,
                             "ZN3150 in-place packages (method 3) have no place for the boot image "
                             "or NV files and would ignore: %s. Leave them out or use method 1\n",
                             dropped.c_str());
                return false;
            }
        }
    }
    if (type == kBoardKLM4410 && (has_path(req.nv1_path) || has_path(req.nv2_path))) {
        fota_log(kError, "KLM4410 not support NV update\n");
        return false;
    }
    return true;
}

bool method_check(int type, const PackRequest &req, BuildInputs &inputs)
{
    const int32_t m = req.method;
    if (type == kBoardZN3150) {
        if (m == 0 || m == 4) {
            fota_log(kInfo, "update method CZ\n");
            return true;
        }
        if (m == 1 || m == 3) {
            fota_log(kInfo, "update method DIFF\n");
            return true;
        }
        fota_log(kError, "ZN3150 not support the update method\n");
        return false;
    }
    if (type == kBoardKLM4410) {
        uint8_t b = 0;
        if (!inputs.methodByte(Input::New, b))
            return false;
        if ((m == 0 || m == 4) && isDiffCode(b)) {
            fota_log(kInfo, "update method CZ\n");
            return true;
        }
        uint8_t a = 0;
        const bool withOld = inputs.given(Input::Old);
        if (withOld && !inputs.methodByte(Input::Old, a))
            return false;
        if (withOld) {
            if ((m == 1 || m == 3) && isDiffCode(a) && isDiffCode(b)) {
                fota_log(kInfo, "update method DIFF\n");
                return true;
            }
            if (m == 2 && a == kMethodCodeAB && b == kMethodCodeAB) {
                fota_log(kInfo, "update method AB\n");
                return true;
            }
        }
        fota_log(kError, "update method 0x%x not match. A method 0x%x B method 0x%x\n",
                 static_cast<unsigned>(m), a, b);
        return false;
    }
    fota_log(kError, "unknown image type 0x%x\n", static_cast<unsigned>(type));
    return false;
}

} // namespace deltamaker::detail
