// Themed main window of the kit.
#pragma once

#include <QMainWindow>

class SysMainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit SysMainWindow(QWidget *parent = nullptr) : QMainWindow(parent) {}
};
