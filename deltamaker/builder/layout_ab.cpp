// Layout AB (method 2): the boot, A and B images as they are under a 112-byte header whose CRC
// covers the header only.
#include "deltamaker/builder/build_p.h"
#include "deltamaker/builder/fota_log_p.h"

namespace deltamaker::detail {

namespace {

bool appendNonEmpty(PackageWriter &pkg, const ImageRecord &image)
{
    if (!append_image(pkg, image))
        return false;
    if (image.size() == 0) {
        fota_log(FOTA_LOG_ERROR, "file %s is empty\n", image.path());
        return false;
    }
    return true;
}

} // namespace

int build_ab(Build &b)
{
    const ImageRecord *boot = b.optional(Input::Boot);
    const ImageRecord &a = b.image(Input::Old);
    const ImageRecord &image = b.image(Input::New);
    PackageWriter &pkg = b.package;
    if (boot && !appendNonEmpty(pkg, *boot))
        return -1;
    if (!appendNonEmpty(pkg, a) || !appendNonEmpty(pkg, image))
        return -1;
    uint8_t header[kKHeaderSize] = {};
    fill_magic(header, fota_method_code(b.request.method));
    put_versions(b.versions, kKVersionSize, header + 48, header + 80);
    fota_put32(header + 8, static_cast<uint32_t>(kKHeaderSize + pkg.dataLen()));
    fota_put32(header + 16, boot ? static_cast<uint32_t>(boot->size()) : 0);
    fota_put32(header + 20, static_cast<uint32_t>(a.size()));
    fota_put32(header + 24, static_cast<uint32_t>(image.size()));
    fota_put32(header + 28, a.crc32());
    fota_put32(header + 32, image.crc32());
    fota_put32(header + 12, pkg.crc(header, kKHeaderSize, false, false));
    int64_t size = 0;
    if (!b.writePackage(header, kKHeaderSize, false, kAbWriteTexts, &size))
        return -1;
    return size_check_ab(header) ? 0 : -1;
}

} // namespace deltamaker::detail
