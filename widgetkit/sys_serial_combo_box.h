// Serial-port chooser that follows the ports present on the machine.
#pragma once

#include "widgetkit/sys_combo_box.h"

#include <QTimer>

#include <functional>

class SysSerialComboBox : public SysComboBox
{
    Q_OBJECT
public:
    // Lists the port names in the order the system reports them.
    using PortLister = std::function<QStringList()>;

    explicit SysSerialComboBox(QWidget *parent = nullptr);

    void startPolling();
    void stopPolling();
    bool isPolling() const { return m_timer.isActive(); }
    void setPollInterval(int ms) { m_interval = ms; }
    int pollInterval() const { return m_interval; }
    // Replaces where the port list comes from (the system's serial ports by default).
    void setPortLister(const PortLister &lister);
    static QStringList systemPorts();

    QStringList portNames() const { return m_portNames; }
    QString lastPort() const { return m_lastPort; }
    bool lossReported() const { return m_lossReported; }

signals:
    // The selected port changed from strPrevPort to strPort; strPort is empty when the
    // selected port disappeared (reported once).
    void currentPortChanged(QString &strPort, QString &strPrevPort);

public slots:
    // One poll: refreshes the list, keeps the selection when its port is still there, and
    // reports changes of the selected port.
    void onTimerTimeout();

private:
    QTimer m_timer;
    int m_interval = 1000;
    QStringList m_portNames;
    QString m_lastPort;
    bool m_lossReported = false;
    PortLister m_lister;
};
