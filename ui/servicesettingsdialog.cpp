#include "ui/servicesettingsdialog.h"

#include <QCheckBox>
#include <QColor>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include "asr/connectiontest.h"
#include "asr/jobservice.h"
#include "asr/servicelanguages.h"
#include "asr/transcriptionjob.h"
#include "core/userterms.h"
#include "core/wholefile.h"
#include "ui/appglobals.h"
#include "ui/dialogs.h"
#include "ui/styles.h"

namespace {

QString trimmedAddress(QString url)
{
    url = url.trimmed();
    while (url.endsWith(QLatin1Char('/')))
        url.chop(1);
    return url;
}

bool isServiceAddress(const QString &url)
{
    const QUrl parsed(url, QUrl::StrictMode);
    const QString scheme = parsed.scheme().toLower();
    return parsed.isValid() && !parsed.host().isEmpty()
        && (scheme == QLatin1String("http") || scheme == QLatin1String("https"));
}

// The request paths of common servers of the transcription API: the API's own, which most
// take (and OpenAI's client libraries write with "/v1" in the base address), and
// whisper.cpp's server, which has a path of its own.
struct Preset
{
    const char *label;
    const char *path;
    const char *address;
};
const Preset Presets[] = {
    { "OpenAI 兼容（/v1/audio/transcriptions）", "", "http://127.0.0.1:8000/v1" },
    { "whisper.cpp 服务器（/inference）", "/inference", "http://127.0.0.1:8080" },
    { "LocalAI", "", "http://127.0.0.1:8080/v1" },
    { "Speaches / faster-whisper-server", "", "http://127.0.0.1:8000/v1" },
};

QString termsPath(const QString &settingsFile)
{
    return QFileInfo(settingsFile).absolutePath() + QStringLiteral("/terms.txt");
}

QLineEdit *makeEdit(QWidget *parent, const char *name)
{
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    return edit;
}

} // namespace

ServiceSettingsDialog::ServiceSettingsDialog(QWidget *parent)
    : QDialog(parent)
    , settingsFile(ServiceSettingsFile::path())
    , secrets(new SecretStore(this))
    , test(new ConnectionTest(this))
    , probe(new LanguageProbe(this))
{
    setObjectName(QStringLiteral("serviceSettingsDialog"));
    setWindowTitle(QStringLiteral("服务设置"));
    // Framed as the program's notices: no system frame, a blue title bar, a close button.
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_QuitOnClose, false);
    setStyleSheet(Styles::sheet(QStringLiteral("settings-dialog")));
    createServiceFields();
    createTextFields();
    createStatusRows();
    layOut();
    addTitleBar();
    connectFields();
    connectTest();
    connectSaving();
    load();
}

void ServiceSettingsDialog::createServiceFields()
{
    kindBox = new QComboBox(this);
    kindBox->setObjectName(QStringLiteral("serviceKindBox"));
    kindBox->addItem(QStringLiteral("本程序的语音服务协议（令牌）"),
        ServiceSettings::kindName(ServiceSettings::Kind::Token));
    kindBox->addItem(QStringLiteral("转写接口（/v1/audio/transcriptions）"),
        ServiceSettings::kindName(ServiceSettings::Kind::Transcriptions));
    urlEdit = makeEdit(this, "serviceUrlEdit");
    urlEdit->setPlaceholderText(QStringLiteral("留空：本机自带的语音服务"));
    clientIdEdit = makeEdit(this, "serviceClientIdEdit");
    clientIdEdit->setPlaceholderText(QStringLiteral("留空：内置的客户端编号"));
    secretEdit = makeEdit(this, "serviceSecretEdit");
    secretEdit->setEchoMode(QLineEdit::Password);
    modelEdit = makeEdit(this, "serviceModelEdit");
    caFileEdit = makeEdit(this, "serviceCaFileEdit");
    caFileEdit->setPlaceholderText(QStringLiteral("留空：只信任系统证书"));
    presetBox = new QComboBox(this);
    presetBox->setObjectName(QStringLiteral("servicePresetBox"));
    presetBox->addItem(QStringLiteral("自定义"));
    for (const Preset &preset : Presets)
        presetBox->addItem(QString::fromUtf8(preset.label));
    requestPathEdit = makeEdit(this, "serviceRequestPathEdit");
    requestPathEdit->setPlaceholderText(QStringLiteral("留空：/v1/audio/transcriptions"));
    tokenUrlEdit = makeEdit(this, "serviceTokenUrlEdit");
    tokenUrlEdit->setPlaceholderText(QStringLiteral("留空：与服务地址相同"));
}

