// A plug-in whose Release leaves its window to deleteLater(): the deletion runs before the
// library goes away.
#include "tests/host/plugin_fixture.h"

#include <QApplication>

using PluginUnloadTest = PluginFixture;

TEST_F(PluginUnloadTest, DeferredDeletesRunBeforeTheLibraryIsUnloaded)
{
    install("deferdelete/DeferDelete.so", "d/DeferDelete.so");
    qApp->setProperty("tpDeferredDeleted", QVariant());
    auto w = makeWindow({"Tessel", "-c", "DeferDelete"});
    ASSERT_NE(w->plugin("DeferDelete"), nullptr);
    const QString lib = w->plugin("DeferDelete")->libraryPath();
    ASSERT_TRUE(isMapped(lib));

    EXPECT_TRUE(w->unloadPlugin("DeferDelete", false));
    EXPECT_EQ(qApp->property("tpDeferredDeleted").toString(), "Defer Delete");
    EXPECT_FALSE(isMapped(lib));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
    EXPECT_TRUE(w->placeholderShown());
}
