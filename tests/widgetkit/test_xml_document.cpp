// What a language, setting or template file may cost: hostile files are refused within a
// second and a few tens of MB, files at the limits load, every encoding the readers met
// before still decodes, and a refusal names the file and the limit.
#include "widgetkit/sys_regular_file.h"
#include "widgetkit/sys_xml_document.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextCodec>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool sanitized()
{
    return std::getenv("TESSEL_SANITIZE") != nullptr;
}

qint64 statusKb(const char *key)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(int(qstrlen(key))).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

double cpuSeconds()
{
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec
           + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Cost {
    double seconds = 0;  // processor time: the machine may be shared
    double wall = 0;
    qint64 peakMb = -1;  // growth of the resident peak; -1 when it cannot be measured
};

// Time and peak memory growth of `run`.
Cost measure(const std::function<void()> &run)
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    const bool reset = clear.open(QIODevice::WriteOnly) && clear.write("5") == 1;
    clear.close();
    const qint64 before = statusKb("VmRSS:");
    QElapsedTimer timer;
    timer.start();
    const double cpu = cpuSeconds();
    run();
    Cost cost;
    cost.seconds = cpuSeconds() - cpu;
    cost.wall = timer.nsecsElapsed() / 1e9;
    if (reset && before >= 0)
        cost.peakMb = (statusKb("VmHWM:") - before) / 1024;
    return cost;
}

// Within a second of processor time and 64 MB (more room under the sanitizers, whose
// allocator costs more).
void expectCheap(const Cost &cost, const QString &what)
{
    const double seconds = sanitized() ? 5.0 : 1.0;
    const qint64 mb = sanitized() ? 256 : 64;
    EXPECT_LT(cost.seconds, seconds) << what.toStdString();
    EXPECT_LT(cost.wall, 20 * seconds) << what.toStdString(); // no waiting either
    if (cost.peakMb >= 0) {
        EXPECT_LT(cost.peakMb, mb) << what.toStdString();
    }
}

class XmlLimits : public ::testing::Test
{
protected:
    QString write(const QString &name, const QByteArray &bytes)
    {
        const QString path = dir.path() + QLatin1Char('/') + name;
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        EXPECT_EQ(f.write(bytes), bytes.size());
        return path;
    }

    // Loads the file, expecting `ok`, within a second and 64 MB.
    void expectLoad(const QString &path, bool ok, const char *refusal = nullptr)
    {
        SysXmlDocument doc;
        bool loaded = !ok;
        expectCheap(measure([&] { loaded = doc.load(path); }), path);
        EXPECT_EQ(loaded, ok) << path.toStdString() << ": " << doc.errorString().toStdString();
        if (refusal) {
            EXPECT_TRUE(doc.errorString().startsWith(path + QStringLiteral(": ")))
                << doc.errorString().toStdString();
            EXPECT_TRUE(doc.errorString().contains(QLatin1String(refusal))) << doc.errorString().toStdString();
        }
        if (!ok) {
            EXPECT_TRUE(doc.isNull());
        }
    }

    QTemporaryDir dir;
};

const QByteArray kHead = "<?xml version = \"1.0\" encoding = \"GBK\"?>\n<lang name=\"x\">";
const QByteArray kTail = "</lang>\n";

QByteArray attributes(int count)
{
    QByteArray out;
    for (int i = 0; i < count; ++i)
        out += " a" + QByteArray::number(i) + "=\"x\"";
    return out;
}

// A language file of small elements, `size` bytes long.
QByteArray dense(qint64 size)
{
    const QByteArray element = "<a name=\"x\"/>";
    return kHead + element.repeated(int((size - kHead.size() - kTail.size()) / element.size())) + kTail;
}

} // namespace

TEST_F(XmlLimits, ManyAttributesOnOneElementAreRefusedAtOnce)
{
    // Took 1.7 s at 25,000 attributes and grew with their square: 71 s at 100,000.
    for (int count : {25000, 100000}) {
        expectLoad(write(QStringLiteral("attrs%1.lang").arg(count),
                         kHead + "<a" + attributes(count) + "/>" + kTail),
                   false, "more than 256 attributes on one element, the limit (line 2)");
    }
    // 16 MiB of them, which never finished loading, and as many on the root.
    QByteArray big = kHead + "<a" + attributes(1400000);
    big = big.left(16 * 1024 * 1024 - 20) + "\"/>" + kTail;
    expectLoad(write(QStringLiteral("attrs16m.lang"), big), false, "larger than 4194304 bytes, the limit");
    expectLoad(write(QStringLiteral("root.lang"),
                     "<?xml version=\"1.0\"?><lang name=\"x\"" + attributes(1000) + "/>"),
               false, "more than 256 attributes");
    // At the limit the element loads.
    expectLoad(write(QStringLiteral("limit.lang"),
                     kHead + "<a" + attributes(SysXmlDocument::kMaxElementAttributes) + "/>" + kTail),
               true);
}

