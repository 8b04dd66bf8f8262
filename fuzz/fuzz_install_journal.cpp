// The journal of an interrupted installation, as the next installation and the host at start
// read it. Whatever it says, nothing outside the working folder is touched, every message has
// its text, and the journal is gone exactly when the recovery reports success.
#include "fuzz/fuzz_target.h"
#include "host/packages/install_journal.h"
#include "host/packages/package_installer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {
QString g_base;

bool put(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// A working folder as an installation leaves it: old files, a backup and a temporary file,
// a folder it made, and a link to a folder outside.
void makeTree()
{
    QDir(g_base + QStringLiteral("/wd")).removeRecursively();
    const QString wd = g_base + QStringLiteral("/wd");
    if (!QDir().mkpath(wd + QStringLiteral("/sub/made")) || !put(wd + QStringLiteral("/a.txt"), "new a")
        || !put(wd + QStringLiteral("/a.txt.tessel-old-0000000a"), "old a")
        || !put(wd + QStringLiteral("/sub/b.txt"), "b")
        || !put(wd + QStringLiteral("/sub/b.txt.tessel-new-0000000b"), "part")
        || !QFile::link(g_base + QStringLiteral("/outside"), wd + QStringLiteral("/out"))) {
        std::perror("fuzz_install_journal: tree");
        std::abort();
    }
}

QByteArray outsideState()
{
    QByteArray state;
    for (const QFileInfo &fi : QDir(g_base + QStringLiteral("/outside")).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)) {
        QFile f(fi.filePath());
        state += fi.fileName().toUtf8() + '=' + (f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("?")) + ';';
    }
    return state;
}
} // namespace

void fuzzSetUp()
{
    const std::string dir = fuzzTempDir("fuzz-journal");
    g_base = QString::fromStdString(dir);
    if (dir.empty() || !QDir().mkpath(g_base + QStringLiteral("/outside"))
        || !put(g_base + QStringLiteral("/outside/secret.txt"), "secret")
        || !put(g_base + QStringLiteral("/outside/x.tessel-old-00000001"), "x")) {
        std::perror("fuzz_install_journal: set-up");
        std::abort();
    }
}

// Journals as installations leave them: cut at each change, finished, and with paths that
// lead outside.
void fuzzSeeds(FuzzSeeds &seeds)
{
    const QByteArray lines[] = {
        "tessel-install 1\n",
        "folder\tsub/made\n",
        "kept\ta.txt\ta.txt.tessel-old-0000000a\n",
        "created\tsub/made/new.txt\n",
        "temp\tsub/b.txt.tessel-new-0000000b\n",
        "kept\tout/secret.txt\tout/secret.txt.tessel-old-00000001\n",
        "done\n",
    };
    QByteArray journal;
    for (const QByteArray &line : lines) {
        journal += line;
        seeds.emplace_back(journal.begin(), journal.end());
    }
    const QByteArray outside = "tessel-install 1\ncreated\tout/secret.txt\ntemp\tout/x.tessel-new-00000001\n"
                               "kept\tout/x\tout/x.tessel-old-00000001\n";
    seeds.emplace_back(outside.begin(), outside.end());
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 1 << 16)
        return 0;
    makeTree();
    const QString wd = g_base + QStringLiteral("/wd");
    const QString journal = wd + QLatin1Char('/') + QLatin1String(Packages::kJournalName);
    if (!put(journal, QByteArray(reinterpret_cast<const char *>(data), int(size))))
        std::abort();
    const QByteArray outside = outsideState();
    bool messages = true;
    Packages::PackageInstaller installer(wd, nullptr, [&messages](const Packages::PackageMessage &m) {
        messages = messages && !m.key.isEmpty();
    });
    const bool ok = installer.recover();
    if (outsideState() != outside || !messages)
        __builtin_trap(); // something outside the working folder changed, or a message had no text
    if (ok == QFileInfo::exists(journal))
        __builtin_trap(); // a recovery that reports success removes the journal, a refusal keeps it
    return 0;
}