void ServiceSettingsDialog::createTextFields()
{
    scriptBox = new QComboBox(this);
    scriptBox->setObjectName(QStringLiteral("textScriptBox"));
    scriptBox->addItem(
        QStringLiteral("按服务原样"), ChineseScript::name(ChineseScript::Target::AsGiven));
    scriptBox->addItem(
        QStringLiteral("简体"), ChineseScript::name(ChineseScript::Target::Simplified));
    scriptBox->addItem(QStringLiteral("繁體（台灣）"),
        ChineseScript::name(ChineseScript::Target::TraditionalTaiwan));
    scriptBox->addItem(QStringLiteral("繁體（香港）"),
        ChineseScript::name(ChineseScript::Target::TraditionalHongKong));
    punctuationBox = new QCheckBox(QStringLiteral("中文标点"), this);
    punctuationBox->setObjectName(QStringLiteral("chinesePunctuationBox"));
    spaceBox = new QCheckBox(QStringLiteral("中英文之间加空格"), this);
    spaceBox->setObjectName(QStringLiteral("spaceBetweenBox"));
    numbersBox = new QCheckBox(QStringLiteral("数字用阿拉伯数字"), this);
    numbersBox->setObjectName(QStringLiteral("arabicNumbersBox"));
    termsEdit = new QPlainTextEdit(this);
    termsEdit->setObjectName(QStringLiteral("termsEdit"));
    termsEdit->setPlaceholderText(QStringLiteral("每行一条：术语，或 错词 => 正词"));
    termsEdit->setFixedHeight(90);
}

void ServiceSettingsDialog::createStatusRows()
{
    caButton = new QPushButton(QStringLiteral("选择..."), this);
    caButton->setObjectName(QStringLiteral("serviceCaFileButton"));
    warningLabel = new QLabel(this);
    warningLabel->setObjectName(QStringLiteral("serviceWarningLabel"));
    warningLabel->setWordWrap(true);
    warningLabel->setStyleSheet(Styles::sheet(QStringLiteral("settings-warning")));
    secretPlaceLabel = new QLabel(this);
    secretPlaceLabel->setObjectName(QStringLiteral("secretPlaceLabel"));
    secretPlaceLabel->setWordWrap(true);
    testButton = new QPushButton(QStringLiteral("测试连接"), this);
    testButton->setObjectName(QStringLiteral("serviceTestButton"));
    testResultLabel = new QLabel(this);
    testResultLabel->setObjectName(QStringLiteral("serviceTestResult"));
    testResultLabel->setWordWrap(true);
    buttons = new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Cancel, this);
    buttons->setObjectName(QStringLiteral("serviceButtons"));
    saveButton = buttons->button(QDialogButtonBox::Save);
    saveButton->setText(QStringLiteral("保存"));
    saveButton->setObjectName(QStringLiteral("serviceSaveButton"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
}

void ServiceSettingsDialog::layOut()
{
    auto *caRow = new QHBoxLayout;
    caRow->addWidget(caFileEdit);
    caRow->addWidget(caButton);
    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("服务类型"), kindBox);
    form->addRow(QStringLiteral("服务地址"), urlEdit);
    form->addRow(QStringLiteral("客户端编号"), clientIdEdit);
    form->addRow(QStringLiteral("密钥"), secretEdit);
    form->addRow(QStringLiteral("模型"), modelEdit);
    form->addRow(QStringLiteral("CA 证书文件"), caRow);
    form->addRow(QStringLiteral("常见服务器"), presetBox);
    form->addRow(QStringLiteral("请求路径"), requestPathEdit);
    form->addRow(QStringLiteral("令牌地址"), tokenUrlEdit);
    form->addRow(QStringLiteral("输出文字"), scriptBox);
    auto *textRow = new QHBoxLayout;
    textRow->addWidget(punctuationBox);
    textRow->addWidget(spaceBox);
    textRow->addWidget(numbersBox);
    textRow->addStretch(1);
    form->addRow(QString(), textRow);
    form->addRow(QStringLiteral("术语"), termsEdit);
    auto *testRow = new QHBoxLayout;
    testRow->addWidget(testButton);
    testRow->addWidget(testResultLabel, 1);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 50, 20, 16);
    layout->addLayout(form);
    layout->addWidget(warningLabel);
    layout->addWidget(secretPlaceLabel);
    layout->addLayout(testRow);
    layout->addWidget(buttons);
    setMinimumWidth(600);
}

