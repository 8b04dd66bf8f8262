// A plug-in for the loader and main window tests. Variants are chosen at compile time:
// TP_NAME (row text), TP_NO_RELEASE (no Release export), TP_NULL_CREATE (Create returns null),
// TP_DEFER_DELETE (Release hands the window to deleteLater; its destructor marks the
// application object).
#include "host/contract/plugin_ui_base.h"
#include "host/contract/i_test_tools.h"

#include <QApplication>
#include <QLabel>
#include <QVariant>

namespace {
class TestPluginWindow : public PluginUIBase
{
public:
#ifdef TP_DEFER_DELETE
    ~TestPluginWindow() override
    {
        // A heap copy: literal data would go away with the library.
        qApp->setProperty("tpDeferredDeleted", QString(QLatin1String(TP_NAME)));
    }
#endif
    QString pluginName() override { return QStringLiteral(TP_NAME); }
    // Tests may replace the history through the dynamic property "history".
    QString historyHtml() override
    {
        const QVariant h = property("history");
        if (h.isValid())
            return h.toString();
        return QStringLiteral(
            "<p class=\"versionLog\"><span class=\"versionTitle\">V1.9</span><ol class=\"versionLogContent\">"
            "<li class=\"versionLogContentItem\">first;</li></ol></p>"
            "<p class=\"versionLog\"><span class=\"versionTitle\">V1.13</span><ol class=\"versionLogContent\">"
            "<li class=\"versionLogContentItem\">second;</li></ol></p>");
    }
    void initUi() override
    {
        setProperty("initCount", property("initCount").toInt() + 1);
        setProperty("toolsAtInit", QVariant::fromValue<void *>(tools));
        setCentralWidget(new QLabel(pluginName(), this));
    }
    // The dynamic property "reloadOk" decides; the base class's false otherwise.
    bool reloadConfig() override
    {
        const QVariant ok = property("reloadOk");
        return ok.isValid() ? ok.toBool() : PluginUIBase::reloadConfig();
    }
};

TestPluginWindow *g_window = nullptr;
} // namespace

extern "C" __attribute__((visibility("default"))) PluginUIBase *Create()
{
#ifdef TP_NULL_CREATE
    return nullptr;
#else
    if (!g_window)
        g_window = new TestPluginWindow;
    return g_window;
#endif
}

#ifndef TP_NO_RELEASE
extern "C" __attribute__((visibility("default"))) void Release()
{
#ifdef TP_DEFER_DELETE
    g_window->deleteLater();
#else
    delete g_window;
#endif
    g_window = nullptr;
}
#endif
