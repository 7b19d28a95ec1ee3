#include "LoginDialog.h"

#include "AddressBook.h"
#include "AddressBookPanel.h"
#include "CConnectionForSshClient.h"
#include "HostKeyMessages.h"
#include "ProgramFiles.h"
#include "isEnglish.h"

#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

Q_LOGGING_CATEGORY(lcLogin, "cnc.login", QtWarningMsg)

namespace {

constexpr int kSshPort = 22;
constexpr int kLoginTimeoutMs = 15000;

QString text(const QString &english, const QString &chinese)
{
    return isEnglish() ? english : chinese;
}

QString settingsFilePath()
{
    return ProgramFiles::settingsFile();
}

const char kStyleSheet[] = "QDialog { background-color: #f0f0f0; font-family: Arial, sans-serif; }"
                           "QLineEdit { border: 1px solid #ccc; border-radius: 8px; padding: 8px;"
                           " font-size: 14px; background-color: #fff; }"
                           "QPushButton { background-color: #007AFF; color: white; border: none;"
                           " border-radius: 8px; padding: 10px; font-size: 15px;"
                           " font-weight: bold; }"
                           "QPushButton:hover { background-color: #005ecb; }"
                           "QPushButton:pressed { background-color: #004a9e; }"
                           "QPushButton:disabled { background-color: #d3d3d3; }"
                           "QLabel { font-size: 14px; }";

} // namespace

LoginDialog::LoginDialog(QWidget *parent) : QDialog(parent)
{
    m_timeoutTimer = new QTimer(this);
    m_timeoutTimer->setObjectName(QStringLiteral("m_timeoutTimer"));

    setupUi();
    setStyleSheet(QLatin1String(kStyleSheet));
    setWindowTitle(text(QStringLiteral("Connect to Controller"), QStringLiteral("连接到控制器")));

    m_timeoutTimer->setSingleShot(true);
    m_timeoutTimer->setInterval(kLoginTimeoutMs);
    connect(m_timeoutTimer, &QTimer::timeout, this, &LoginDialog::onConnectionTimeout);
}

LoginDialog::~LoginDialog()
{
    // After a successful login the main window, destroyed before this dialog, has already asked
    // the worker's thread to quit, and the worker may be deleting itself in that thread right
    // now. The thread object lives on until this thread's event loop deletes it, so asking it
    // (rather than the worker) to quit is safe in every state.
    if (m_workerThread)
        m_workerThread->quit();
}

CConnectionForSshClient *LoginDialog::connectionWorker() const
{
    return m_pConnection.data();
}

void LoginDialog::setupUi()
{
    // The address book below the form.
    setFixedSize(320, 420);

    auto *layout = new QVBoxLayout(this);
    layout->setSpacing(10);
    layout->setContentsMargins(20, 20, 20, 20);

    auto *captionLabel = new QLabel(
        text(QStringLiteral("Controller IP Address:"), QStringLiteral("控制器IP地址:")), this);

    m_ipEdit = new QLineEdit(this);
    m_ipEdit->setObjectName(QStringLiteral("m_ipEdit"));
    m_ipEdit->setPlaceholderText(
        text(QStringLiteral("Enter controller IP address"), QStringLiteral("输入控制器IP地址")));
    {
        const QSettings settings(settingsFilePath(), QSettings::IniFormat);
        m_ipEdit->setText(settings
                              .value(QStringLiteral("lastSuccessfulIp"),
                                     QStringLiteral(CNC_DEFAULT_CONTROLLER_IP))
                              .toString());
    }

    m_connectButton =
        new QPushButton(text(QStringLiteral("Connect"), QStringLiteral("连接")), this);
    m_connectButton->setObjectName(QStringLiteral("m_connectButton"));
    // Enter in the IP field presses Connect.
    m_connectButton->setDefault(true);

    m_statusLabel = new QLabel(
        text(QStringLiteral("Please enter IP and connect."), QStringLiteral("请输入IP并连接。")),
        this);
    m_statusLabel->setObjectName(QStringLiteral("m_statusLabel"));
    m_statusLabel->setAlignment(Qt::AlignCenter);

    layout->addWidget(captionLabel);
    layout->addWidget(m_ipEdit);
    layout->addWidget(m_connectButton);
    layout->addWidget(m_statusLabel);

    m_addressBook = new AddressBookPanel([this] { return m_ipEdit->text(); }, &isEnglish, this);
    m_addressBook->reload(m_ipEdit->text());
    layout->addWidget(m_addressBook, 1);

    connect(m_connectButton, &QPushButton::clicked, this, &LoginDialog::attemptConnection);
    connect(m_addressBook, &AddressBookPanel::addressChosen, m_ipEdit, &QLineEdit::setText);
    connect(m_addressBook, &AddressBookPanel::connectRequested, this, [this](const QString &ip) {
        if (!m_connectButton->isEnabled())
            return;
        m_ipEdit->setText(ip);
        attemptConnection();
    });
}

