// Drop-down list with a list-view pop-up, so that the item rules of its sheet apply.
#pragma once

#include <QComboBox>
#include <QStringList>

class SysComboBox : public QComboBox
{
    Q_OBJECT
public:
    explicit SysComboBox(QWidget *parent = nullptr, const QStringList &items = QStringList());

    void setFontSize(int px);
    void setFontWeight(int weight);
    void setItemPadding(double horizontalEm, double verticalEm);
    void setBorderRadius(double em);
    void setBorderWidth(int px);
    void setBorderColor(const QString &colour);
    void setMinWidth(double em);
    void setMaxWidth(double em);
    void setThemeColor(const QString &colour);
    void setBackgroundColor(const QString &colour);
    void setTextColor(const QString &colour);
    // Closed and open arrow triangles.
    void setArrowColor(const QString &closed, const QString &open);
    void setScrollBarColor(const QString &colour);

    QStringList itemTexts() const;
    // Clears the box, then adds the items.
    void setItems(const QStringList &items);
    // Hides the row in the pop-up list.
    void hideItem(int row);
    // When on, picking any entry selects the last item (off by default).
    void setSelectLast(bool on) { m_selectLast = on; }
    bool selectLast() const { return m_selectLast; }

private slots:
    void onActivated(int index);

private:
    bool m_selectLast = false;
};
