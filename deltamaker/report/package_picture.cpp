#include "deltamaker/report/package_picture.h"

#include "deltamaker/format/firmware_layout.h"
#include "deltamaker/io/whole_file.h"

#include <algorithm>
#include <cstring>

using deltamaker::detail::format_text;

const char *const kPictureColourPatched = "#409eff";
const char *const kPictureColourStored = "#67c23a";
const char *const kPictureColourMoved = "#e6a23c";
const char *const kPictureColourUnsafe = "#f56c6c";

namespace {

constexpr double kWidth = 1000;
constexpr double kLeft = 160;  // labels to the left of the bars
constexpr double kBar = 820;   // bar width
constexpr double kMinShape = 1.0; // thinner shapes would not show

std::string baseName(const std::string &path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string kib(uint64_t bytes)
{
    return bytes < 10 * 1024 ? format_text("%llu bytes", (unsigned long long)bytes)
                             : format_text("%.1f KiB", double(bytes) / 1024.0);
}

std::string hex(uint64_t v) { return format_text("0x%08llx", (unsigned long long)v); }

struct Kind {
    const char *name;
    const char *colour;
};

Kind kindOf(const DeviceStep &st, bool analysed)
{
    if (analysed && st.unsafe)
        return {"unsafe", kPictureColourUnsafe};
    if (st.kind == DeviceStepKind::Move)
        return {"moved", kPictureColourMoved};
    if (st.patched)
        return {"patched", kPictureColourPatched};
    return {"stored alone", kPictureColourStored};
}

std::string stepTitle(const DeviceStep &st, bool analysed)
{
    std::string t = format_text("%s (%s): %s..%s, %llu bytes, %s", st.what.c_str(),
                                st.partition.c_str(), hex(st.addr).c_str(),
                                hex(st.addr + st.len).c_str(), (unsigned long long)st.len,
                                kindOf(st, analysed).name);
    if (st.kind == DeviceStepKind::Move)
        t += ", from " + hex(st.src);
    t += format_text(", %.1f ms", st.ms);
    if (analysed && st.unsafe)
        t += format_text("; %llu bytes at risk: %s", (unsigned long long)st.bytesAtRisk,
                         st.reason.c_str());
    return t;
}

PictureShape rect(double x, double y, double w, double h, const std::string &fill,
                  const std::string &cls, const std::string &title = std::string(),
                  const std::string &stroke = std::string())
{
    PictureShape s;
    s.kind = PictureShape::Rect;
    s.x = x;
    s.y = y;
    s.w = std::max(w, kMinShape);
    s.h = h;
    s.fill = fill;
    s.cls = cls;
    s.title = title;
    s.stroke = stroke;
    return s;
}

PictureShape text(double x, double y, const std::string &t, int size = 12, bool bold = false,
                  int anchor = 0, const std::string &fill = "#303133")
{
    PictureShape s;
    s.kind = PictureShape::Text;
    s.x = x;
    s.y = y;
    s.text = t;
    s.fontSize = size;
    s.bold = bold;
    s.anchor = anchor;
    s.fill = fill;
    s.cls = "label";
    return s;
}

PictureShape line(double x, double y, double w, double h)
{
    PictureShape s;
    s.kind = PictureShape::Line;
    s.x = x;
    s.y = y;
    s.w = w;
    s.h = h;
    s.stroke = "#909399";
    s.cls = "axis";
    return s;
}

// Partitions where the package puts them, when no table is given: block records name their
// addresses; other images go one after another from 0, each partition rounded to 64 KiB.
std::vector<PartEntry> partsFromPackage(const PackageInfo &info)
{
    const bool z = info.layout == PackageLayout::Z1 || info.layout == PackageLayout::Z3;
    std::vector<PartEntry> parts = predefined_part_entries(z ? kBoardZN3150 : kBoardKLM4410);
    const auto add = [&parts](const std::string &name, uint64_t addr, uint64_t size) {
        for (const PartEntry &e : parts)
            if (part_name_equals(e.name, name.c_str()))
                return;
        PartEntry e{};
        std::memcpy(e.name, name.data(), std::min(name.size(), kPartNameSize));
        e.addr = static_cast<uint32_t>(addr);
        e.size = static_cast<uint32_t>(std::max<uint64_t>(size, 0x10000));
        parts.push_back(e);
    };
    const auto round64k = [](uint64_t v) { return (v + 0xFFFF) & ~uint64_t(0xFFFF); };
    if (!info.records.empty()) {
        std::vector<std::string> names;
        for (const PackageRecord &r : info.records)
            if (std::find(names.begin(), names.end(), r.name) == names.end())
                names.push_back(r.name);
        for (const std::string &name : names) {
            uint64_t lo = UINT64_MAX, hi = 0;
            for (const PackageRecord &r : info.records)
                if (r.name == name) {
                    lo = std::min<uint64_t>(lo, r.addr);
                    hi = std::max<uint64_t>(hi, uint64_t(r.addr) + std::max(r.newLen, r.oldLen));
                }
            add(name, lo, round64k(hi - lo));
        }
    }
    uint64_t at = 0;
    for (const PartEntry &e : parts)
        at = std::max<uint64_t>(at, uint64_t(e.addr) + e.size);
    at = round64k(at);
    if (!z) {
        add("uboot", at, round64k(info.bootSize));
        for (const PartEntry &e : parts)
            at = std::max<uint64_t>(at, uint64_t(e.addr) + e.size);
    }
    const uint64_t images = info.layout == PackageLayout::AB
                                ? 2 * round64k(std::max(info.aSize, info.bSize))
                                : round64k(std::max(info.words[1], info.words[2]));
    add(z ? "cpu1" : "cpu", round64k(at), images);
    return parts;
}

void addFacts(PackagePicture &p, const std::string &file, const std::vector<uint8_t> &pkg,
              const PackageInfo &info, const DeviceRunResult &r)
{
    auto fact = [&p](const std::string &k, const std::string &v) { p.facts.emplace_back(k, v); };
    fact("File", baseName(file) + format_text(" (%zu bytes)", pkg.size()));
    fact("Layout", format_text("%s, method byte 0x%02x", package_layout_name(info.layout),
                               info.method));
    fact("Header CRC-32", format_text("0x%08x %s", info.crc,
                                      info.crc == info.crcComputed ? "valid" : "INVALID"));
    fact("Versions", "\"" + info.srcVersion + "\" to \"" + info.tgtVersion + "\"");
    if (info.layout == PackageLayout::AB)
        fact("Images", format_text("boot %zu, A %zu, B %zu bytes", info.bootSize, info.aSize,
                                   info.bSize));
    else if (info.records.empty())
        fact("Images", format_text("boot %zu, old %u (CRC-32 0x%08x), new %u bytes",
                                   info.bootSize, info.words[1], info.words[3], info.words[2]));
    size_t patched = 0, windows = 0, moves = 0;
    for (const PackageRecord &rec : info.records)
        patched += rec.type == 1;
    for (const DeviceStep &st : r.steps) {
        windows += st.kind == DeviceStepKind::Window;
        moves += st.kind == DeviceStepKind::Move;
    }
    if (!info.records.empty())
        fact("Records", format_text("%zu: %zu patched, %zu stored alone", info.records.size(),
                                    patched, info.records.size() - patched));
    if (windows)
        fact("In-place patch", format_text("%zu windows, %zu moves (%s moved)", windows, moves,
                                           kib(r.total.bytesMoved).c_str()));
    fact("Flash model", r.flash.name + ": " + flash_profile_fields(r.flash));
    fact("Device time (estimate)", format_text("%.2f s over %zu steps", r.total.ms / 1000.0,
                                               r.steps.size()));
    fact("Flash work", format_text("%llu erase units erased, %s programmed, at most %llu erases "
                                   "of one unit",
                                   (unsigned long long)r.total.sectorsErased,
                                   kib(r.total.bytesProgrammed).c_str(),
                                   (unsigned long long)r.total.maxEraseCount));
    fact("Loader RAM (peak)", kib(r.total.peakRam));
    fact("Result", !r.completed            ? "the loader stops"
                   : r.total.matches > 0  ? "matches the new images (SHA-256)"
                   : r.total.matches == 0 ? "DIFFERS from the new images"
                                          : "not compared (no new images given)");
    if (r.analysed)
        fact("Power cuts", format_text("%llu of %zu steps unsafe, %llu bytes at risk",
                                       (unsigned long long)r.total.unsafeSteps, r.steps.size(),
                                       (unsigned long long)r.total.bytesAtRisk));
    else
        fact("Power cuts", "not analysed: the old image is not given");
}

void drawLegend(PackagePicture &p, double &y, bool analysed)
{
    const Kind kinds[] = {{"patched", kPictureColourPatched},
                          {"stored alone", kPictureColourStored},
                          {"moved", kPictureColourMoved},
                          {"unsafe under the resume model", kPictureColourUnsafe}};
    double x = kLeft;
    for (const Kind &k : kinds) {
        if (!analysed && k.colour == kPictureColourUnsafe)
            continue;
        p.shapes.push_back(rect(x, y, 12, 12, k.colour, "legend"));
        p.shapes.push_back(text(x + 18, y + 11, k.name));
        x += 30 + 7.0 * std::string(k.name).size();
    }
    y += 30;
}

void drawImage(PackagePicture &p, double &y, const DeviceRunResult &r, size_t slot,
               const std::vector<size_t> &steps)
{
    const DeviceImageResult &img = r.images[slot];
    p.shapes.push_back(text(8, y + 12, img.partition, 13, true));
    p.shapes.push_back(text(8, y + 28, "image: " + img.image, 11));
    p.shapes.push_back(text(8, y + 42, "partition " + kib(img.partSize), 11));
    // The partition to scale, with the image's extent in it.
    const double partSize = std::max<double>(1, double(img.partSize));
    p.shapes.push_back(rect(kLeft, y, kBar, 12, "#f0f0f0", "partition",
                            format_text("partition %s: %s, %s", img.partition.c_str(),
                                        hex(img.partAddr).c_str(), kib(img.partSize).c_str()),
                            "#dddddd"));
    p.shapes.push_back(rect(kLeft + kBar * double(img.addr - img.partAddr) / partSize, y,
                            kBar * double(img.size) / partSize, 12, "#909399", "extent",
                            format_text("%s image: %s..%s", img.image.c_str(),
                                        hex(img.addr).c_str(),
                                        hex(img.addr + img.size).c_str())));
    y += 18;
    // What the package writes there, to the scale of the written extent.
    uint64_t end = img.addr + std::max<uint64_t>(img.size, 1);
    for (size_t i : steps)
        end = std::max(end, r.steps[i].addr + r.steps[i].len);
    const double scale = kBar / double(end - img.addr);
    p.shapes.push_back(rect(kLeft, y, kBar, 28, "#fafafa", "frame", "", "#dddddd"));
    bool anyMove = false;
    for (size_t i : steps) {
        const DeviceStep &st = r.steps[i];
        const bool move = st.kind == DeviceStepKind::Move;
        anyMove = anyMove || move;
        const char *cls = st.kind == DeviceStepKind::Record   ? "record"
                          : st.kind == DeviceStepKind::Window ? "window"
                          : move                              ? "move"
                                                              : "stored";
        p.shapes.push_back(rect(kLeft + double(st.addr - img.addr) * scale, move ? y + 32 : y,
                                double(st.len) * scale, move ? 10 : 28,
                                kindOf(st, r.analysed).colour, cls, stepTitle(st, r.analysed),
                                move ? "" : "#ffffff"));
    }
    y += anyMove ? 44 : 30;
    p.shapes.push_back(text(kLeft, y + 10, hex(img.addr), 10));
    p.shapes.push_back(text(kLeft + kBar, y + 10, hex(end), 10, false, 2));
    if (anyMove)
        p.shapes.push_back(text(kLeft - 6, y - 4, "moves", 10, false, 2));
    y += 28;
}

void drawTimeline(PackagePicture &p, double &y, const DeviceRunResult &r)
{
    p.shapes.push_back(text(8, y + 12, "steps", 13, true));
    p.shapes.push_back(text(8, y + 28, format_text("%.2f s", r.total.ms / 1000.0), 11));
    const double total = std::max(r.total.ms, 1e-9);
    double at = 0;
    for (size_t i = 0; i < r.steps.size(); ++i) {
        const DeviceStep &st = r.steps[i];
        p.shapes.push_back(rect(kLeft + kBar * at / total, y, kBar * st.ms / total, 24,
                                kindOf(st, r.analysed).colour, "step",
                                format_text("step %zu, ", i) + stepTitle(st, r.analysed)));
        at += st.ms;
    }
    y += 28;
    p.shapes.push_back(line(kLeft, y, kBar, 0));
    for (int k = 0; k <= 5; ++k) {
        const double x = kLeft + kBar * k / 5.0;
        p.shapes.push_back(line(x, y, 0, 4));
        p.shapes.push_back(text(x, y + 16, format_text("%.2f s", total * k / 5.0 / 1000.0), 10,
                                false, k == 0 ? 0 : k == 5 ? 2 : 1));
    }
    y += 26;
}

} // namespace

namespace {

bool validUtf8(const std::string &s)
{
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        const size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > s.size())
            return false;
        for (size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80)
                return false;
        i += n;
    }
    return true;
}

} // namespace

