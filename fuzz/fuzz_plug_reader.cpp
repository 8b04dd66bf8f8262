// The plug-in package reader (*.plug), as the installer and tessel-pkg call it. A package it
// accepts is written again, entry by entry, into exactly the same bytes.
#include "fuzz/fuzz_target.h"
#include "host/packages/package_format.h"

#include <QByteArray>
#include <QTextCodec>

using namespace Packages;

namespace {
FuzzSeeds::value_type bytes(const QByteArray &b) { return {b.begin(), b.end()}; }

QByteArray entry(const QByteArray &path, const QByteArray &data)
{
    QByteArray out;
    appendEntry(out, path, data);
    return out;
}
} // namespace

void fuzzSetUp() {}

// Packages as the generator writes them: nested folders, a GBK path, an empty file, the same
// path twice.
void fuzzSeeds(FuzzSeeds &seeds)
{
    const QByteArray gbk =
        QTextCodec::codecForName("GBK")->fromUnicode(QString::fromUtf8("docs/插件/说明.doc"));
    seeds.push_back(bytes(entry("plugins/Demo/Demo.so", QByteArray(300, '\x7f'))));
    seeds.push_back(bytes(entry("lang/Demo/zh.lang", "<lang/>") + entry(gbk, "manual") +
                          entry("config/Demo/index.config", QByteArray())));
    seeds.push_back(bytes(entry("a/b", "1") + entry("a/b", "22")));
    seeds.push_back({});
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > size_t(1) << 20)
        return 0;
    const QByteArray package =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    QVector<PackageEntry> entries;
    PackageMessage error;
    if (!parsePackage(package, entries, error)) {
        if (error.key.isEmpty())
            __builtin_trap(); // every refusal names its message
        return 0;
    }
    QByteArray again;
    for (const PackageEntry &e : entries) {
        if (e.dataOffset < 0 || e.dataSize < 0 || e.dataOffset > package.size() - e.dataSize ||
            !isPlainRelativePath(e.path))
            __builtin_trap();
        if (!appendEntry(again, e.rawPath, package.mid(e.dataOffset, e.dataSize)))
            __builtin_trap();
    }
    if (again != package)
        __builtin_trap(); // accepted bytes are exactly the entries read
    return 0;
}
