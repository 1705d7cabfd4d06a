#include "ui/servicesettingsdialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include "asr/connectiontest.h"
#include "asr/transcriptionjob.h"
#include "ui/dialogs.h"

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
{
    setObjectName(QStringLiteral("serviceSettingsDialog"));
    setWindowTitle(QStringLiteral("服务设置"));
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
    auto *caButton = new QPushButton(QStringLiteral("选择..."), this);
    caButton->setObjectName(QStringLiteral("serviceCaFileButton"));
    warningLabel = new QLabel(this);
    warningLabel->setObjectName(QStringLiteral("serviceWarningLabel"));
    warningLabel->setWordWrap(true);
    warningLabel->setStyleSheet(QStringLiteral("color:#c0392b"));
    secretPlaceLabel = new QLabel(this);
    secretPlaceLabel->setObjectName(QStringLiteral("secretPlaceLabel"));
    secretPlaceLabel->setWordWrap(true);
    testButton = new QPushButton(QStringLiteral("测试连接"), this);
    testButton->setObjectName(QStringLiteral("serviceTestButton"));
    testResultLabel = new QLabel(this);
    testResultLabel->setObjectName(QStringLiteral("serviceTestResult"));
    testResultLabel->setWordWrap(true);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Cancel, this);
    buttons->setObjectName(QStringLiteral("serviceButtons"));
    saveButton = buttons->button(QDialogButtonBox::Save);
    saveButton->setText(QStringLiteral("保存"));
    saveButton->setObjectName(QStringLiteral("serviceSaveButton"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));

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
    auto *testRow = new QHBoxLayout;
    testRow->addWidget(testButton);
    testRow->addWidget(testResultLabel, 1);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(warningLabel);
    layout->addWidget(secretPlaceLabel);
    layout->addLayout(testRow);
    layout->addWidget(buttons);
    setMinimumWidth(520);

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
    connect(testButton, &QPushButton::clicked, this, &ServiceSettingsDialog::testConnection);
    connect(test, &ConnectionTest::finished, this,
        [this](ConnectionTest::Outcome, const QString &text) {
            testButton->setEnabled(true);
            testResultLabel->setText(text);
        });
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
    load();
}

ServiceSettingsDialog::~ServiceSettingsDialog() = default;

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
    test->start(settings, environment.isEmpty() ? secretEdit->text() : environment);
}

void ServiceSettingsDialog::save()
{
    const ServiceSettings settings = shownSettings();
    if (!settings.url.isEmpty() && !isServiceAddress(settings.url)) {
        showWarnings();
        return;
    }
    if (!ServiceSettingsFile::save(settings, settingsFile)) {
        secretPlaceLabel->setText(QStringLiteral("设置无法保存到 %1！").arg(settingsFile));
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
    button->setStyleSheet(
        QStringLiteral("QPushButton{border:0px;background:transparent;color:white;font:bold 13px;}"
                       "QPushButton:hover{text-decoration:underline;}"));
    button->setGeometry(geometry);
    QObject::connect(button, &QPushButton::clicked, button, [button] {
        ServiceSettingsDialog dialog(button->window());
        Dialogs::current().execDialog(&dialog);
    });
    return button;
}

void ServiceSettingsDialog::prepareJob(const JobSettings &base, const QString &builtInUrl,
    QObject *context, std::function<void(const JobSettings &)> start)
{
    const ServiceSettings saved = ServiceSettingsFile::load();
    JobSettings settings = base;
    if (base.serviceBaseUrl == builtInUrl && !saved.url.isEmpty())
        settings.serviceBaseUrl = trimmedAddress(saved.url);
    settings.serviceKind = saved.kind == ServiceSettings::Kind::Transcriptions
        ? JobSettings::ServiceKind::Transcriptions
        : JobSettings::ServiceKind::Token;
    settings.model = saved.model;
    settings.serviceClientId = saved.clientId;
    settings.caFile = saved.caFile;
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