std::string html_escape(const std::string &text)
{
    // A version text from a hostile header may be any bytes: the page stays valid UTF-8.
    std::string s = text;
    if (!validUtf8(s))
        for (char &c : s)
            if (static_cast<unsigned char>(c) >= 0x80)
                c = '?';
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20 && c != '\n' && c != '\t')
                out += '?'; // not allowed in XML
            else
                out += c;
        }
    }
    return out;
}

bool package_picture_files(const DeviceRunFiles &files, const FlashProfile &flash,
                           PackagePicture &picture, std::string &error)
{
    picture = PackagePicture();
    std::vector<uint8_t> pkg;
    std::string why;
    if (!deltamaker::detail::read_file_bytes(files.package, pkg, why,
                                             deltamaker::detail::kMaxPackageFile)) {
        error = "cannot read the package: " + why;
        return false;
    }
    PackageInfo info;
    std::vector<std::string> findings;
    if (!package_read(pkg.data(), pkg.size(), info, findings, files.method)) {
        error = "the package cannot be read: " + (findings.empty() ? "" : findings.front());
        return false;
    }
    DeviceRunFiles run = files;
    run.requireOld = false;
    DeviceRunResult result;
    std::vector<PartEntry> parts;
    if (files.partition.empty())
        parts = partsFromPackage(info);
    if (!device_run_files(run, flash, !files.oldImage.empty(), result, error, &parts))
        return false;
    picture.title = "FotaPKG package " + baseName(files.package);
    addFacts(picture, files.package, pkg, info, result);
    picture.notes = result.notes;
    if (files.partition.empty())
        picture.notes.push_back("no partition table given: each partition is drawn at the "
                                "extent of what the package writes there");
    if (!result.oldGiven)
        picture.notes.push_back("no old image given: the dry run starts from erased flash, so "
                                "its result is not the device's and power cuts are not "
                                "analysed");
    for (const std::string &f : findings)
        picture.notes.push_back("package: " + f);

    double y = 10;
    drawLegend(picture, y, result.analysed);
    for (size_t k = 0; k < result.images.size(); ++k) {
        std::vector<size_t> steps;
        for (size_t i = 0; i < result.steps.size(); ++i)
            if (result.steps[i].image == k)
                steps.push_back(i);
        drawImage(picture, y, result, k, steps);
    }
    drawTimeline(picture, y, result);
    picture.width = kWidth;
    picture.height = y;
    return true;
}

