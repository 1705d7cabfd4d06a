#pragma once

#include <QLabel>
#include <QPoint>

class QMouseEvent;
class QPushButton;

// The window's header ("titleBar"): the logo, the title, "服务设置" and the home page, minimise,
// maximise/restore and close buttons. It also moves the frameless window when the user drags
// it; the window hands it the presses its children leave.
class TitleBar final : public QLabel
{
    Q_OBJECT
    Q_DISABLE_COPY(TitleBar)

public:
    explicit TitleBar(QWidget *window);

    // Lays the header out for the window's width; the maximise button shows which it would do.
    void place(int width, bool maximised);

    void dragPressed(QMouseEvent *event);
    void dragReleased(QMouseEvent *event);
    // A maximised window (as wide as the desktop) stays where it is.
    void dragMoved(QMouseEvent *event);

signals:
    void homeClicked();
    void minimizeClicked();
    void maximizeClicked();
    void closeClicked();

private:
    QPushButton *addButton(const QString &tooltip, const QString &image, const char *name);

    QPushButton *homeButton = nullptr;
    QPushButton *minButton = nullptr;
    QPushButton *maxButton = nullptr;
    QPushButton *closeButton = nullptr;
    bool dragging = false;
    QPoint dragPos;
};
