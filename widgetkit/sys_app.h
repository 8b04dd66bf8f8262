// The kit's application object. It adds nothing to QApplication; it exists so that every
// deliverable starts from the same type.
#pragma once

#include <QApplication>

class SysApp : public QApplication
{
    Q_OBJECT
public:
    SysApp(int &argc, char **argv) : QApplication(argc, argv) {}
};
