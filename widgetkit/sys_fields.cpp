#include "widgetkit/sys_fields.h"

#include "widgetkit/sys_combo_box.h"
#include "widgetkit/sys_label.h"
#include "widgetkit/sys_layouts.h"
#include "widgetkit/sys_line_edit.h"
#include "widgetkit/sys_number_edit.h"
#include "widgetkit/sys_serial_combo_box.h"
#include "widgetkit/sys_widget.h"

namespace {

template <class Input>
SysField<Input> makeField(QWidget *parent, const QString &label, Input *input)
{
    SysField<Input> field;
    field.row = new SysWidget(parent);
    auto *layout = new SysHLayout(field.row);
    layout->setContentsMargins(0, 0, 0, 0);
    field.label = new SysLabel(field.row, label + QLatin1Char(':'));
    field.input = input;
    input->setParent(field.row);
    layout->addWidget(field.label);
    layout->addWidget(input, 1);
    return field;
}

} // namespace

SysField<SysLineEdit> sysLineEditField(QWidget *parent, const QString &label)
{
    return makeField(parent, label, new SysLineEdit);
}

SysField<SysNumberEdit> sysNumberField(QWidget *parent, const QString &label, int minimum, int maximum, int value)
{
    auto *edit = new SysNumberEdit;
    edit->setRange(minimum, maximum);
    edit->setValue(value);
    return makeField(parent, label, edit);
}

SysField<SysComboBox> sysComboBoxField(QWidget *parent, const QString &label, const QStringList &items)
{
    return makeField(parent, label, new SysComboBox(nullptr, items));
}

SysField<SysSerialComboBox> sysSerialPortField(QWidget *parent, const QString &label, bool startPolling)
{
    auto field = makeField(parent, label, new SysSerialComboBox);
    if (startPolling)
        field.input->startPolling();
    return field;
}

const QStringList &sysBaudRates()
{
    static const QStringList rates{
        QStringLiteral("9600"),   QStringLiteral("38400"),  QStringLiteral("57600"),  QStringLiteral("76800"),
        QStringLiteral("115200"), QStringLiteral("177230"), QStringLiteral("230400"), QStringLiteral("460800"),
        QStringLiteral("576000"), QStringLiteral("691200"), QStringLiteral("806400"), QStringLiteral("921600"),
        QStringLiteral("2000000")};
    return rates;
}
