#include "ui/appglobals.h"

int AppGlobals::width = 0;
int AppGlobals::height = 0;
int AppGlobals::available = 0;
QString AppGlobals::client;
QFont AppGlobals::font;
QString AppGlobals::dir;
