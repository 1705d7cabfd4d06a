#include "ui/widget.h"

#include "core/tasklist.h"
#include "ui/dialogs.h"
#include "ui/playerbar.h"
#include "ui/taskbar.h"

const QString &Widget::playbackFile() const
{
    return playerBar->file();
}

bool Widget::playbackLoaded() const
{
    return playerBar->loaded();
}

void Widget::slotPlay()
{
    if (taskFiles->isEmpty()) {
        Dialogs::current().information(
            this, QStringLiteral("提示"), QStringLiteral("无可播放的音频文件！"));
        return;
    }
    playerBar->play(taskBar->chosenPath());
}
