#include "ui/appglobals.h"

int AppGlobals::screenWidth = 0;
int AppGlobals::screenHeight = 0;
int AppGlobals::availableHeight = 0;
QString AppGlobals::clientId;
QFont AppGlobals::appFont;
QSharedMemory AppGlobals::instanceGuard(QStringLiteral("TovarinOpened"));
QString AppGlobals::appDir;
