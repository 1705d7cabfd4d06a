#pragma once

#include <QDialog>
#include <QPoint>
#include <QString>

#include <functional>

#include "asr/secretstore.h"
#include "asr/servicesettings.h"
#include "asr/transcriptionjob.h"

class ConnectionTest;
class LanguageProbe;
class QCheckBox;
class QComboBox;
class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class SpeechServiceStarter;
struct JobSettings;

// "服务设置": which service the window and the command line use, with the user's credentials.
// Saves to the settings file and the secret to the keyring (or its private file), and says
// which of the two holds it.
class ServiceSettingsDialog final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY(ServiceSettingsDialog)

public:
    explicit ServiceSettingsDialog(QWidget *parent = nullptr);
    ~ServiceSettingsDialog() override;

    // The settings as the fields show them.
    ServiceSettings shownSettings() const;
    // The settings file, and beside it the terms list and the secret's file; the user's unless a
    // test points elsewhere.
    void setSettingsFile(const QString &file);

    // A button for the window's header that opens the dialog through the dialog seam.
    static QPushButton *addOpenButton(QWidget *bar, const QRect &geometry);

    // Greys the languages a service is known to have no model for, with a tooltip saying so.
    static void markLanguages(QComboBox *box, bool known, const QStringList &offered);

    // Fills the job settings from the saved settings (the window's address stands unless it is
    // the built-in one), reads the secret when the service needs one, then calls start; at
    // once when no secret is needed. A language the service is known to lack ends there with a
    // notice naming the languages it offers. localStarter gives the starter the front end
    // uses for an address (null: it does not start that service); through it the built-in
    // service's languages are asked before its first job.
    static void prepareJob(const JobSettings &base, const QString &builtInUrl, QObject *context,
        std::function<SpeechServiceStarter *(const QString &url)> localStarter,
        std::function<void(const JobSettings &)> start);

protected:
    // Dragged by its title bar, as the notices are.
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void createServiceFields();
    void createTextFields();
    void createStatusRows();
    void layOut();
    void addTitleBar();
    void connectFields();
    void connectTest();
    // Saving writes the settings, then the secret; the dialog closes once the secret is placed.
    void connectSaving();
    void load();
    void save();
    void testConnection();
    void showWarnings();

    QString settingsFile;
    SecretStore *secrets = nullptr;
    ConnectionTest *test = nullptr;
    LanguageProbe *probe = nullptr;
    JobSettings probedSettings;
    QString probedKey;
    QComboBox *kindBox = nullptr;
    QLineEdit *urlEdit = nullptr;
    QLineEdit *clientIdEdit = nullptr;
    QLineEdit *secretEdit = nullptr;
    QLineEdit *modelEdit = nullptr;
    QLineEdit *caFileEdit = nullptr;
    QComboBox *presetBox = nullptr;
    QLineEdit *requestPathEdit = nullptr;
    QLineEdit *tokenUrlEdit = nullptr;
    QComboBox *scriptBox = nullptr;
    QCheckBox *punctuationBox = nullptr;
    QCheckBox *spaceBox = nullptr;
    QCheckBox *numbersBox = nullptr;
    QPlainTextEdit *termsEdit = nullptr;
    QPushButton *closeButton = nullptr;
    QPoint dragFrom;
    QLabel *warningLabel = nullptr;
    QLabel *secretPlaceLabel = nullptr;
    QLabel *testResultLabel = nullptr;
    QPushButton *testButton = nullptr;
    QPushButton *saveButton = nullptr;
    QPushButton *caButton = nullptr;
    QDialogButtonBox *buttons = nullptr;
    bool secretEdited = false;
};
