#include "deltamaker/builder/image_record_p.h"

#include "deltamaker/builder/firmware_input_p.h"
#include "deltamaker/builder/fota_log_p.h"
#include "deltamaker/format/package_layout.h"

#include <cstring>

namespace deltamaker::detail {

namespace {
// The first bytes of an image that the checks before the whole read look at: the board word
// and the KLM4410 method byte at 112.
constexpr size_t kHeadSize = 128;
} // namespace

const char *input_name(Input in)
{
    static const char *const names[kInputCount] = {"partition table", "boot image",
                                                   "old image",       "new image",
                                                   "first NV file",   "second NV file"};
    return names[static_cast<size_t>(in)];
}

BuildInputs::BuildInputs(const PackRequest &request)
{
    const char *paths[kInputCount] = {request.partition_path, request.boot_path,
                                      request.old_path,       request.new_path,
                                      request.nv1_path,       request.nv2_path};
    for (size_t i = 0; i < kInputCount; ++i)
        slots_[i].path = paths[i] ? paths[i] : "";
}

const char *BuildInputs::path(Input in) const
{
    return given(in) ? slot(in).path.c_str() : nullptr;
}

bool BuildInputs::open(bool &unreadable)
{
    unreadable = false;
    for (size_t i = 0; i < kInputCount; ++i) {
        Slot &s = slots_[i];
        if (s.path.empty())
            continue;
        const char *what = input_name(static_cast<Input>(i));
        std::string why;
        switch (s.file.open(s.path.c_str(), why, &s.statFailed)) {
        case InputProblem::None:
            break;
        case InputProblem::Unreadable:
            fota_log(FOTA_LOG_ERROR, "cannot open the %s %s: %s\n", what, s.path.c_str(),
                     why.c_str());
            unreadable = true;
            break;
        case InputProblem::NotAFile:
            fota_log(FOTA_LOG_ERROR, "the %s %s is %s, not a regular file\n", what,
                     s.path.c_str(), why.c_str());
            return false;
        }
    }
    return true;
}

bool BuildInputs::readHead(Slot &s)
{
    const char *path = s.path.c_str();
    if (!s.file.isOpen()) {
        // What a read from the path says when the file cannot be opened.
        if (s.statFailed) {
            fota_log(FOTA_LOG_ERROR, "stat %s error \n", path);
            fota_log(FOTA_LOG_ERROR, "file size %d, offset= %d \n", -1, 0);
        } else {
            fota_log(FOTA_LOG_ERROR, "cannot open %s \n", path);
        }
        return false;
    }
    if (!s.headRead) {
        s.headRead = true;
        s.head.resize(kHeadSize);
        const int64_t got = s.file.readAt(0, s.head.data(), s.head.size());
        s.headFailed = got < 0 || (static_cast<uint64_t>(got) < kHeadSize &&
                                   static_cast<uint64_t>(got) != s.file.size());
        s.head.resize(got < 0 ? 0 : static_cast<size_t>(got));
    }
    if (s.headFailed) {
        fota_log(FOTA_LOG_ERROR, "read %s failed \n", path);
        return false;
    }
    return true;
}

int BuildInputs::boardType(Input in)
{
    Slot &s = slot(in);
    if (!readHead(s) || s.head.size() < 4)
        return kBoardUnknown;
    return board_type_of_word(fota_get32(s.head.data()));
}

bool BuildInputs::methodByte(Input in, uint8_t &out)
{
    Slot &s = slot(in);
    if (!readHead(s))
        return false;
    if (s.head.size() < kHeadSize) {
        fota_log(FOTA_LOG_ERROR, "%s is shorter than 128 bytes\n", s.path.c_str());
        return false;
    }
    out = s.head[112];
    return true;
}

int BuildInputs::loadTable(int boardType)
{
    const Slot &s = slot(Input::Table);
    return part_table_read(s.file, s.path.c_str(), boardType);
}

bool BuildInputs::readRecord(Input in)
{
    Slot &s = slot(in);
    ImageRecord &r = s.record;
    r.path_ = s.path;
    // The bytes every check so far has seen must be the bytes read now.
    const bool same = s.file.readWhole(r.bytes_) &&
                      (!s.headRead || (r.bytes_.size() >= s.head.size() &&
                                       std::memcmp(r.bytes_.data(), s.head.data(),
                                                   s.head.size()) == 0));
    s.file.close();
    if (!same) {
        r.bytes_.clear();
        fota_log(FOTA_LOG_ERROR, "the %s %s changed while the build read it\n", input_name(in),
                 s.path.c_str());
        return false;
    }
    r.size_ = static_cast<int64_t>(r.bytes_.size());
    r.board_ = r.bytes_.size() >= 4 ? board_type_of_word(fota_get32(r.bytes_.data()))
                                    : kBoardUnknown;
    if (in == Input::Old || in == Input::New)
        r.crc_ = fota_crc32(0, r.bytes_.data(), r.bytes_.size());
    s.read = true;
    return true;
}

bool BuildInputs::readAll()
{
    for (Input in : {Input::Boot, Input::Old, Input::New, Input::Nv1, Input::Nv2})
        if (given(in) && !readRecord(in))
            return false;
    slot(Input::Table).file.close();
    return true;
}

const ImageRecord *BuildInputs::record(Input in) const
{
    const Slot &s = slot(in);
    return s.read ? &s.record : nullptr;
}

void BuildInputs::release()
{
    for (Slot &s : slots_)
        std::vector<uint8_t>().swap(s.record.bytes_);
}

} // namespace deltamaker::detail
