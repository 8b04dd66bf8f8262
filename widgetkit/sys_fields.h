// Labelled input rows ("Label:" followed by one input) and the standard baud-rate list.
#pragma once

#include <QStringList>

class QWidget;
class SysComboBox;
class SysLabel;
class SysLineEdit;
class SysNumberEdit;
class SysSerialComboBox;
class SysWidget;

// One row: a SysWidget with a SysHLayout holding the label and the input. The row is a
// child of the given parent; label and input are children of the row.
template <class Input>
struct SysField {
    SysWidget *row = nullptr;
    SysLabel *label = nullptr;
    Input *input = nullptr;
};

SysField<SysLineEdit> sysLineEditField(QWidget *parent, const QString &label);
SysField<SysNumberEdit> sysNumberField(QWidget *parent, const QString &label, int minimum, int maximum,
                                       int value = 0);
SysField<SysComboBox> sysComboBoxField(QWidget *parent, const QString &label, const QStringList &items);
// With startPolling, the port list is polled from now on.
SysField<SysSerialComboBox> sysSerialPortField(QWidget *parent, const QString &label, bool startPolling);

// "9600" ... "2000000", thirteen entries, in the kit's order.
const QStringList &sysBaudRates();
