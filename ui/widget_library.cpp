#include "ui/widget.h"

void Widget::delFile(QString kind, QString name)
{
    Q_UNUSED(kind)
    Q_UNUSED(name)
}

void Widget::renameFile(QString kind, QString name)
{
    Q_UNUSED(kind)
    Q_UNUSED(name)
}

void Widget::saveAsFile(QString kind, QString name)
{
    Q_UNUSED(kind)
    Q_UNUSED(name)
}

void Widget::loadWavList()
{
}

void Widget::loadTxtList()
{
}
