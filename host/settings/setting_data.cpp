#include "host/settings/setting_data.h"

#include "common/text_format.h"

#include <QStringList>

#include <cmath>

namespace {
const QString kZh = QStringLiteral("zh");
const QString kEntrySep = QStringLiteral(":::");
const QString kCodeSep = QStringLiteral("$$$");
} // namespace

LangText LangText::fromStored(const QString &stored)
{
    LangText t;
    if (!stored.contains(kCodeSep)) {
        t.m_entries.insert(kZh, stored);
        return t;
    }
    for (const QString &part : stored.split(kEntrySep, Qt::KeepEmptyParts)) {
        const QStringList pieces = part.split(kCodeSep, Qt::KeepEmptyParts);
        if (pieces.size() == 2)
            t.m_entries.insert(pieces[0], pieces[1]);
    }
    return t;
}

QString LangText::toStored() const
{
    QStringList parts;
    for (auto it = m_entries.cbegin(); it != m_entries.cend(); ++it)
        parts << it.key() + kCodeSep + it.value();
    return parts.join(kEntrySep);
}

QString LangText::display(const QString &langCode) const
{
    const QString code = langCode.isEmpty() ? kZh : langCode;
    auto it = m_entries.constFind(code);
    if (it != m_entries.cend())
        return it.value();
    it = m_entries.constFind(kZh);
    return it != m_entries.cend() ? it.value() : QString();
}

void LangText::set(const QString &langCode, const QString &text)
{
    m_entries.insert(langCode.isEmpty() ? kZh : langCode, text);
}

void registerTestNodeDataType()
{
    static const int id = qRegisterMetaType<TEST_NODE_DATA>("TEST_NODE_DATA");
    Q_UNUSED(id);
}

QString validateNodeData(const TEST_NODE_DATA &data,
                         const std::function<QString(const QString &key)> &text)
{
    if (data.paramName.isEmpty())
        return text(QStringLiteral("setting/paramNameCanNotBeEmpty"));
    if (data.paramType == DataNumber) {
        const int value = data.paramValue.toInt(nullptr, 10);
        const int down = data.paramDownLimit.toInt(nullptr, 10);
        const int up = data.paramUpLimit.toInt(nullptr, 10);
        if (value < down || value > up)
            return formatPattern(text(QStringLiteral("setting/param/notInRange/number")),
                                 {value, down, up});
    } else if (data.paramType == DataFloat) {
        const float value = data.paramValue.toFloat();
        const float down = data.paramDownLimit.toFloat();
        const float up = data.paramUpLimit.toFloat();
        // A value that is not a number is never within its limits.
        if (std::isnan(value) || value < down || value > up)
            return formatPattern(text(QStringLiteral("setting/param/notInRange/float")),
                                 {double(value), double(down), double(up)});
    }
    return QString();
}
