#include "ui/widget.h"

Widget::Widget()
    : QLabel(nullptr)
{
}

Widget::~Widget() = default;
