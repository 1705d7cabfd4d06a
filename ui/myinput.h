#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

// The small frameless dialog in which a library file gets its new name.
class MyInput : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY(MyInput)

public:
    explicit MyInput(QWidget *parent);

    QLabel *titleLabel = nullptr;
    QLineEdit *nameEdit = nullptr;
    QPushButton *closeButton = nullptr;
    QPushButton *okButton = nullptr;
    // True only when the dialog was left with its OK button.
    bool accepted() const { return okPressed; }

public slots:
    void slotOK();
    void slotClose();

private:
    bool okPressed = false;
};
