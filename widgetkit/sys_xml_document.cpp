#include "widgetkit/sys_xml_document.h"

#include "widgetkit/sys_regular_file.h"

#include <QFile>
#include <QLoggingCategory>
#include <QMutex>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSet>
#include <QTextCodec>
#include <QTextStream>

#include <memory>

namespace {

// Counts what the DOM would build from a document, character by character, and stops at the
// first limit broken. Linear in the text and resumable at any character, so a file can be fed
// as it is read. It knows just enough of XML to count exactly for every well-formed document:
// tags (with quoted values, which may hold '>'), end tags, comments, CDATA sections and
// processing instructions. A '<' inside a tag, and markup it does not know, is refused at once:
// no parser accepts it.
class XmlBudget
{
public:
    // Takes the next characters. False once the document is refused; error() says why.
    bool feed(const QChar *text, int size);
    const QString &error() const { return m_error; }

private:
    enum State { Text, Open, Bang, Comment, CData, Instruction, EndTag, Tag, Value };

    bool fail(const QString &why);
    bool addNode();
    bool refuseMarkup();

    State m_state = Text;
    int m_line = 1;
    int m_depth = 0;
    int m_nodes = 0;
    int m_attributes = 0;
    int m_elementAttributes = 0;
    bool m_textHasContent = false;
    QString m_bang;       // what follows "<!", until it is known
    ushort m_quote = 0;   // of the attribute value being read
    ushort m_previous = 0;
    int m_run = 0;        // '-' or ']' just read, for the end of a comment or a CDATA section
    QString m_error;
};

bool XmlBudget::fail(const QString &why)
{
    m_error = why;
    return false;
}

bool XmlBudget::addNode()
{
    if (++m_nodes <= SysXmlDocument::kMaxNodes)
        return true;
    return fail(QStringLiteral("more than %1 elements (texts and comments included), the limit (line %2)")
                    .arg(SysXmlDocument::kMaxNodes)
                    .arg(m_line));
}

bool XmlBudget::refuseMarkup()
{
    return fail(QStringLiteral("not well-formed XML: a '<' inside markup (line %1)").arg(m_line));
}

bool XmlBudget::feed(const QChar *text, int size)
{
    if (!m_error.isEmpty())
        return false;
    static const QString kComment = QStringLiteral("--");
    static const QString kCData = QStringLiteral("[CDATA[");
    static const QString kDoctype = QStringLiteral("DOCTYPE");
    for (int i = 0; i < size; ++i) {
        const ushort c = text[i].unicode();
        if (c == '\n')
            ++m_line;
        switch (m_state) {
        case Text:
            if (c == '<') {
                if (m_textHasContent && !addNode())
                    return false;
                m_textHasContent = false;
                m_state = Open;
            } else if (c != ' ' && c != '\t' && c != '\r' && c != '\n') {
                m_textHasContent = true;
            }
            break;
        case Open:
            if (c == '/') {
                m_state = EndTag;
            } else if (c == '!') {
                m_bang.clear();
                m_state = Bang;
            } else if (c == '?') {
                m_previous = 0;
                m_state = Instruction;
                if (!addNode())
                    return false;
            } else if (c == '<') {
                return refuseMarkup();
            } else {
                if (!addNode())
                    return false;
                if (++m_depth > SysXmlDocument::kMaxDepth)
                    return fail(QStringLiteral("elements nested deeper than %1 levels, the limit (line %2)")
                                    .arg(SysXmlDocument::kMaxDepth)
                                    .arg(m_line));
                m_elementAttributes = 0;
                m_previous = c;
                m_state = Tag;
            }
            break;
        case Bang:
            m_bang.append(QChar(c));
            if (m_bang == kComment || m_bang == kCData) {
                m_run = 0;
                m_state = m_bang == kComment ? Comment : CData;
                if (!addNode())
                    return false;
            } else if (m_bang == kDoctype) {
                return fail(QStringLiteral("a document type declaration, which these files never "
                                           "hold (line %1)").arg(m_line));
            } else if (!kComment.startsWith(m_bang) && !kCData.startsWith(m_bang)
                       && !kDoctype.startsWith(m_bang)) {
                return fail(QStringLiteral("not well-formed XML: unknown markup \"<!%1\" (line %2)")
                                .arg(m_bang)
                                .arg(m_line));
            }
            break;
        case Comment:
        case CData:
            if (c == (m_state == Comment ? '-' : ']')) {
                ++m_run;
            } else {
                if (c == '>' && m_run >= 2)
                    m_state = Text;
                m_run = 0;
            }
            break;
        case Instruction:
            if (c == '>' && m_previous == '?')
                m_state = Text;
            m_previous = c;
            break;
        case EndTag:
            if (c == '>') {
                --m_depth;
                m_state = Text;
            } else if (c == '<') {
                return refuseMarkup();
            }
            break;
        case Tag:
            if (c == '"' || c == '\'') {
                m_quote = c;
                m_state = Value;
            } else if (c == '=') {
                if (++m_elementAttributes > SysXmlDocument::kMaxElementAttributes)
                    return fail(QStringLiteral("more than %1 attributes on one element, the limit (line %2)")
                                    .arg(SysXmlDocument::kMaxElementAttributes)
                                    .arg(m_line));
                if (++m_attributes > SysXmlDocument::kMaxAttributes)
                    return fail(QStringLiteral("more than %1 attributes, the limit (line %2)")
                                    .arg(SysXmlDocument::kMaxAttributes)
                                    .arg(m_line));
            } else if (c == '>') {
                if (m_previous == '/')
                    --m_depth;
                m_state = Text;
            } else if (c == '<') {
                return refuseMarkup();
            }
            m_previous = c;
            break;
        case Value:
            if (c == m_quote) {
                m_previous = c;
                m_state = Tag;
            } else if (c == '<') {
                return refuseMarkup();
            }
            break;
        }
    }
    return true;
}

// Turns the bytes of a document into text as XML parsers do: a byte order mark or the pattern
// of "<" in UTF-16 or UTF-32 decides; otherwise the encoding the declaration names, else UTF-8.
// The first bytes are held back until the declaration can be seen.
class XmlDecoder
{
public:
    // Decodes the next bytes onto `text`. False when the declaration names an unknown encoding.
    bool add(const char *data, int size, QString &text);
    // Decodes whatever is still held back.
    bool finish(QString &text);
    const QString &error() const { return m_error; }

private:
    // Enough for any declaration.
    static constexpr int kSniff = 4096;
    bool start(QString &text);