void ServiceSettingsDialog::connectFields()
{
    connect(presetBox, QOverload<int>::of(&QComboBox::activated), this, [this](int index) {
        if (index <= 0)
            return;
        const Preset &preset = Presets[index - 1];
        kindBox->setCurrentIndex(
            kindBox->findData(ServiceSettings::kindName(ServiceSettings::Kind::Transcriptions)));
        requestPathEdit->setText(QString::fromUtf8(preset.path));
        urlEdit->setPlaceholderText(QStringLiteral("例如 ") + QString::fromUtf8(preset.address));
    });
    connect(urlEdit, &QLineEdit::textChanged, this, &ServiceSettingsDialog::showWarnings);
    connect(kindBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
        &ServiceSettingsDialog::showWarnings);
    connect(secretEdit, &QLineEdit::textEdited, this, [this] { secretEdited = true; });
    connect(caButton, &QPushButton::clicked, this, [this] {
        const QStringList files = Dialogs::current().openFileNames(this,
            QStringLiteral("选择 CA 证书文件"), QString(), QStringLiteral("PEM (*.pem *.crt);;*"));
        if (!files.isEmpty())
            caFileEdit->setText(files.first());
    });
}

void ServiceSettingsDialog::connectTest()
{
    connect(testButton, &QPushButton::clicked, this, &ServiceSettingsDialog::testConnection);
    connect(test, &ConnectionTest::finished, this,
        [this](ConnectionTest::Outcome outcome, const QString &text) {
            testResultLabel->setText(text);
            if (outcome != ConnectionTest::Outcome::Accepted) {
                testButton->setEnabled(true);
                return;
            }
            // The service answers: which languages it has models for, kept for the jobs.
            probedKey = ServiceLanguages::serviceKey(probedSettings);
            probe->start(probedSettings);
        });
    connect(probe, &LanguageProbe::finished, this, [this](bool known, const QStringList &offered) {
        testButton->setEnabled(true);
        if (!known)
            return;
        ServiceLanguages::keep(probedKey, offered);
        testResultLabel->setText(testResultLabel->text() + QStringLiteral(" 可用语言：")
            + (offered.isEmpty() ? QStringLiteral("无") : offered.join(QStringLiteral("、"))));
    });
}

void ServiceSettingsDialog::connectSaving()
{
    connect(saveButton, &QPushButton::clicked, this, &ServiceSettingsDialog::save);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(secrets, &SecretStore::readDone, this,
        [this](const QString &secret, SecretStore::Place place) {
            if (!secretEdited)
                secretEdit->setText(secret);
            secretPlaceLabel->setText(SecretStore::placeText(place, secrets->filePath()));
        });
    connect(secrets, &SecretStore::written, this, [this](SecretStore::Place place) {
        saveButton->setEnabled(true);
        if (place == SecretStore::Place::None && !secretEdit->text().isEmpty()) {
            secretPlaceLabel->setText(QStringLiteral("密钥无法保存：系统密钥环与文件 %1 都不可用！")
                                          .arg(secrets->filePath()));
            return;
        }
        secretPlaceLabel->setText(SecretStore::placeText(place, secrets->filePath()));
        accept();
    });
}

ServiceSettingsDialog::~ServiceSettingsDialog() = default;

void ServiceSettingsDialog::addTitleBar()
{
    auto *title = new QLabel(QStringLiteral("  服务设置"), this);
    title->setObjectName(QStringLiteral("serviceTitleLabel"));
    title->setFont(AppGlobals::appFont());
    title->setStyleSheet(Styles::sheet(QStringLiteral("dialog-title")));
    title->setGeometry(0, 0, 2000, 40);
    auto *close = new QPushButton(this);
    close->setObjectName(QStringLiteral("serviceCloseButton"));
    close->setFixedSize(30, 30);
    close->setCursor(Qt::PointingHandCursor);
    close->setStyleSheet(Styles::imageButton(QStringLiteral("closeBtn_p")));
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    closeButton = close;
}

void ServiceSettingsDialog::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    // The title spans the dialog; the close button keeps to its right edge.
    closeButton->move(width() - closeButton->width() - 5, 5);
}

void ServiceSettingsDialog::mousePressEvent(QMouseEvent *event)
{
    dragFrom = event->button() == Qt::LeftButton && event->pos().y() < 40 ? event->pos()
                                                                          : QPoint(-1, -1);
}

