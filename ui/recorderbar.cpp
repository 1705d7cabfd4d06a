#include "ui/recorderbar.h"

#include "audio/audiotexts.h"
#include "audio/recorder.h"
#include "platform/inputdevices.h"
#include "ui/barbuttons.h"
#include "ui/dialogs.h"
#include "ui/styles.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTimer>

RecorderBar::RecorderBar(QWidget *strip, QWidget *clockParent)
    : QObject(strip)
{
    deviceCombo = new QComboBox(strip);
    deviceCombo->setObjectName(QStringLiteral("deviceCombo"));
    deviceCombo->setGeometry(10, 10, 96, 30);
    deviceCombo->setStyleSheet(Styles::sheet(QStringLiteral("combo")));
    connect(deviceCombo, &QComboBox::currentTextChanged, this,
        [this](const QString &name) { audioDevice = name; });

    // Beside the record button, where a user looks for how to record; read when it starts.
    liveToggle = new QCheckBox(QStringLiteral("实时转写"), strip);
    liveToggle->setObjectName(QStringLiteral("liveCheck"));
    liveToggle->setToolTip(QStringLiteral("录音时同步识别文字"));
    liveToggle->setGeometry(112, 15, 72, 20);
    liveToggle->setStyleSheet(Styles::sheet(QStringLiteral("live-check")));

    recordButton = BarButtons::makeButton(strip, QStringLiteral("开始录制"),
        Styles::sheet(QStringLiteral("record-button")), QRect(186, 13, 24, 24));
    recordButton->setObjectName(QStringLiteral("recordButton"));
    recordButton->setCheckable(true);
    connect(recordButton, &QPushButton::toggled, this, &RecorderBar::slotBeginRecord);

    recordTimeLabel = new QLabel(clockParent);
    recordTimeLabel->setObjectName(QStringLiteral("recordTimeLabel"));
    recordTimeLabel->setGeometry(223, 4, 76, 42);
    recordTimeLabel->setText(QStringLiteral("00:00:00"));
    recordTimeLabel->setStyleSheet(Styles::sheet(QStringLiteral("record-clock")));

    recorder = new Recorder(this);
    connect(recorder, &Recorder::failed, this, &RecorderBar::recordingFailed);
    connect(recorder, &Recorder::samples, this, &RecorderBar::samples);
    recordTimer = new QTimer(this);
    recordTimer->setObjectName(QStringLiteral("recordTimer"));
    connect(recordTimer, &QTimer::timeout, this, &RecorderBar::sltSetRecordTime);
}

void RecorderBar::setTarget(const QString &where, std::function<bool(const QString &)> taken)
{
    folder = where;
    nameTaken = std::move(taken);
}

void RecorderBar::setCaptureInputOverride(const QStringList &args)
{
    recorder->setCaptureInputOverride(args);
}

void RecorderBar::getAudioDev()
{
    for (const QString &name : InputDevices::names())
        deviceCombo->insertItem(deviceCombo->count(), name, QVariant());
}

bool RecorderBar::isRecording() const
{
    return recorder->isRecording();
}

void RecorderBar::setLiveEnabled(bool enabled)
{
    liveAllowed = enabled;
    liveToggle->setEnabled(enabled && !isRecording());
}

void RecorderBar::showIdle()
{
    if (recordTimer->isActive())
        recordTimer->stop();
    recordButton->setToolTip(QStringLiteral("开始录制"));
    liveRecording = false;
    recorder->setLiveSamples(false);
    liveToggle->setEnabled(liveAllowed);
}

void RecorderBar::slotBeginRecord(bool checked)
{
    if (!checked) {
        finishRecording();
        return;
    }
    if (audioDevice.isEmpty()) {
        Dialogs::current().information(
            recordButton->window(), QStringLiteral("提示"), QStringLiteral("没有检测到录音设备！"));
        // Back to Idle without the stop steps: there is nothing to stop.
        const QSignalBlocker blocker(recordButton);
        recordButton->setChecked(false);
        return;
    }

    liveRecording = liveAllowed && liveToggle->isChecked();
    recorder->setLiveSamples(liveRecording);
    liveToggle->setEnabled(false);
    recordFile = recorder->start(folder, audioDevice, [this](const QString &path) {
        return (nameTaken && nameTaken(path)) || QFileInfo::exists(path);
    });
    // A failure to start has already put the toggle back and said why.
    if (!recordButton->isChecked())
        return;
    recordButton->setToolTip(QStringLiteral("停止录制"));
    recordStartTime = QDateTime::currentMSecsSinceEpoch();
    recordTimer->start(500);
    emit started(recordFile, liveRecording);
}

void RecorderBar::finishRecording()
{
    const bool written = recorder->finish();
    showIdle();
    if (!written) {
        emit abandoned();
        Dialogs::current().information(recordButton->window(), QStringLiteral("提示"),
            QStringLiteral("录音失败，未生成录音文件！"));
        return;
    }
    emit recorded(recordFile);
}

void RecorderBar::endQuietly()
{
    if (!recorder->isRecording())
        return;
    // Finished as the quit key finishes it, so the file stays playable.
    recorder->finish();
    showIdle();
    const QSignalBlocker blocker(recordButton);
    recordButton->setChecked(false);
}

void RecorderBar::recordingFailed(const QString &message)
{
    if (!recordButton->isChecked())
        return;
    showIdle();
    {
        const QSignalBlocker blocker(recordButton);
        recordButton->setChecked(false);
    }
    emit abandoned();
    Dialogs::current().information(recordButton->window(), QStringLiteral("提示"), message);
}

void RecorderBar::sltSetRecordTime()
{
    const int seconds = int((QDateTime::currentMSecsSinceEpoch() - recordStartTime) / 1000);
    recordTimeLabel->setText(AudioTexts::clockText(seconds));
}
