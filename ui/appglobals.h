#pragma once

#include <QFont>
#include <QString>

// Process-wide values, set once at start-up (tests set their own) and read everywhere.
class AppGlobals
{
public:
    AppGlobals() = delete;

    static int screenWidth() { return width; }
    static int screenHeight() { return height; }
    static int availableHeight() { return available; }
    static const QString &clientId() { return client; }
    // The notice dialog's font, with a pixel size.
    static const QFont &appFont() { return font; }
    // Where the working folders are (installed or portable layout).
    static const QString &appDir() { return dir; }

    static void setScreenWidth(int value) { width = value; }
    static void setScreenHeight(int value) { height = value; }
    static void setAvailableHeight(int value) { available = value; }
    static void setClientId(const QString &value) { client = value; }
    static void setAppFont(const QFont &value) { font = value; }
    static void setAppDir(const QString &value) { dir = value; }

private:
    static int width;
    static int height;
    static int available;
    static QString client;
    static QFont font;
    static QString dir;
};
