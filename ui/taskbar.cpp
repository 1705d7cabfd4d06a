#include "ui/taskbar.h"

#include "asr/recognitionrequest.h"
#include "core/tasklist.h"
#include "ui/barbuttons.h"
#include "ui/styles.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

using BarButtons::makeActionButton;

TaskBar::TaskBar(TaskList *list, QWidget *parent)
    : QLabel(parent)
    , tasks(list)
{
    setObjectName(QStringLiteral("taskBar"));
    setStyleSheet(Styles::sheet(QStringLiteral("strip")));

    uploadButton = makeActionButton(this, QStringLiteral("上传文件"), QRect(5, 5, 80, 30));
    uploadButton->setObjectName(QStringLiteral("uploadButton"));
    connect(uploadButton, &QPushButton::clicked, this, &TaskBar::uploadClicked);

    auto *taskLine = new QLineEdit;
    taskLine->setReadOnly(true);
    taskLine->setPlaceholderText(tr("支持所有主流[音频/视频]格式"));
    taskFileCombo = new QComboBox(this);
    taskFileCombo->setObjectName(QStringLiteral("taskFileCombo"));
    taskFileCombo->setGeometry(93, 7, 272, 26);
    taskFileCombo->setStyleSheet(Styles::sheet(QStringLiteral("combo")));
    taskFileCombo->setEditable(true);
    taskFileCombo->setLineEdit(taskLine);
    taskFileCombo->setModel(tasks);
    // Each change of the current entry, as the text overload of currentIndexChanged reports it.
    connect(taskFileCombo, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
        [this](int index) { emit chosenChanged(taskFileCombo->itemText(index)); });

    languageCombo = new QComboBox(this);
    languageCombo->setObjectName(QStringLiteral("languageCombo"));
    for (const RecognitionLanguage &language : recognitionLanguages())
        languageCombo->addItem(language.text);
    languageCombo->setGeometry(372, 7, 80, 26);
    languageCombo->setStyleSheet(Styles::sheet(QStringLiteral("combo")));
    languageCombo->setFocusPolicy(Qt::NoFocus);

    clearListButton = makeActionButton(this, QStringLiteral("清空列表"), QRect(460, 5, 80, 30));
    clearListButton->setObjectName(QStringLiteral("clearListButton"));
    connect(clearListButton, &QPushButton::clicked, this, &TaskBar::clearClicked);

    startConvertButton = makeActionButton(this, QStringLiteral("开始转换"), QRect(550, 5, 90, 30));
    startConvertButton->setObjectName(QStringLiteral("startConvertButton"));
    connect(startConvertButton, &QPushButton::clicked, this, &TaskBar::startClicked);

    stopConvertButton = makeActionButton(this, QStringLiteral("停止转换"), QRect(650, 5, 80, 30));
    stopConvertButton->setObjectName(QStringLiteral("stopConvertButton"));
    stopConvertButton->setEnabled(false);
    connect(stopConvertButton, &QPushButton::clicked, this, &TaskBar::stopClicked);

    closeDocButton = makeActionButton(this, QStringLiteral("关闭文档"), QRect(0, 5, 80, 30));
    closeDocButton->setObjectName(QStringLiteral("closeDocButton"));
    connect(closeDocButton, &QPushButton::clicked, this, &TaskBar::closeDocClicked);
}

void TaskBar::place(int width)
{
    setGeometry(0, 50, width, 40);
    closeDocButton->setGeometry(width - 85, 5, 80, 30);
}

QString TaskBar::language() const
{
    return languageCombo->currentText();
}

QString TaskBar::chosenPath() const
{
    const int row = taskFileCombo->currentIndex();
    return row >= 0 ? tasks->pathAt(row) : tasks->front();
}

void TaskBar::choose(int row)
{
    taskFileCombo->setCurrentIndex(row);
}

void TaskBar::setTaskControlsEnabled(bool enabled)
{
    uploadButton->setEnabled(enabled);
    clearListButton->setEnabled(enabled);
}

void TaskBar::showJobRunning(bool running)
{
    if (running) {
        startConvertButton->setEnabled(false);
        stopConvertButton->setEnabled(true);
    } else {
        startConvertButton->setText(QStringLiteral("开始转换"));
        startConvertButton->setEnabled(true);
        stopConvertButton->setEnabled(false);
        closeDocButton->setEnabled(true);
    }
}

void TaskBar::showStatus(const QString &text)
{
    startConvertButton->setText(text);
}

void TaskBar::setCloseDocEnabled(bool enabled)
{
    closeDocButton->setEnabled(enabled);
}