    std::unique_ptr<QTextDecoder> m_decoder;
    QByteArray m_head;
    QString m_error;
};

bool XmlDecoder::add(const char *data, int size, QString &text)
{
    if (m_decoder) {
        text += m_decoder->toUnicode(data, size);
        return true;
    }
    m_head.append(data, size);
    return m_head.size() < kSniff || start(text);
}

bool XmlDecoder::finish(QString &text)
{
    if (m_decoder)
        return true;
    return start(text);
}

bool XmlDecoder::start(QString &text)
{
    const QByteArray &b = m_head;
    auto at = [&b](int i) { return i < b.size() ? uchar(b[i]) : 0x100; };
    int mib = 0;
    if ((at(0) == 0 && at(1) == 0 && at(2) == 0xfe && at(3) == 0xff)
        || (at(0) == 0xff && at(1) == 0xfe && at(2) == 0 && at(3) == 0))
        mib = 1017; // UTF-32 with a byte order mark
    else if (at(0) == 0x3c && at(1) == 0 && at(2) == 0 && at(3) == 0)
        mib = 1019; // UTF-32LE
    else if (at(0) == 0 && at(1) == 0 && at(2) == 0 && at(3) == 0x3c)
        mib = 1018; // UTF-32BE
    else if ((at(0) == 0xfe && at(1) == 0xff) || (at(0) == 0xff && at(1) == 0xfe))
        mib = 1015; // UTF-16 with a byte order mark
    else if (at(0) == 0x3c && at(1) == 0)
        mib = 1014; // UTF-16LE
    else if (at(0) == 0 && at(1) == 0x3c)
        mib = 1013; // UTF-16BE
    else if (at(0) == 0xef && at(1) == 0xbb && at(2) == 0xbf)
        mib = 106; // UTF-8 with a byte order mark

    QTextCodec *codec = mib ? QTextCodec::codecForMib(mib) : nullptr;
    if (!codec) {
        // Bytes that are ASCII where markup is: the declaration names the encoding.
        static const QRegularExpression declaration(QStringLiteral(
            "^<\\?xml\\s[^?>]*encoding\\s*=\\s*(?:\"([^\"]*)\"|'([^']*)')"));
        const QRegularExpressionMatch m = declaration.match(QString::fromLatin1(b.left(kSniff)));
        const QString name = m.hasMatch() ? m.captured(1) + m.captured(2) : QString();
        codec = QTextCodec::codecForName(name.isEmpty() ? QByteArray("UTF-8") : name.toLatin1());
        if (!codec) {
            m_error = QStringLiteral("the encoding \"%1\" is not known").arg(name.left(64));
            return false;
        }
    }
    m_decoder.reset(codec->makeDecoder());
    text += m_decoder->toUnicode(m_head.constData(), m_head.size());
    m_head.clear();
    return true;
}

Q_LOGGING_CATEGORY(lcXml, "tessel.xml")

// Warns once for each message, so that readers that retry a refused file do not repeat it.
void warnOnce(const QString &message)
{
    static QMutex lock;
    static QSet<QString> told;
    QMutexLocker guard(&lock);
    if (told.contains(message) || told.size() >= 1000)
        return;
    told.insert(message);
    qCWarning(lcXml, "%s", qUtf8Printable(message));
}

} // namespace

