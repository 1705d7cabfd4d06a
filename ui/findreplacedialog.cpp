#include "ui/findreplacedialog.h"

#include "core/textfind.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>

FindReplaceDialog::FindReplaceDialog(QTextEdit *edit, QWidget *parent)
    : QDialog(parent)
    , edit(edit)
{
    setObjectName(QStringLiteral("findReplaceDialog"));
    setModal(false);
    findField = new QLineEdit(this);
    findField->setObjectName(QStringLiteral("findField"));
    replaceField = new QLineEdit(this);
    replaceField->setObjectName(QStringLiteral("replaceField"));
    caseBox = new QCheckBox(QStringLiteral("区分大小写"), this);
    caseBox->setObjectName(QStringLiteral("caseBox"));
    wordsBox = new QCheckBox(QStringLiteral("全字匹配"), this);
    wordsBox->setObjectName(QStringLiteral("wordsBox"));
    status = new QLabel(this);
    status->setObjectName(QStringLiteral("findStatus"));
    auto *findButton = new QPushButton(QStringLiteral("查找下一个"), this);
    auto *replaceButton = new QPushButton(QStringLiteral("替换"), this);
    auto *replaceAllButton = new QPushButton(QStringLiteral("全部替换"), this);
    for (QPushButton *b : { findButton, replaceButton, replaceAllButton }) {
        b->setAutoDefault(false);
        b->setFocusPolicy(Qt::NoFocus);
    }
    connect(findButton, &QPushButton::clicked, this, &FindReplaceDialog::findNext);
    connect(replaceButton, &QPushButton::clicked, this, &FindReplaceDialog::replaceNext);
    connect(replaceAllButton, &QPushButton::clicked, this, &FindReplaceDialog::replaceAll);

    replaceButtons = new QWidget(this);
    auto *buttons = new QHBoxLayout(replaceButtons);
    buttons->setContentsMargins(0, 0, 0, 0);
    buttons->addWidget(replaceButton);
    buttons->addWidget(replaceAllButton);
    replaceLabel = new QLabel(QStringLiteral("替换为"), this);

    auto *grid = new QGridLayout(this);
    grid->addWidget(new QLabel(QStringLiteral("查找"), this), 0, 0);
    grid->addWidget(findField, 0, 1);
    grid->addWidget(findButton, 0, 2);
    grid->addWidget(replaceLabel, 1, 0);
    grid->addWidget(replaceField, 1, 1);
    grid->addWidget(replaceButtons, 1, 2);
    auto *options = new QHBoxLayout;
    options->addWidget(caseBox);
    options->addWidget(wordsBox);
    options->addStretch();
    grid->addLayout(options, 2, 0, 1, 3);
    grid->addWidget(status, 3, 0, 1, 3);
    setTabOrder(findField, replaceField);
    findField->installEventFilter(this);
    replaceField->installEventFilter(this);
}

void FindReplaceDialog::showFor(bool withReplace)
{
    setWindowTitle(withReplace ? QStringLiteral("查找和替换") : QStringLiteral("查找"));
    replaceLabel->setVisible(withReplace);
    replaceField->setVisible(withReplace);
    replaceButtons->setVisible(withReplace);
    const QString selected = edit->textCursor().selectedText();
    if (!selected.isEmpty() && !selected.contains(QChar::ParagraphSeparator))
        findField->setText(selected);
    status->clear();
    show();
    raise();
    activateWindow();
    findField->setFocus();
    findField->selectAll();
}

bool FindReplaceDialog::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
        if (enter && mods == (Qt::ControlModifier | Qt::AltModifier)) {
            replaceAll();
            return true;
        }
        if (enter && mods == Qt::NoModifier) {
            if (watched == replaceField)
                replaceNext();
            else
                findNext();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

bool FindReplaceDialog::findNext()
{
    const TextFind::Options options { caseBox->isChecked(), wordsBox->isChecked() };
    const QString text = edit->toPlainText();
    const TextFind::Match match
        = TextFind::findNext(text, findField->text(), edit->textCursor().selectionEnd(), options);
    if (!match.found()) {
        status->setText(QStringLiteral("未找到“%1”").arg(findField->text()));
        return false;
    }
    QTextCursor cursor(edit->document());
    cursor.setPosition(match.start);
    cursor.setPosition(match.start + match.length, QTextCursor::KeepAnchor);
    edit->setTextCursor(cursor);
    status->clear();
    return true;
}

bool FindReplaceDialog::replaceNext()
{
    // The selection is replaced when it is a match; then the next one is found.
    QTextCursor cursor = edit->textCursor();
    const TextFind::Options options { caseBox->isChecked(), wordsBox->isChecked() };
    if (cursor.hasSelection()) {
        const TextFind::Match match = TextFind::findNext(
            edit->toPlainText(), findField->text(), cursor.selectionStart(), options);
        if (match.found() && match.start == cursor.selectionStart()
            && match.start + match.length == cursor.selectionEnd()) {
            cursor.insertText(replaceField->text());
            edit->setTextCursor(cursor);
        }
    }
    return findNext();
}

int FindReplaceDialog::replaceAll()
{
    const TextFind::Options options { caseBox->isChecked(), wordsBox->isChecked() };
    const QVector<TextFind::Match> matches
        = TextFind::findAll(edit->toPlainText(), findField->text(), options);
    QTextCursor cursor(edit->document());
    cursor.beginEditBlock();
    // From the end, so the positions before each replacement still hold.
    for (int i = matches.size() - 1; i >= 0; --i) {
        cursor.setPosition(matches[i].start);
        cursor.setPosition(matches[i].start + matches[i].length, QTextCursor::KeepAnchor);
        cursor.insertText(replaceField->text());
    }
    cursor.endEditBlock();
    status->setText(QStringLiteral("已替换%1处").arg(matches.size()));
    return matches.size();
}
