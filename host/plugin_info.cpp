#include "host/plugin_info.h"

#include "host/languages/lang_store.h"
#include "host/plugin_config.h"

#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QLibrary>
#include <QPointer>

PluginInfo::PluginInfo(const QString &libraryPath, QLibrary *library, LangStore *langs)
    : m_libraryPath(libraryPath), m_library(library), m_langs(langs)
{
}

PluginInfo::~PluginInfo()
{
    m_config.reset();
    // A window that outlived Release still runs the library's code when it goes: the library
    // then stays mapped for the rest of the process.
    if (m_library && m_library->isLoaded() && !m_leftover)
        m_library->unload();
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

QString PluginInfo::displayName()
{
    const QString name = pluginName();
    return name.trimmed().isEmpty() ? baseName() : name;
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
    // English, then Chinese, where the current language lacks the key; empty where none has it,
    // so that the plug-in can tell.
    return m_langs ? m_langs->find(baseName(), key) : QString();
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
    QPointer<PluginUIBase> window = m_window;
    if (m_window)
        m_window->setParent(nullptr);
    m_window = nullptr;
    m_host = nullptr;
    if (m_release)
        m_release();
    // A Release that handed its window to deleteLater() gets that deletion now, while the
    // library is mapped. Only the window's: flushing every deferred deletion of the process
    // would also delete objects whose code is still running further up this call (the
    // right-click menu whose entry led here), and Qt writes into them when it returns.
    if (window)
        QCoreApplication::sendPostedEvents(window, QEvent::DeferredDelete);
    m_leftover = m_leftover || window;
    m_create = nullptr;
    m_release = nullptr;
    m_config.reset();
}
