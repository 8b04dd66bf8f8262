// GoogleTest main for tests that need a QApplication. Widgets render offscreen and no dialog
// ever waits for a person.
#include "tests/support/recording_presenter.h"

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    setDialogPresenter(&testPresenter());
    return RUN_ALL_TESTS();
}
