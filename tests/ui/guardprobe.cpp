// Runs the single-instance guard once, answering its notice instead of showing it, and prints
// "<result> <notice text>" so that a test can see what a start of the program would do.
#include "app/startup.h"
#include "ui/deskmsgbar.h"
#include "ui/dialogs.h"

#include <QApplication>
#include <QLabel>
#include <cstdio>

namespace {
class NoticeReader : public Dialogs
{
public:
    int execDialog(QDialog *dialog) override
    {
        if (auto *notice = qobject_cast<deskMsgBar *>(dialog))
            text = notice->messageLabel->text();
        return QDialog::Rejected;
    }
    QString text;
};
} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    NoticeReader reader;
    Dialogs::install(&reader);
    const int result = checkSingleInstance();
    std::printf("%d %s\n", result, reader.text.toUtf8().constData());
    return 0;
}