void LoginDialog::attemptConnection()
{
    m_strIp = m_ipEdit->text().trimmed();
    if (m_strIp.isEmpty()) {
        m_statusLabel->setText(text(QStringLiteral("IP address cannot be empty."),
                                    QStringLiteral("IP地址不能为空。")));
        return;
    }

    m_connectButton->setEnabled(false);
    m_statusLabel->setText(text(QStringLiteral("Connecting..."), QStringLiteral("连接中...")));

    m_pConnection = new CConnectionForSshClient(
        m_strIp, kSshPort, QStringLiteral("qzmtrvlakepondsix"), QStringLiteral("root"));
    // A failed first connection is not retried by the worker: this dialog decides what follows.
    m_pConnection->m_bAutoReconnect = false;
    m_recordedHostKeys.clear();
    connect(m_pConnection.data(), &CConnectionForSshClient::sigConnectStateChanged, this,
            &LoginDialog::onConnectionStateChanged);
    connect(m_pConnection.data(), &CConnectionForSshClient::sigHostKeyChecked, this,
            &LoginDialog::onHostKeyChecked);
    m_pConnection->init();
    m_workerThread = m_pConnection->thread();

    qCDebug(lcLogin).noquote() << "LoginDialog::attemptConnection" << m_strIp;
    m_timeoutTimer->start();
}

void LoginDialog::onConnectionStateChanged(bool bState, QString strIp, int nPort)
{
    Q_UNUSED(nPort)
    // A report already queued when its attempt was abandoned still arrives here; only the
    // worker of the attempt under way may decide it.
    if (!m_pConnection || sender() != m_pConnection.data()) {
        qCDebug(lcLogin).noquote()
            << "LoginDialog::onConnectionStateChanged ignores a report of an ended attempt"
            << strIp;
        return;
    }
    if (strIp != m_strIp)
        return;

    m_timeoutTimer->stop();

    if (bState) {
        m_pConnection->m_bAutoReconnect = true;
        {
            QSettings settings(settingsFilePath(), QSettings::IniFormat);
            settings.setValue(QStringLiteral("lastSuccessfulIp"), m_strIp);
        }
        QString error;
        if (!AddressBook::recordLogin(m_strIp, &error))
            qCWarning(lcLogin).noquote() << "The login is not in the address book:" << error;
        disconnect(m_pConnection.data(), nullptr, this, nullptr);
        accept();
        return;
    }

    failAttempt();
    QMessageBox::critical(
        this, text(QStringLiteral("Connection Error"), QStringLiteral("连接错误")),
        text(QStringLiteral("Failed to connect to %1."), QStringLiteral("连接到 %1 失败。"))
            .arg(strIp),
        QMessageBox::Ok, QMessageBox::NoButton);
}

void LoginDialog::onConnectionTimeout()
{
    m_connectButton->setEnabled(true);
    m_statusLabel->setText(
        text(QStringLiteral("Connection timeout."), QStringLiteral("连接超时。")));
    abandonAttempt();
    QMessageBox::warning(
        this, text(QStringLiteral("Connection Timeout"), QStringLiteral("连接超时")),
        text(QStringLiteral("Failed to connect to %1.\nPlease check if the device is online and "
                            "the IP address is correct."),
             QStringLiteral("连接到 %1 超时。\n请检查设备是否在线以及IP地址是否正确。"))
            .arg(m_strIp),
        QMessageBox::Ok, QMessageBox::NoButton);
}

void LoginDialog::onHostKeyChecked(HostKeyReport report)
{
    if (!isReportOfAttempt(report.address))
        return;
    if (report.outcome == HostKeyReport::Outcome::Recorded) {
        m_recordedHostKeys.append(report);
        return;
    }
    // This box stands in for the failure box: the failure report that follows finds the attempt
    // ended.
    m_timeoutTimer->stop();
    failAttempt();
    const bool english = isEnglish();
    QMessageBox::critical(this, HostKeyMessages::boxTitle(english, report),
                          HostKeyMessages::boxText(english, report), QMessageBox::Ok,
                          QMessageBox::NoButton);
}

bool LoginDialog::isReportOfAttempt(const QString &strIp) const
{
    return m_pConnection && sender() == m_pConnection.data() && strIp == m_strIp;
}

void LoginDialog::failAttempt()
{
    m_connectButton->setEnabled(true);
    m_statusLabel->setText(text(QStringLiteral("Connection failed. Please check IP or network."),
                                QStringLiteral("连接失败。请检查IP或网络。")));
    // The attempt ends before a box opens: reports delivered inside its event loop find no
    // attempt to act on.
    abandonAttempt();
}

void LoginDialog::abandonAttempt()
{
    if (!m_pConnection)
        return;
    // Only this dialog has asked the worker's thread to quit, so the worker is still alive here.
    disconnect(m_pConnection.data(), nullptr, this, nullptr);
    m_pConnection->quitThread();
    m_pConnection = nullptr;
    m_workerThread = nullptr;
}
