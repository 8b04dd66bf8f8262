#include "host/plugin_info.h"

#include "host/languages/lang_store.h"
#include "host/plugin_config.h"

#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QLibrary>

PluginInfo::PluginInfo(const QString &libraryPath, QLibrary *library, LangStore *langs)
    : m_libraryPath(libraryPath), m_library(library), m_langs(langs)
{
}

PluginInfo::~PluginInfo()
{
    m_config.reset();
    if (m_library && m_library->isLoaded()) {
        // Objects the plug-in handed to deleteLater() run its code when they are deleted:
        // that must happen while the library is still mapped.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        m_library->unload();
    }
}

namespace {
// A string a plug-in returns may point into the library's own constant data
// (QStringLiteral); the copy owns its characters, so it outlives the library.
QString ownCopy(const QString &s)
{
    return QString(s.constData(), s.size());
}
} // namespace

QString PluginInfo::pluginName()
{
    return m_window ? ownCopy(m_window->pluginName()) : QString();
}

QString PluginInfo::baseName()
{
    return QFileInfo(m_libraryPath).baseName();
}

QString PluginInfo::libraryPath()
{
    return m_libraryPath;
}

QString PluginInfo::folder(const char *name)
{
    return QStringLiteral("%1/%2").arg(
        QStringLiteral("%1/%2").arg(QDir::currentPath(), QString::fromLatin1(name)), baseName());
}

QString PluginInfo::configDir()
{
    return folder("config");
}

QString PluginInfo::logDir()
{
    return folder("logs");
}

QString PluginInfo::docsDir()
{
    return folder("docs");
}

QString PluginInfo::langFolder()
{
    return folder("lang");
}

QString PluginInfo::configFilePath()
{
    return QStringLiteral("%1/index.config").arg(configDir());
}

QString PluginInfo::historyHtml()
{
    return m_window ? ownCopy(m_window->historyHtml()) : QString();
}

bool PluginInfo::hasConfigFile()
{
    return QFileInfo::exists(configFilePath());
}

IConfigFile *PluginInfo::config(bool reload)
{
    if (!hasConfigFile())
        return nullptr;
    if (m_config && !reload)
        return m_config.get();
    if (!m_config)
        m_config = std::make_unique<PluginConfig>();
    if (!m_config->load(configFilePath())) {
        m_config.reset();
        return nullptr;
    }
    return m_config.get();
}

QString PluginInfo::text(const QString &key)
{
    return m_langs ? m_langs->text(baseName(), key) : QString();
}

QMainWindow *PluginInfo::mainWindow()
{
    return m_host;
}

void PluginInfo::setUnloadable(bool unloadable)
{
    m_unloadable = unloadable;
}

bool PluginInfo::isUnloadable()
{
    return m_unloadable;
}

bool PluginInfo::resolveEntries()
{
    m_create = reinterpret_cast<PluginCreateFn>(m_library->resolve("Create"));
    m_release = reinterpret_cast<PluginReleaseFn>(m_library->resolve("Release"));
    return m_create && m_release;
}

bool PluginInfo::create(QMainWindow *host)
{
    if (!m_create)
        return false;
    m_window = m_create();
    if (!m_window)
        return false;
    m_window->tools = this;
    m_host = host;
    return true;
}

void PluginInfo::release()
{
    if (m_window)
        m_window->setParent(nullptr);
    m_window = nullptr;
    m_host = nullptr;
    if (m_release)
        m_release();
    m_create = nullptr;
    m_release = nullptr;
    m_config.reset();
}
