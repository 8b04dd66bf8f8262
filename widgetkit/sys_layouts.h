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
    explicit SysToolBox(QWidget *parent = nullptr) : QToolBox(parent) {}
};
