#pragma once

#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;
class QTextEdit;

// Find and replace in the transcript pane, beside it rather than over it: Enter in the find
// field finds the next, in the replace field replaces it, Ctrl+Alt+Enter replaces all (one
// undo step) and tells how many. Width forms match each other (TextFind).
class FindReplaceDialog final : public QDialog
{
    Q_OBJECT

public:
    FindReplaceDialog(QTextEdit *edit, QWidget *parent);

    void showFor(bool withReplace);
    bool findNext();
    bool replaceNext();
    int replaceAll();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QTextEdit *edit;
    QLineEdit *findField;
    QLineEdit *replaceField;
    QLabel *replaceLabel;
    QCheckBox *caseBox;
    QCheckBox *wordsBox;
    QLabel *status;
    QWidget *replaceButtons;
};