std::string package_picture_svg(const PackagePicture &p)
{
    std::string s = format_text("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" "
                                "height=\"%.0f\" viewBox=\"0 0 %.0f %.0f\" "
                                "font-family=\"sans-serif\">\n",
                                p.width, p.height, p.width, p.height);
    for (const PictureShape &sh : p.shapes) {
        const std::string title =
            sh.title.empty() ? "" : "<title>" + html_escape(sh.title) + "</title>";
        const std::string stroke =
            sh.stroke.empty() ? "" : " stroke=\"" + sh.stroke + "\" stroke-width=\"0.5\"";
        switch (sh.kind) {
        case PictureShape::Rect:
            s += format_text("<rect class=\"%s\" x=\"%.2f\" y=\"%.2f\" width=\"%.2f\" "
                             "height=\"%.2f\" fill=\"%s\"%s>%s</rect>\n",
                             sh.cls.c_str(), sh.x, sh.y, sh.w, sh.h,
                             sh.fill.empty() ? "none" : sh.fill.c_str(), stroke.c_str(),
                             title.c_str());
            break;
        case PictureShape::Text:
            s += format_text("<text class=\"%s\" x=\"%.2f\" y=\"%.2f\" font-size=\"%d\"%s%s "
                             "fill=\"%s\">%s</text>\n",
                             sh.cls.c_str(), sh.x, sh.y, sh.fontSize,
                             sh.bold ? " font-weight=\"bold\"" : "",
                             sh.anchor == 1   ? " text-anchor=\"middle\""
                             : sh.anchor == 2 ? " text-anchor=\"end\""
                                              : "",
                             sh.fill.c_str(), html_escape(sh.text).c_str());
            break;
        case PictureShape::Line:
            s += format_text("<line class=\"%s\" x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\" "
                             "stroke=\"%s\"/>\n",
                             sh.cls.c_str(), sh.x, sh.y, sh.x + sh.w, sh.y + sh.h,
                             sh.stroke.c_str());
            break;
        }
    }
    return s + "</svg>\n";
}

