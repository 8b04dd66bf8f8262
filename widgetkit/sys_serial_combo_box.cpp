#include "widgetkit/sys_serial_combo_box.h"

#include <QAbstractItemView>
#include <QSerialPortInfo>

SysSerialComboBox::SysSerialComboBox(QWidget *parent)
    : SysComboBox(parent), m_lister(&SysSerialComboBox::systemPorts)
{
    connect(&m_timer, &QTimer::timeout, this, &SysSerialComboBox::onTimerTimeout);
}

QStringList SysSerialComboBox::systemPorts()
{
    QStringList names;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        names << info.portName();
    return names;
}

void SysSerialComboBox::startPolling()
{
    m_timer.start(m_interval);
}

void SysSerialComboBox::stopPolling()
{
    m_timer.stop();
}

void SysSerialComboBox::setPortLister(const PortLister &lister)
{
    m_lister = lister ? lister : PortLister(&SysSerialComboBox::systemPorts);
}

void SysSerialComboBox::onTimerTimeout()
{
    // Rebuilding the list under an open pop-up would close it under the user's pointer; the
    // next tick catches up.
    if (view() && view()->isVisible())
        return;
    const QStringList ports = m_lister();
    const QString current = currentText();
    const int currentIdx = currentIndex();
    const int found = ports.lastIndexOf(current);

    m_portNames = ports;
    clear();
    addItems(ports);
    setCurrentIndex(found);

    // Receivers get copies: the signal's references must not reach the remembered state.
    if (currentIdx >= 0) {
        m_lossReported = false;
        if (m_lastPort.isEmpty() || m_lastPort != current) {
            QString port = current;
            QString previous = m_lastPort;
            m_lastPort = current;
            emit currentPortChanged(port, previous);
        }
    } else if (!m_lastPort.isEmpty() && !m_lossReported) {
        m_lossReported = true;
        QString port = current;
        QString previous = m_lastPort;
        emit currentPortChanged(port, previous);
    }
}