TEST_F(XmlLimits, DenseFilesAreRefusedWithoutBuildingThem)
{
    // 16 MiB of <a name="x"/> once cost 1.2 GB that stayed resident.
    expectLoad(write(QStringLiteral("dense16m.lang"), dense(16 * 1024 * 1024)), false,
               "larger than 4194304 bytes, the limit");
    expectLoad(write(QStringLiteral("dense4m.lang"), dense(SysXmlDocument::kMaxFileSize)), false,
               "more than 40000 elements (texts and comments included), the limit");
    // Nodes that are not elements cost the DOM as much.
    for (const QByteArray &node : {QByteArray("<!---->"), QByteArray("<?p?>"), QByteArray("<![CDATA[]]>"),
                                   QByteArray("<a/>t")}) {
        expectLoad(write(QStringLiteral("nodes.lang"),
                         kHead + node.repeated(SysXmlDocument::kMaxNodes) + kTail),
                   false, "more than 40000 elements");
    }
    // Attributes spread over many elements.
    const QByteArray eight = "<a" + attributes(8) + "/>";
    expectLoad(write(QStringLiteral("spread.lang"),
                     kHead + eight.repeated(SysXmlDocument::kMaxAttributes / 8 + 1) + kTail),
               false, "more than 40000 attributes, the limit");
}

TEST_F(XmlLimits, FilesAtTheLimitsLoadQuickly)
{
    // The root and its declaration count: one node of each kind short of the limit, in a file
    // as large as allowed.
    const int elements = SysXmlDocument::kMaxNodes - 2;
    QByteArray value(int((SysXmlDocument::kMaxFileSize - kHead.size() - kTail.size()) / elements) - 14, 'v');
    const QByteArray element = "<a name=\"" + value + "\"/>";
    const QByteArray largest = kHead + element.repeated(elements) + kTail;
    ASSERT_LE(largest.size(), SysXmlDocument::kMaxFileSize);
    expectLoad(write(QStringLiteral("largest.lang"), largest), true);
    expectLoad(write(QStringLiteral("over.lang"), kHead + element.repeated(elements + 1) + kTail), false,
               "more than 40000 elements");

    // As many attributes as allowed, 256 on each element.
    QByteArray wide = kHead;
    int left = SysXmlDocument::kMaxAttributes - 1; // the root's name
    for (; left >= SysXmlDocument::kMaxElementAttributes; left -= SysXmlDocument::kMaxElementAttributes)
        wide += "<a" + attributes(SysXmlDocument::kMaxElementAttributes) + "/>";
    expectLoad(write(QStringLiteral("wide.lang"), wide + "<a" + attributes(left) + "/>" + kTail), true);
    expectLoad(write(QStringLiteral("wider.lang"), wide + "<a" + attributes(left + 1) + "/>" + kTail), false,
               "more than 40000 attributes");

    // A setting tree of 5,000 items.
    QByteArray setting = "<?xml version = \"1.0\" encoding = \"GBK\"?>\n<Root type=\"0\">\n";
    for (int i = 0; i < 5000; ++i)
        setting += " <Node name=\"zh$$$n" + QByteArray::number(i) + "\" paramName=\"p" + QByteArray::number(i)
                   + "\" desc=\"\" paramType=\"1\" paramValue=\"5\" paramUpLimit=\"10\" paramDownLimit=\"0\"/>\n";
    expectLoad(write(QStringLiteral("index.config"), setting + "</Root>\n"), true);
}

TEST_F(XmlLimits, MarkupIsCountedAsParsersReadIt)
{
    // '>' and '=' inside values, comments and sections are no markup; "/>" ends an element.
    const QByteArray tricky = kHead + "<a name=\"x>y=z\" b='1=\"2\"'/><!-- <a name=\"c\"/> = -->"
                              "<![CDATA[<a x=1>]]><?pi a=b?><b name=\"deep\"><c/></b>" + kTail;
    const QString path = write(QStringLiteral("tricky.lang"), tricky);
    SysXmlDocument doc;
    ASSERT_TRUE(doc.load(path)) << doc.errorString().toStdString();
    EXPECT_EQ(doc.documentElement().firstChildElement("a").attribute("name"), "x>y=z");
    EXPECT_EQ(doc.documentElement().firstChildElement("a").attribute("b"), "1=\"2\"");

    const struct {
        QByteArray body;
        const char *refusal;
    } refused[] = {
        {"<!DOCTYPE lang [<!ENTITY e \"<a name='x'/><a name='x'/>\">]><lang name=\"x\">&e;&e;</lang>",
         "a document type declaration"},
        {"<!DOCTYPE lang SYSTEM \"/dev/zero\"><lang name=\"x\"/>", "a document type declaration"},
        {"<lang name=\"x\"><a name=\"<\"/></lang>", "a '<' inside markup (line 1)"},
        {"<lang name=\"x\"><a <b/></lang>", "a '<' inside markup"},
        {"<lang name=\"x\"><!ELEMENT a ANY></lang>", "unknown markup"},
        {"<lang name=\"x\"><a></lang>", "not well-formed XML"},
        {"", "not well-formed XML"},
        {"<?xml version=\"1.0\" encoding=\"KLINGON\"?><lang name=\"x\"/>", "the encoding \"KLINGON\" is not known"},
    };
    for (const auto &c : refused)
        expectLoad(write(QStringLiteral("refused.lang"), c.body), false, c.refusal);
}