void ServiceSettingsDialog::mouseMoveEvent(QMouseEvent *event)
{
    if ((event->buttons() & Qt::LeftButton) && dragFrom.x() >= 0)
        move(event->globalPos() - dragFrom);
}

void ServiceSettingsDialog::setSettingsFile(const QString &file)
{
    settingsFile = file;
    secrets->setFolder(QFileInfo(file).absolutePath());
    load();
}

ServiceSettings ServiceSettingsDialog::shownSettings() const
{
    ServiceSettings settings;
    ServiceSettings::kindFromName(kindBox->currentData().toString(), &settings.kind);
    settings.url = trimmedAddress(urlEdit->text());
    settings.model = modelEdit->text().trimmed();
    if (settings.model.isEmpty())
        settings.model = ServiceSettings().model;
    settings.clientId = clientIdEdit->text().trimmed();
    settings.caFile = caFileEdit->text().trimmed();
    settings.requestPath = requestPathEdit->text().trimmed();
    settings.tokenUrl = trimmedAddress(tokenUrlEdit->text());
    ChineseScript::fromName(scriptBox->currentData().toString(), &settings.script);
    settings.chinesePunctuation = punctuationBox->isChecked();
    settings.spaceBetween = spaceBox->isChecked();
    settings.arabicNumbers = numbersBox->isChecked();
    return settings;
}

void ServiceSettingsDialog::load()
{
    const ServiceSettings settings = ServiceSettingsFile::load(settingsFile);
    kindBox->setCurrentIndex(kindBox->findData(ServiceSettings::kindName(settings.kind)));
    urlEdit->setText(settings.url);
    modelEdit->setText(settings.model);
    clientIdEdit->setText(settings.clientId);
    caFileEdit->setText(settings.caFile);
    requestPathEdit->setText(settings.requestPath);
    tokenUrlEdit->setText(settings.tokenUrl);
    scriptBox->setCurrentIndex(scriptBox->findData(ChineseScript::name(settings.script)));
    punctuationBox->setChecked(settings.chinesePunctuation);
    spaceBox->setChecked(settings.spaceBetween);
    numbersBox->setChecked(settings.arabicNumbers);
    QFile terms(termsPath(settingsFile));
    termsEdit->setPlainText(
        terms.open(QIODevice::ReadOnly) ? QString::fromUtf8(terms.readAll()) : QString());
    secretEdited = false;
    secretPlaceLabel->setText(QStringLiteral("正在读取密钥..."));
    secrets->read();
    showWarnings();
}

void ServiceSettingsDialog::showWarnings()
{
    const QString url = trimmedAddress(urlEdit->text());
    QString warning;
    if (!url.isEmpty() && !isServiceAddress(url))
        warning = QStringLiteral("服务地址须以 http:// 或 https:// 开头并带有主机名。");
    else if (isPlainRemoteAddress(url))
        warning = QStringLiteral(
            "警告：该地址不在本机且未加密（http），密钥与录音会以明文在网络上传输，"
            "建议改用 https。");
    warningLabel->setText(warning);
    warningLabel->setVisible(!warning.isEmpty());
    const bool transcriptions = kindBox->currentIndex() == 1;
    clientIdEdit->setEnabled(!transcriptions);
    modelEdit->setEnabled(transcriptions);
    presetBox->setEnabled(transcriptions);
    requestPathEdit->setEnabled(transcriptions);
    tokenUrlEdit->setEnabled(!transcriptions);
}

void ServiceSettingsDialog::testConnection()
{
    ServiceSettings settings = shownSettings();
    if (settings.url.isEmpty())
        settings.url = QStringLiteral(SPEECH_SERVICE_URL);
    if (!isServiceAddress(settings.url)) {
        testResultLabel->setText(QStringLiteral("请先填写以 http:// 或 https:// 开头的服务地址。"));
        return;
    }
    testButton->setEnabled(false);
    testResultLabel->setText(QStringLiteral("正在测试..."));
    const QString environment = SecretStore::environmentSecret();
    const QString secret = environment.isEmpty() ? secretEdit->text() : environment;
    JobSettings asked;
    asked.serviceBaseUrl = settings.url;
    JobService::apply(settings, &asked);
    asked.serviceSecret = secret;
    probedSettings = asked;
    test->start(settings, secret);
}

