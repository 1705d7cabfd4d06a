#pragma once

#include <QDialog>
#include <QPoint>
#include <QString>

class QKeyEvent;
class QLabel;
class QMouseEvent;
class QPushButton;

// The program's own frameless notice: a white card with a blue header, always on top,
// centred on the desktop, moved by dragging, deaf to the keyboard.
class deskMsgBar : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY(deskMsgBar)

public:
    deskMsgBar(QWidget *parent, bool showCancel, const QString &text);

    QLabel *messageLabel = nullptr;
    QPushButton *okButton = nullptr;
    QPushButton *cancelButton = nullptr;
    QPushButton *closeButton = nullptr;
    bool dragging = false;
    QPoint dragPos;

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

public slots:
    void sureBtnSlot();
    void cancleBtnSlot();
    void closeBtnSlot();

private:
    // The white card and its blue header.
    void addCard();
    void addMessage(const QString &text);
    void addButtons();
    // The default button alone in the middle, or with "否" beside it on one line.
    void placeButtons(bool showCancel);
};