std::string package_picture_facts_html(const PackagePicture &p)
{
    std::string s = "<table class=\"facts\">\n";
    for (const auto &f : p.facts)
        s += "<tr><th>" + html_escape(f.first) + "</th><td>" + html_escape(f.second) +
             "</td></tr>\n";
    return s + "</table>\n";
}

std::string package_picture_html(const PackagePicture &p)
{
    std::string s = "<!DOCTYPE html>\n<html xmlns=\"http://www.w3.org/1999/xhtml\" lang=\"en\">\n"
                    "<head>\n<meta charset=\"utf-8\"/>\n<title>" +
                    html_escape(p.title) +
                    "</title>\n<style>\n"
                    "body { font-family: sans-serif; color: #303133; margin: 16px; }\n"
                    "h1 { font-size: 20px; color: #409eff; }\n"
                    "h2 { font-size: 16px; margin-top: 20px; }\n"
                    "table.facts { border-collapse: collapse; }\n"
                    "table.facts th, table.facts td { border: 1px solid #dddddd; "
                    "padding: 3px 8px; text-align: left; vertical-align: top; }\n"
                    "table.facts th { background: #f0f0f0; font-weight: normal; }\n"
                    "svg rect:hover { opacity: 0.7; }\n"
                    "p.model { max-width: 980px; font-size: 13px; }\n"
                    "</style>\n</head>\n<body>\n<h1>" +
                    html_escape(p.title) + "</h1>\n";
    s += package_picture_facts_html(p);
    if (!p.notes.empty()) {
        s += "<ul class=\"notes\">\n";
        for (const std::string &n : p.notes)
            s += "<li>" + html_escape(n) + "</li>\n";
        s += "</ul>\n";
    }
    s += "<h2>Flash map and steps</h2>\n<p class=\"model\">Each partition is drawn to scale "
         "(grey: the image in it), then what the package writes there to the scale of the "
         "written extent: one shape per record, window or stored image, moves below it. The "
         "steps follow on a time line of the dry run's estimate. Point at a shape for its "
         "details.</p>\n";
    s += package_picture_svg(p);
    s += "<p class=\"model\">Resume model: " + html_escape(kResumeModelText) + "</p>\n";
    return s + "</body>\n</html>\n";
}
