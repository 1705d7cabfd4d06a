#pragma once

#include <QFont>
#include <QSharedMemory>
#include <QString>

// Process-wide values, written once at start-up and read everywhere.
struct AppGlobals
{
    static int screenWidth;
    static int screenHeight;
    static int availableHeight;
    static QString clientId;
    static QFont appFont;
    static QSharedMemory instanceGuard;
    static QString appDir;
};
