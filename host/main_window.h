// The host's one main window: plug-in list on the left, the chosen plug-in's window on the right.
#pragma once

#include "host/app_args.h"

#include <QMainWindow>

class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    // The process's one main window, created on the first call under a process-wide lock.
    static MainWindow *instance();
    // True once instance() has created the window.
    static bool exists();

    // Builds the window, loads the plug-ins and honours option "c".
    bool init(const AppArgs &args);

    const AppArgs &args() const { return m_args; }

    // Relaunches the host with "mutex" 0 and "c" set to the plug-in shown now.
    // Returns only when the new process could not be started.
    void restart();

private:
    explicit MainWindow(QWidget *parent = nullptr);

    AppArgs m_args;
};
