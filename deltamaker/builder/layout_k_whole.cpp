// Layout K whole image (method 4): the boot image as is, then one LZMA stream of the new image,
// under a 112-byte header.
#include "deltamaker/builder/build_p.h"
#include "deltamaker/builder/fota_log_p.h"

namespace deltamaker::detail {

int build_k_whole(Build &b)
{
    constexpr int64_t kReserve = 8192;
    const ImageRecord *old = b.optional(Input::Old);
    const ImageRecord &image = b.image(Input::New);
    const ImageRecord *boot = b.optional(Input::Boot);
    PackageWriter &pkg = b.package;
    if (boot && !append_image(pkg, *boot))
        return -1;
    uint8_t header[kKHeaderSize] = {};
    fill_magic(header, fota_method_code(b.request.method));
    put_versions(b.versions, kKVersionSize, header + 48, header + 80);
    fota_progress("compressing", -1);
    size_t streamLen = pkg.dataLeft();
    if (pack_stream(b, image.data(), static_cast<size_t>(image.size()),
                    pkg.data() + pkg.dataLen(), &streamLen) != 0) {
        fota_log(FOTA_LOG_ERROR,
                 "compression of %s failed: the compressed image does not fit in the 0x%zx bytes "
                 "left in the data area (data area full)\n",
                 image.path(), pkg.dataLeft());
        return -1;
    }
    pkg.commitData(streamLen);
    fota_put32(header + 8, static_cast<uint32_t>(kKHeaderSize + pkg.dataLen()));
    fota_put32(header + 16, boot ? static_cast<uint32_t>(boot->size()) : 0);
    fota_put32(header + 20, old ? static_cast<uint32_t>(old->size()) : 0);
    fota_put32(header + 24, static_cast<uint32_t>(image.size()));
    fota_put32(header + 28, old ? old->crc32() : 0);
    fota_put32(header + 12, pkg.crc(header, kKHeaderSize, false, true));
    int64_t size = 0;
    if (!b.writePackage(header, kKHeaderSize, false, kWriteTexts, &size))
        return -1;
    return size_check(b, size, "uboot", "cpu", nullptr, kReserve) ? 0 : -1;
}

} // namespace deltamaker::detail
