// The language file reader: the input is a context's current language file, read through the
// text lookup, the language record and the language list.
#include "fuzz/fuzz_target.h"
#include "fuzz/xml_seeds.h"
#include "host/languages/lang_store.h"

#include <QByteArray>
#include <QDir>
#include <QFile>

#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <unistd.h>

namespace {
const QString kContext = QStringLiteral("Fuzz");
constexpr size_t kSmall = 64 * 1024;

bool put(const QString &path, const char *data, size_t size)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           f.write(data, qint64(size)) == qint64(size);
}
} // namespace

void fuzzSetUp()
{
    const std::string dir = fuzzTempDir("fuzz-lang");
    if (dir.empty() || chdir(dir.c_str()) != 0 || !QDir().mkpath(QStringLiteral("lang/Fuzz")) ||
        !put(langIndexPath(kContext), "x", 1)) {
        std::perror("fuzz_lang_file: set-up");
        std::abort();
    }
}

namespace {
FuzzSeeds::value_type bytes(const QByteArray &b) { return {b.begin(), b.end()}; }
} // namespace

// Languages as the language manager writes them, nested keys, other encodings, and files at
// the limits of what a language file may cost.
void fuzzSeeds(FuzzSeeds &seeds)
{
    LangStore store;
    QString path;
    if (store.createLangFile(kContext, QStringLiteral("new"), QStringLiteral("New"), path)) {
        QFile f(path);
        if (f.open(QIODevice::ReadOnly))
            seeds.push_back(bytes(f.readAll()));
    }
    seeds.push_back(bytes("<?xml version = \"1.0\" encoding = \"GBK\"?>\n<lang name=\"English\">\n"
                          " <main name=\"m\">\n  <menu><genPkg name=\"Make package\"/></menu>\n </main>\n"
                          " <genPkg><title name=\"Generate\"/></genPkg>\n <a><b><c name=\"abc\"/></b></a>\n"
                          "</lang>\n"));
    seeds.push_back(bytes("<?xml version=\"1.0\" encoding=\"UTF-8\"?><LANG name=\"x\"><A name=\"1\"/>"
                          "<!-- c --><a name=\"2\">text<b/></a></LANG>"));
    const QString u16 = QString::fromUtf8("<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n"
                                          "<lang name=\"不\"><a name=\"不\"/></lang>\r\n");
    seeds.push_back(bytes(QByteArray("\xff\xfe", 2) +
                          QByteArray(reinterpret_cast<const char *>(u16.utf16()), u16.size() * 2)));
    XmlSeeds::addLimitSeeds(seeds, "<lang name=\"x\">", "</lang>\n", "<a name=\"y\"", "<a");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString path = langFilePath(kContext, QStringLiteral("x"));
    if (!put(path, reinterpret_cast<const char *>(data), size))
        std::abort();
    LangStore store;
    // A file that does not load is read again by every lookup: large inputs get two.
    const char *const keys[] = {"main/menu/genPkg", "a/b/c", "genPkg/title", "a", "lang", "",
                                "setting/nodeType/root", "x//y"};
    for (size_t i = 0; i < (size <= kSmall ? std::size(keys) : 2); ++i)
        store.text(kContext, QString::fromLatin1(keys[i]));
    // The same reader again through the language record and list: for small inputs only, so
    // that one large input costs one load and stays within the time limit.
    if (size <= kSmall) {
        LANG_INFO info;
        readLangInfo(path, info);
        QList<LANG_INFO> list;
        store.loadLangList(kContext, list);
    }
    return 0;
}