void ServiceSettingsDialog::save()
{
    const ServiceSettings settings = shownSettings();
    if (!settings.url.isEmpty() && !isServiceAddress(settings.url)) {
        showWarnings();
        return;
    }
    if (!settings.tokenUrl.isEmpty() && !isServiceAddress(settings.tokenUrl)) {
        warningLabel->setText(
            QStringLiteral("令牌地址须以 http:// 或 https:// 开头并带有主机名。"));
        warningLabel->setVisible(true);
        return;
    }
    if (!ServiceSettingsFile::save(settings, settingsFile)) {
        secretPlaceLabel->setText(QStringLiteral("设置无法保存到 %1！").arg(settingsFile));
        return;
    }
    const QString terms = termsPath(settingsFile);
    QByteArray termsText = termsEdit->toPlainText().toUtf8();
    if (!termsText.isEmpty() && !termsText.endsWith('\n'))
        termsText += '\n';
    if ((!termsText.isEmpty() || QFileInfo::exists(terms)) && !WholeFile::write(terms, termsText)) {
        secretPlaceLabel->setText(QStringLiteral("术语无法保存到 %1！").arg(terms));
        return;
    }
    // The secret goes to the keyring or its file; the dialog closes once it is stored.
    saveButton->setEnabled(false);
    secrets->write(secretEdit->text());
}

QPushButton *ServiceSettingsDialog::addOpenButton(QWidget *bar, const QRect &geometry)
{
    auto *button = new QPushButton(QStringLiteral("服务设置"), bar);
    button->setObjectName(QStringLiteral("serviceSettingsButton"));
    button->setToolTip(QStringLiteral("选择语音服务与访问凭据"));
    button->setCursor(Qt::PointingHandCursor);
    button->setStyleSheet(Styles::sheet(QStringLiteral("title-link")));
    button->setGeometry(geometry);
    QObject::connect(button, &QPushButton::clicked, button, [button] {
        ServiceSettingsDialog dialog(button->window());
        Dialogs::current().execDialog(&dialog);
    });
    return button;
}

void ServiceSettingsDialog::markLanguages(QComboBox *box, bool known, const QStringList &offered)
{
    for (int i = 0; i < box->count(); ++i) {
        const bool missing = known && !offered.contains(box->itemText(i));
        box->setItemData(i, missing ? QVariant(QColor(Qt::gray)) : QVariant(), Qt::ForegroundRole);
        box->setItemData(i, missing ? QStringLiteral("所选语音服务没有该语言的模型") : QVariant(),
            Qt::ToolTipRole);
    }
}

void ServiceSettingsDialog::prepareJob(const JobSettings &base, const QString &builtInUrl,
    QObject *context, std::function<SpeechServiceStarter *(const QString &url)> localStarter,
    std::function<void(const JobSettings &)> start)
{
    const ServiceSettings saved = ServiceSettingsFile::load();
    JobSettings settings = base;
    if (base.serviceBaseUrl == builtInUrl && !saved.url.isEmpty())
        settings.serviceBaseUrl = trimmedAddress(saved.url);
    JobService::apply(saved, &settings);
    settings.textRules = saved.textRules(settings.language, UserTermsFile::load());
    // A language the service is known to have no model for is refused before any conversion.
    const auto refuseOrStart = [start, context](const JobSettings &ready) {
        QStringList offered;
        const bool known = ServiceLanguages::cached(ServiceLanguages::serviceKey(ready), &offered);
        if (auto *box = qobject_cast<QWidget *>(context)
                ? context->findChild<QComboBox *>(QStringLiteral("languageCombo"))
                : nullptr)
            markLanguages(box, known, offered);
        if (known && !offered.contains(ready.language)) {
            Dialogs::current().information(qobject_cast<QWidget *>(context), QStringLiteral("提示"),
                ServiceLanguages::notOfferedText(ready.language, offered));
            return;
        }
        start(ready);
    };
    start = [refuseOrStart, localStarter, context](const JobSettings &ready) {
        LanguageProbe::learnBuiltIn(ready, localStarter(ready.serviceBaseUrl), context,
            [refuseOrStart, ready] { refuseOrStart(ready); });
    };
    const bool needsSecret
        = saved.kind == ServiceSettings::Kind::Transcriptions || !saved.clientId.isEmpty();
    if (!needsSecret) {
        start(settings);
        return;
    }
    auto *store = new SecretStore(context);
    QObject::connect(store, &SecretStore::readDone, context,
        [store, settings, start](const QString &secret, SecretStore::Place) mutable {
            store->deleteLater();
            settings.serviceSecret = secret;
            start(settings);
        });
    store->read();
}