TEST_F(XmlLimits, EncodingsDecodeAsBefore)
{
    // Enough text that a file is read in several pieces, cut inside characters.
    const QString filler(70001, QChar(0x4e0d));
    const QString text = QString::fromUtf8("<lang name=\"中文\"><a name=\"不\"/><b>") + filler
                         + QStringLiteral("</b></lang>");
    QTextCodec *gbk = QTextCodec::codecForName("GBK");
    auto utf16 = [](const QString &s, bool bigEndian, bool bom) {
        QByteArray out = bom ? (bigEndian ? QByteArray("\xfe\xff", 2) : QByteArray("\xff\xfe", 2)) : QByteArray();
        for (QChar c : s) {
            const char hi = char(c.unicode() >> 8), lo = char(c.unicode() & 0xff);
            out += bigEndian ? QByteArray(1, hi) + lo : QByteArray(1, lo) + hi;
        }
        return out;
    };
    const QString declared16 = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n");
    const QByteArray cases[] = {
        gbk->fromUnicode(QStringLiteral("<?xml version = \"1.0\" encoding = \"GBK\"?>\n") + text),
        "<?xml version='1.0' encoding='gb2312'?>" + gbk->fromUnicode(text),
        text.toUtf8(),
        "\xef\xbb\xbf<?xml version=\"1.0\" encoding=\"UTF-8\"?>" + text.toUtf8(),
        utf16(declared16 + text, false, true),
        utf16(declared16 + text, true, true),
        utf16(text, false, false),
        utf16(text, true, false),
    };
    for (const QByteArray &bytes : cases) {
        const QString path = write(QStringLiteral("enc.lang"), bytes);
        for (bool fromFile : {false, true}) {
            SysXmlDocument doc;
            ASSERT_TRUE(fromFile ? doc.load(path) : doc.setContent(bytes))
                << bytes.toHex().left(40).constData() << doc.errorString().toStdString();
            const QDomElement root = doc.documentElement();
            EXPECT_EQ(root.attribute("name"), QString::fromUtf8("中文"));
            EXPECT_EQ(root.firstChildElement("a").attribute("name"), QString::fromUtf8("不"));
            EXPECT_EQ(root.firstChildElement("b").text(), filler);
        }
    }
    // The declaration keeps the host's spelling.
    SysXmlDocument doc;
    ASSERT_TRUE(doc.setContent(cases[1]));
    EXPECT_TRUE(doc.toText().startsWith("<?xml version = \"1.0\" encoding = \"gb2312\"?>"));
}

TEST_F(XmlLimits, DevicesAndFifosAreRefusedBeforeAByteIsRead)
{
    for (const char *device : {"/dev/zero", "/dev/urandom"})
        expectLoad(QString::fromLatin1(device), false, "not a regular file");
    const QString fifo = dir.path() + QStringLiteral("/fifo.lang");
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    expectLoad(fifo, false, "not a regular file");
    const QString link = dir.path() + QStringLiteral("/zero.lang");
    ASSERT_EQ(symlink("/dev/zero", QFile::encodeName(link).constData()), 0);
    expectLoad(link, false, "not a regular file");
    SysXmlDocument doc;
    EXPECT_FALSE(doc.load(dir.path() + QStringLiteral("/missing.lang")));
    EXPECT_TRUE(doc.errorString().endsWith(": no such file"));

    QByteArray bytes;
    SysRegularFile::Status status;
    EXPECT_FALSE(SysRegularFile::readFile(fifo, 100, bytes, &status));
    EXPECT_EQ(status, SysRegularFile::NotRegular);
    EXPECT_FALSE(SysRegularFile::readFile(dir.path(), 100, bytes, &status));
    EXPECT_EQ(status, SysRegularFile::NotRegular);
    const QString small = write(QStringLiteral("small"), "12345");
    EXPECT_FALSE(SysRegularFile::readFile(small, 4, bytes, &status));
    EXPECT_EQ(status, SysRegularFile::TooLarge);
    ASSERT_TRUE(SysRegularFile::readFile(small, 5, bytes, &status));
    EXPECT_EQ(bytes, "12345");
}
