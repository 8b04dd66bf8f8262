// The shipped Deltamaker manuals: present, generated from their current sources, and the ones
// the main window finds for each language.
#include "host/main_window.h"
#include "tests/host/host_test_util.h"
#include "tests/support/test_paths.h"

#include <QCryptographicHash>

#include <gtest/gtest.h>

#include <map>

namespace {
QByteArray sha256Hex(const QString &path)
{
    return QCryptographicHash::hash(readBytes(path), QCryptographicHash::Sha256).toHex();
}

struct Generated {
    QByteArray sourceHash, outputHash;
    QString source;
};

// output (below runtime/docs) -> its record line
std::map<QString, Generated> readRecord()
{
    std::map<QString, Generated> out;
    const QByteArray text = readBytes(TestPaths::sourceDir() + "/docs/manual/manuals.sha256");
    for (const QByteArray &line : text.split('\n')) {
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const QList<QByteArray> f = line.split(' ');
        if (f.size() == 4)
            out[QString::fromUtf8(f[3])] = {f[0], f[1], QString::fromUtf8(f[2])};
    }
    return out;
}

} // namespace

TEST(ManualFiles, EachIsTheGeneratedOutputOfItsCurrentSource)
{
    const auto record = readRecord();
    for (const char *name : {"Deltamaker/zh.doc", "Deltamaker/en.doc", "Deltamaker.doc"}) {
        SCOPED_TRACE(name);
        const QString output = TestPaths::sourceDir() + "/runtime/docs/" + name;
        ASSERT_TRUE(QFileInfo(output).isFile());
        // A Word 97 document is an OLE compound file.
        EXPECT_TRUE(readBytes(output).startsWith(QByteArray::fromHex("d0cf11e0a1b11ae1")));
        const auto it = record.find(QString::fromLatin1(name));
        ASSERT_NE(it, record.end()) << "run scripts/make-manuals.sh";
        const QString source = TestPaths::sourceDir() + "/docs/manual/" + it->second.source;
        ASSERT_TRUE(QFileInfo(source).isFile());
        EXPECT_EQ(sha256Hex(source), it->second.sourceHash) << "source changed: run scripts/make-manuals.sh";
        EXPECT_EQ(sha256Hex(output), it->second.outputHash) << "output is not the generated one";
    }
    EXPECT_TRUE(record.at("Deltamaker/zh.doc").source.endsWith("zh.html"));
    EXPECT_TRUE(record.at("Deltamaker/en.doc").source.endsWith("en.html"));
}

TEST(ManualFiles, FoundForEachLanguageWithTheGeneralOneForOthers)
{
    ScopedWorkDir wd;
    ASSERT_TRUE(copyTreeFiles(TestPaths::sourceDir() + "/runtime/docs", wd.file("docs")));
    MainWindow w;
    const std::pair<const char *, const char *> cases[] = {
        {"zh", "docs/Deltamaker/zh.doc"}, {"en", "docs/Deltamaker/en.doc"}, {"fr", "docs/Deltamaker.doc"}};
    for (const auto &c : cases) {
        ASSERT_TRUE(writeBytes(wd.file("lang/Deltamaker/index.config"), c.first));
        QString path;
        ASSERT_TRUE(w.findManual("Deltamaker", path)) << c.first;
        EXPECT_EQ(path, wd.file(c.second)) << c.first;
    }
    QString path;
    EXPECT_FALSE(w.findManual("Other", path));
}
