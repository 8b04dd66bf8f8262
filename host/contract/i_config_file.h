// A plug-in's parameters, read and written through the host. Paths are "/"-separated
// "paramName" values below the setting file's "Root" element.
#pragma once

#include <QString>

class IConfigFile
{
public:
    virtual bool getString(const QString &path, QString &value) = 0;
    virtual bool getDouble(const QString &path, double &value) = 0;
    virtual bool getFloat(const QString &path, float &value) = 0;
    virtual bool getInt(const QString &path, int &value) = 0;
    virtual bool getBool(const QString &path, bool &value) = 0;
    virtual bool setString(const QString &path, const QString &value) = 0;
    virtual bool setDouble(const QString &path, double value) = 0;
    virtual bool setFloat(const QString &path, float value) = 0;
    virtual bool setInt(const QString &path, int value) = 0;
    virtual bool setBool(const QString &path, bool value) = 0;
    virtual bool getDesc(const QString &path, QString &value) = 0;
    virtual bool contains(const QString &path) = 0;
    virtual bool save() = 0;

protected:
    // The host owns every implementation; a plug-in never deletes one.
    ~IConfigFile() = default;
};
