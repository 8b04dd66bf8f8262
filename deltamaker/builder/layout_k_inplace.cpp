// Layout K in-place (method 3): the boot image as is, then the in-place patch, under a
// 112-byte header.
#include "deltamaker/builder/build_p.h"

namespace deltamaker::detail {

int build_k_inplace(Build &b)
{
    constexpr int64_t kReserve = 40960;
    const ImageRecord &old = b.image(Input::Old);
    const ImageRecord &image = b.image(Input::New);
    const ImageRecord *boot = b.optional(Input::Boot);
    if (boot && !append_image(b.package, *boot))
        return -1;
    uint8_t header[kKHeaderSize] = {};
    fill_magic(header, fota_method_code(b.request.method));
    put_versions(b.versions, kKVersionSize, header + 48, header + 80);
    fota_put32(header + 16, boot ? static_cast<uint32_t>(boot->size()) : 0);
    fota_put32(header + 20, static_cast<uint32_t>(old.size()));
    fota_put32(header + 24, static_cast<uint32_t>(image.size()));
    fota_put32(header + 28, old.crc32());
    if (!append_inplace_patch(b))
        return -1;
    fota_put32(header + 8, static_cast<uint32_t>(kKHeaderSize + b.package.dataLen()));
    fota_put32(header + 12, b.package.crc(header, kKHeaderSize, false, true));
    int64_t size = 0;
    if (!b.writePackage(header, kKHeaderSize, false, kWriteTexts, &size))
        return -1;
    return size_check(b, size, "uboot", "cpu", nullptr, kReserve) ? 0 : -1;
}

} // namespace deltamaker::detail
