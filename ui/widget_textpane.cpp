#include "ui/widget.h"

void Widget::slotWordOpen(QListWidgetItem *item)
{
    Q_UNUSED(item)
}

void Widget::slotCloseWord()
{
}
