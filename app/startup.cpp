#include "app/startup.h"

#include "app/appglobals.h"
#include "platform/clientid.h"
#include "ui/deskmsgbar.h"
#include "ui/dialogs.h"

#include <QSharedMemory>

int checkSingleInstance()
{
    QSharedMemory &guard = AppGlobals::instanceGuard;
    // A segment left by an instance that was killed has nobody attached any more: attaching
    // and detaching again removes it, while a running instance keeps its segment alive.
    if (guard.attach())
        guard.detach();
    if (guard.create(1, QSharedMemory::ReadWrite))
        return 0;

    const QString text = guard.error() == QSharedMemory::AlreadyExists
        ? QStringLiteral("程序已经启动！")
        : QStringLiteral("程序启动错误！");
    auto *notice = new deskMsgBar(nullptr, false, text);
    Dialogs::current().execDialog(notice);
    notice->deleteLater();
    return 1;
}

QString getClientId()
{
    return ClientId::fromAdapters(ClientId::systemAdapters());
}
