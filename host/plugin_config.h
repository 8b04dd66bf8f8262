// The host's IConfigFile over one plug-in's setting file.
#pragma once

#include "host/contract/i_config_file.h"
#include "widgetkit/sys_xml_document.h"

#include <QReadWriteLock>

class PluginConfig final : public IConfigFile
{
public:
    PluginConfig() = default;
    virtual ~PluginConfig() = default;
    PluginConfig(const PluginConfig &) = delete;
    PluginConfig &operator=(const PluginConfig &) = delete;

    // Replaces the document with the file's; false when it cannot be opened or parsed.
    bool load(const QString &path);

    bool getString(const QString &path, QString &value) override;
    bool getDouble(const QString &path, double &value) override;
    bool getFloat(const QString &path, float &value) override;
    bool getInt(const QString &path, int &value) override;
    bool getBool(const QString &path, bool &value) override;
    bool setString(const QString &path, const QString &value) override;
    bool setDouble(const QString &path, double value) override;
    bool setFloat(const QString &path, float value) override;
    bool setInt(const QString &path, int value) override;
    bool setBool(const QString &path, bool value) override;
    bool getDesc(const QString &path, QString &value) override;
    bool contains(const QString &path) override;
    bool save() override;

    const SysXmlDocument &document() const { return m_doc; }

private:
    // The element a "/"-separated path of "paramName" values leads to; null when none.
    // The caller holds the lock.
    QDomElement resolve(const QString &path) const;
    // The node, when it has "paramValue" and "paramType" equals `type`.
    QDomElement typedNode(const QString &path, int type) const;

    SysXmlDocument m_doc;
    // Getters nest read locks (getInt -> getString), hence recursive.
    QReadWriteLock m_lock{QReadWriteLock::Recursive};
};
