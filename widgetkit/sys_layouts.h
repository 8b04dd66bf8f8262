// Box layouts and the tool box of the kit; they add nothing to their Qt classes.
#pragma once

#include <QHBoxLayout>
#include <QToolBox>
#include <QVBoxLayout>

class SysHLayout : public QHBoxLayout
{
    Q_OBJECT
public:
    SysHLayout() = default;
    explicit SysHLayout(QWidget *parent) : QHBoxLayout(parent) {}
};

class SysVLayout : public QVBoxLayout
{
    Q_OBJECT
public:
    SysVLayout() = default;
    explicit SysVLayout(QWidget *parent) : QVBoxLayout(parent) {}
};

class SysToolBox : public QToolBox
{
    Q_OBJECT
public:
    // Tabs drawn as the kit's buttons: light when closed, the theme colour when open.
    explicit SysToolBox(QWidget *parent = nullptr) : QToolBox(parent)
    {
        setStyleSheet(QStringLiteral(
            "\tQToolBox::tab{\t\tbackground-color: #ecf5ff;\t\tborder: 1px solid #c6e2ff;"
            "\t\tborder-radius: .25em;\t\tpadding: .25em .5em;\t\tcolor: #000;\t}"
            "\tQToolBox::tab:selected{\t\tbackground-color: #409eff;\t\tborder-color: #409eff;"
            "\t\tcolor: #fff;\t}"));
    }
};
