// The package template reader (*.tpl), as the generator window and tessel-pkg call it. A
// template it accepts names plain paths inside the working folder, and is written again
// into the same list.
#include "fuzz/fuzz_target.h"
#include "fuzz/xml_seeds.h"
#include "host/packages/package_files.h"

#include <QDir>
#include <QFile>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {
QString g_dir;

bool put(const QString &path, const char *data, qint64 size)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data, size) == size;
}
} // namespace

void fuzzSetUp()
{
    const std::string dir = fuzzTempDir("fuzz-template");
    if (dir.empty() || chdir(dir.c_str()) != 0) {
        std::perror("fuzz_template_file: set-up");
        std::abort();
    }
    g_dir = QDir::currentPath();
}

// Templates as the generator saves them, and files at the limits of what one may cost.
void fuzzSeeds(FuzzSeeds &seeds)
{
    const QString path = g_dir + QStringLiteral("/seed.tpl");
    if (Packages::saveTemplate({g_dir + QStringLiteral("/plugins/Tool/Tool.so"),
                                g_dir + QString::fromUtf8("/文档/说明.doc"), g_dir + QStringLiteral("/top.txt")},
                               path)) {
        QFile f(path);
        if (f.open(QIODevice::ReadOnly)) {
            const QByteArray bytes = f.readAll();
            seeds.emplace_back(bytes.begin(), bytes.end());
        }
        QFile::remove(path);
    }
    const QByteArray empty = "<?xml version = \"1.0\" encoding = \"GBK\"?>\n<ROOT/>\n";
    seeds.emplace_back(empty.begin(), empty.end());
    XmlSeeds::addLimitSeeds(seeds, "<ROOT>", "</ROOT>\n", "<FILE VALUE=\"a/b.txt\"", "<FILE VALUE=\"a\"");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString path = g_dir + QStringLiteral("/t.tpl");
    if (!put(path, reinterpret_cast<const char *>(data), qint64(size)))
        std::abort();
    QStringList files;
    QString why;
    if (!Packages::loadTemplate(path, files, &why)) {
        if (why.isEmpty())
            __builtin_trap(); // every refusal says why
        return 0;
    }
    QString relative;
    for (const QString &file : files) {
        if (!Packages::relativeToWorkDir(file, g_dir, relative))
            __builtin_trap(); // a path that leaves the working folder was accepted
    }
    // Saved and read again: the same list (small inputs only, to stay within the time limit).
    const QString again = g_dir + QStringLiteral("/again.tpl");
    QStringList reread;
    if (size <= 64 * 1024 && !files.isEmpty() && Packages::saveTemplate(files, again)
        && (!Packages::loadTemplate(again, reread) || reread != files))
        __builtin_trap();
    return 0;
}