bool SysXmlDocument::load(const QString &file)
{
    m_error.clear();
    QString text;
    XmlDecoder decoder;
    XmlBudget budget;
    bool refused = false;
    auto refuse = [&](const QString &why) {
        m_error = QStringLiteral("%1: %2").arg(file, why);
        refused = true;
    };
    // Decodes the next bytes and counts the text they add.
    auto take = [&](const char *data, int size) {
        const int from = text.size();
        if (!decoder.add(data, size, text))
            refuse(decoder.error());
        else if (!budget.feed(text.constData() + from, text.size() - from))
            refuse(budget.error());
    };
    if (file.startsWith(QLatin1Char(':'))) {
        // A resource built into the program.
        QFile resource(file);
        if (!resource.open(QIODevice::ReadOnly) || resource.size() > kMaxFileSize) {
            m_error = QStringLiteral("%1: no such resource").arg(file);
            return false;
        }
        const QByteArray bytes = resource.readAll();
        take(bytes.constData(), bytes.size());
    } else {
        // Read and counted piece by piece: a file over a limit costs only what it takes to see it.
        SysRegularFile f;
        switch (f.open(file, kMaxFileSize)) {
        case SysRegularFile::Ok:
            break;
        case SysRegularFile::Missing:
            m_error = QStringLiteral("%1: no such file").arg(file);
            return false;
        case SysRegularFile::NotRegular:
            refuse(QStringLiteral("not a regular file"));
            break;
        case SysRegularFile::TooLarge:
            refuse(QStringLiteral("larger than %1 bytes, the limit").arg(kMaxFileSize));
            break;
        case SysRegularFile::CannotOpen:
            refuse(QStringLiteral("cannot be read"));
            break;
        }
        text.reserve(int(f.size())); // at most one character per byte
        QByteArray chunk(64 * 1024, Qt::Uninitialized);
        while (!refused) {
            const qint64 got = f.read(chunk.data(), chunk.size());
            if (got < 0) {
                refuse(QStringLiteral("cannot be read"));
                break;
            }
            if (got == 0)
                break;
            take(chunk.constData(), int(got));
        }
    }
    if (!refused) {
        const int from = text.size();
        if (!decoder.finish(text))
            refuse(decoder.error());
        else if (!budget.feed(text.constData() + from, text.size() - from))
            refuse(budget.error());
        else if (!parse(text))
            refuse(m_error);
    }
    if (refused) {
        warnOnce(m_error);
        return false;
    }
    m_fileName = file;
    return true;
}

bool SysXmlDocument::setContent(const QByteArray &content)
{
    m_error.clear();
    if (content.size() > kMaxFileSize) {
        m_error = QStringLiteral("larger than %1 bytes, the limit").arg(kMaxFileSize);
        return false;
    }
    QString text;
    XmlDecoder decoder;
    XmlBudget budget;
    if (!decoder.add(content.constData(), content.size(), text) || !decoder.finish(text)) {
        m_error = decoder.error();
        return false;
    }
    if (!budget.feed(text.constData(), text.size())) {
        m_error = budget.error();
        return false;
    }
    return parse(text);
}

bool SysXmlDocument::parse(const QString &text)
{
    QDomDocument doc;
    QString message;
    int line = 0, column = 0;
    // The text was checked against the limits above: the parser sees exactly those characters.
    if (!doc.setContent(text, false, &message, &line, &column)) {
        m_error = QStringLiteral("not well-formed XML: %1 (line %2, column %3)").arg(message).arg(line).arg(column);
        return false;
    }
    if (doc.isNull() || doc.documentElement().isNull()) {
        m_error = QStringLiteral("no element");
        return false;
    }
    // The parser rewrites the declaration as version='1.0' encoding='...'; put back the
    // host's own spelling so that a file saved again keeps its first line.
    QDomNode first = doc.firstChild();
    if (first.isProcessingInstruction() && first.nodeName() == QLatin1String("xml")) {
        static const QRegularExpression enc(
            QStringLiteral("encoding\\s*=\\s*(?:\"([^\"]*)\"|'([^']*)')"));
        const QRegularExpressionMatch m = enc.match(first.nodeValue());
        if (m.hasMatch()) {
            const QString name = m.captured(1).isEmpty() ? m.captured(2) : m.captured(1);
            first.setNodeValue(QStringLiteral("version = \"1.0\" encoding = \"%1\"").arg(name));
        }
    }
    m_doc = doc;
    return true;
}

bool SysXmlDocument::save(const QString &file) const
{
    // A temporary file in the same folder is renamed over the old one only after every byte
    // is written and the file is closed, so a failed save leaves the old file as it was.
    QSaveFile f(file);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    QTextStream stream(&f);
    m_doc.save(stream, 1, QDomNode::EncodingFromDocument);
    stream.flush();
    if (stream.status() != QTextStream::Ok) {
        f.cancelWriting();
        return false;
    }
    return f.commit();
}

bool SysXmlDocument::saveAgain() const
{
    return save(m_fileName);
}

void SysXmlDocument::addDeclaration(const QString &encoding)
{
    m_doc.appendChild(m_doc.createProcessingInstruction(
        QStringLiteral("xml"),
        QStringLiteral("version = \"1.0\" encoding = \"%1\"").arg(encoding)));
}

void SysXmlDocument::clear()
{
    m_doc = QDomDocument();
    m_fileName.clear();
}
