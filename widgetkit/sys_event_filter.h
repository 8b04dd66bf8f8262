// Key filter for any widget: Return and Ctrl+Return (not the keypad Enter key).
#pragma once

#include <QObject>

class SysEventFilter : public QObject
{
    Q_OBJECT
public:
    explicit SysEventFilter(QObject *parent = nullptr) : QObject(parent) {}

    // Never consumes the event.
    bool eventFilter(QObject *watched, QEvent *event) override;

signals:
    void returnPressed();
    // Emitted after returnPressed() when Control is held.
    void ctrlAndReturnPressed();
};
