#include "ui/widget.h"

void Widget::requestAccessToken()
{
}

void Widget::sltTokenTimeout()
{
}
