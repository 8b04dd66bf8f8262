// Form layout whose labels are right-aligned kit labels, with row factories.
#pragma once

#include <QFormLayout>
#include <QStringList>

class SysComboBox;
class SysLineEdit;
class SysTable;

class SysFormLayout : public QFormLayout
{
    Q_OBJECT
public:
    explicit SysFormLayout(QWidget *parent = nullptr);

    // Colour of the labels created from now on.
    void setLabelColor(const QString &colour) { m_labelColor = colour; }
    QString labelColor() const { return m_labelColor; }

    using QFormLayout::addRow;
    // Adds a SysLabel (right-aligned, vertically centred) and the widget.
    void addRow(const QString &label, QWidget *widget);
    // Create the kit widget (child of the layout's widget), add the row, return the widget.
    SysLineEdit *addLineEdit(const QString &label, int maxLength = 32767, const QString &text = QString());
    SysComboBox *addComboBox(const QString &label, const QStringList &items);
    SysTable *addTable(const QString &label, const QStringList &headers);

private:
    QString m_labelColor = QStringLiteral("#000");
};
