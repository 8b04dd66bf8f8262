#include "host/plugin_config.h"

#include <QStringList>

#include <cmath>

namespace {
const QString kParamName = QStringLiteral("paramName");
const QString kParamValue = QStringLiteral("paramValue");
const QString kParamType = QStringLiteral("paramType");
const QString kUpLimit = QStringLiteral("paramUpLimit");
const QString kDownLimit = QStringLiteral("paramDownLimit");
} // namespace

bool PluginConfig::load(const QString &path)
{
    QWriteLocker guard(&m_lock);
    SysXmlDocument doc;
    if (!doc.load(path))
        return false;
    m_doc = doc;
    return true;
}

QDomElement PluginConfig::resolve(const QString &path) const
{
    QDomElement current = m_doc.documentElement();
    if (current.isNull() || !current.hasChildNodes() || current.tagName() != QLatin1String("Root"))
        return QDomElement();
    for (const QString &part : path.split(QLatin1Char('/'), Qt::KeepEmptyParts)) {
        QDomElement next;
        for (QDomElement e = current.firstChildElement(); !e.isNull(); e = e.nextSiblingElement()) {
            if (e.attribute(kParamName) == part) {
                next = e;
                break;
            }
        }
        if (next.isNull())
            return QDomElement();
        current = next;
    }
    return current;
}

QDomElement PluginConfig::typedNode(const QString &path, int type) const
{
    QDomElement e = resolve(path);
    if (e.isNull() || !e.hasAttribute(kParamValue) || !e.hasAttribute(kParamType))
        return QDomElement();
    bool ok = false;
    if (e.attribute(kParamType).toInt(&ok, 10) != type || !ok)
        return QDomElement();
    return e;
}

bool PluginConfig::getString(const QString &path, QString &value)
{
    QReadLocker guard(&m_lock);
    const QDomElement e = resolve(path);
    if (e.isNull() || !e.hasAttribute(kParamValue))
        return false;
    value = e.attribute(kParamValue);
    return true;
}

bool PluginConfig::getDouble(const QString &path, double &value)
{
    QReadLocker guard(&m_lock);
    QString text;
    if (!getString(path, text))
        return false;
    value = text.toDouble();
    return true;
}

bool PluginConfig::getFloat(const QString &path, float &value)
{
    QReadLocker guard(&m_lock);
    QString text;
    if (!getString(path, text))
        return false;
    value = text.toFloat();
    return true;
}

bool PluginConfig::getInt(const QString &path, int &value)
{
    QReadLocker guard(&m_lock);
    QString text;
    if (!getString(path, text))
        return false;
    value = text.toInt(nullptr, 10);
    return true;
}

bool PluginConfig::getBool(const QString &path, bool &value)
{
    QReadLocker guard(&m_lock);
    QString text;
    if (!getString(path, text))
        return false;
    value = text.toLower() == QLatin1String("true");
    return true;
}

bool PluginConfig::setString(const QString &path, const QString &value)
{
    QWriteLocker guard(&m_lock);
    QDomElement e = typedNode(path, 3);
    if (e.isNull())
        return false;
    e.setAttribute(kParamValue, QStringLiteral("%1").arg(value));
    return true;
}

bool PluginConfig::setDouble(const QString &path, double value)
{
    return setFloat(path, float(value));
}

bool PluginConfig::setFloat(const QString &path, float value)
{
    QWriteLocker guard(&m_lock);
    QDomElement e = typedNode(path, 2);
    if (e.isNull() || !e.hasAttribute(kUpLimit) || !e.hasAttribute(kDownLimit))
        return false;
    bool okUp = false, okDown = false;
    const float up = e.attribute(kUpLimit).toFloat(&okUp);
    const float down = e.attribute(kDownLimit).toFloat(&okDown);
    // Unreadable limits, or a value that is not a number, never pass the range check.
    if (!okUp || !okDown || std::isnan(value) || down > value || value > up)
        return false;
    e.setAttribute(kParamValue, QStringLiteral("%1").arg(double(value), 0, 'g'));
    return true;
}

bool PluginConfig::setInt(const QString &path, int value)
{
    QWriteLocker guard(&m_lock);
    QDomElement e = typedNode(path, 1);
    if (e.isNull() || !e.hasAttribute(kUpLimit) || !e.hasAttribute(kDownLimit))
        return false;
    bool okUp = false, okDown = false;
    const int up = e.attribute(kUpLimit).toInt(&okUp, 10);
    const int down = e.attribute(kDownLimit).toInt(&okDown, 10);
    if (!okUp || !okDown || down > value || value > up)
        return false;
    e.setAttribute(kParamValue, QString::number(value, 10));
    return true;
}

bool PluginConfig::setBool(const QString &path, bool value)
{
    QWriteLocker guard(&m_lock);
    QDomElement e = typedNode(path, 0);
    if (e.isNull())
        return false;
    e.setAttribute(kParamValue, value ? QStringLiteral("true") : QStringLiteral("false"));
    return true;
}

bool PluginConfig::getDesc(const QString &path, QString &value)
{
    QReadLocker guard(&m_lock);
    const QDomElement e = resolve(path);
    if (e.isNull() || !e.hasAttribute(QStringLiteral("desc")))
        return false;
    value = e.attribute(QStringLiteral("desc"));
    return true;
}

bool PluginConfig::contains(const QString &path)
{
    QReadLocker guard(&m_lock);
    return !resolve(path).isNull();
}

bool PluginConfig::save()
{
    QWriteLocker guard(&m_lock);
    return m_doc.saveAgain();
}
