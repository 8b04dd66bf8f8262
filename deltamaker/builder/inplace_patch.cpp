// The in-place patch of both in-place layouts, made from the image records into the data area.
#include "deltamaker/builder/build_p.h"
#include "deltamaker/builder/fota_log_p.h"
#include "deltamaker/patch/inplace.h"
#include "deltamaker/patch/inplace_p.h"

#include <vector>

namespace deltamaker::detail {

bool append_inplace_patch(Build &b)
{
    const ImageRecord &old = b.image(Input::Old);
    const ImageRecord &image = b.image(Input::New);
    fota_progress("in-place patch", -1);
    set_inplace_progress([](const char *stage, int percent) { fota_progress(stage, percent); });
    struct ForgetProgress {
        ~ForgetProgress() { set_inplace_progress(nullptr); }
    } forgetProgress;
    InplaceOptions options;
    options.optimize = b.optimize;
    options.threads = b.threads;
    std::vector<uint8_t> patch;
    if (sw_bsdiff_new_mem(old.data(), old.size(), image.data(), image.size(), patch, options) !=
        0) {
        fota_log(FOTA_LOG_ERROR, "in-place patch of %s failed\n", image.path());
        return false;
    }
    releaseFreeMemory(); // the generator's buffers, before the package is checked
    if (!b.package.appendData(patch.data(), patch.size())) {
        fota_log(FOTA_LOG_ERROR, "data area full: the in-place patch of %s needs 0x%llx bytes, "
                                 "0x%zx left\n",
                 image.path(), static_cast<unsigned long long>(patch.size()),
                 b.package.dataLeft());
        return false;
    }
    return true;
}

} // namespace deltamaker::detail
