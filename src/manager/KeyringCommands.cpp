#include "KeyringCommands.h"

#include "AppError.h"
#include "Catalogue.h"
#include "Keyring.h"
#include "KeyringMove.h"
#include "KeyringOption.h"
#include "KeyringSaver.h"
#include "MsgBox.h"
#include "PasswordFields.h"

#include <QAction>
#include <QMenu>
#include <QStatusBar>

namespace {

// How long a connection waits for the keyring's answer before it gives up.
constexpr int kKeyringWaitMs = 15000;

} // namespace

TKeyringCommands::TKeyringCommands(QMenu *menu, QStatusBar *status, QWidget *window)
    : QObject(window), status_(status), window_(window), keyring_(new Keyring(this, kKeyringWaitMs)), saver_(new KeyringSaver(*keyring_, this))
{
    setObjectName(QStringLiteral("KeyringCommands"));
    actKeyringOption = new QAction(QStringLiteral("新密码保存到系统密钥环(&K)"), this);
    actKeyringOption->setObjectName(QStringLiteral("actKeyringOption"));
    actKeyringOption->setCheckable(true);
    actKeyringMoveIn = new QAction(QStringLiteral("把全部密码移入系统密钥环"), this);
    actKeyringMoveIn->setObjectName(QStringLiteral("actKeyringMoveIn"));
    actKeyringMoveOut = new QAction(QStringLiteral("把全部密码移回服务器列表文件"), this);
    actKeyringMoveOut->setObjectName(QStringLiteral("actKeyringMoveOut"));
    connect(actKeyringOption, &QAction::toggled, this, [this](bool on) { Guard([&] { actKeyringOptionToggled(on); }); });
    connect(actKeyringMoveIn, &QAction::triggered, this, [this] { Guard([&] { move(true); }); });
    connect(actKeyringMoveOut, &QAction::triggered, this, [this] { Guard([&] { move(false); }); });
    connect(keyring_, &Keyring::unavailable, this, [this] { keyringMissing(); });
    menu->addSeparator();
    menu->addAction(actKeyringOption);
    menu->addAction(actKeyringMoveIn);
    menu->addAction(actKeyringMoveOut);
    connect(menu, &QMenu::aboutToShow, this, [this] { Guard([&] { UpdateActions(); }); });
    UpdateActions();
}

TKeyringCommands::~TKeyringCommands() = default;

void TKeyringCommands::UpdateActions()
{
    const QSignalBlocker quiet(actKeyringOption);
    actKeyringOption->setChecked(PasswordsInKeyring());
    actKeyringMoveIn->setEnabled(!moving_);
    actKeyringMoveOut->setEnabled(!moving_);
}

void TKeyringCommands::actKeyringOptionToggled(bool on)
{
    SetPasswordsInKeyring(on);
}

void TKeyringCommands::move(bool intoKeyring)
{
    if (moving_ || !Catalogue::HasCurrent())
        return;
    auto *mover = new KeyringMove(Catalogue::Current(), *keyring_, this);
    moving_ = true;
    UpdateActions();
    status_->showMessage(QStringLiteral("正在移动密码……"));
    connect(mover, &KeyringMove::finished, this, [this, mover](const KeyringMoveReport &report) {
        mover->deleteLater();
        Guard([&] { moved(report); });
    });
    if (intoKeyring)
        mover->allIntoKeyring();
    else
        mover->allIntoFile();
}

void TKeyringCommands::moved(const KeyringMoveReport &report)
{
    moving_ = false;
    UpdateActions();
    status_->clearMessage();
    const bool clean = report.failed.isEmpty() && !report.unavailable;
    ShowMessageBox(window_, report.summary(), clean ? QMessageBox::Information : QMessageBox::Warning);
}

void TKeyringCommands::keyringMissing()
{
    status_->showMessage(QStringLiteral("没有运行系统密钥环（Secret Service），密码仍保存在服务器列表文件中。"));
}

bool TKeyringCommands::ConnectFromKeyring(int serverId, const TClientSettings &settings)
{
    if (!PasswordsInKeyring() || keyring_->knownUnavailable() || !Catalogue::HasCurrent())
        return false;
    const QString key = PasswordFields::Of(Catalogue::Current())->keyOf(serverId);
    status_->showMessage(QStringLiteral("正在从系统密钥环读取密码……"));
    keyring_->read(key, [this, settings](const KeyringAnswer &answer) {
        Guard([&] {
            status_->clearMessage();
            if (answer.ok && !answer.password.isEmpty()) {
                TClientSettings withPassword = settings;
                withPassword.Password = answer.password;
                emit sessionRequested(withPassword);
            } else if (answer.ok || answer.missing || answer.unavailable) {
                ShowMessageBox(window_, QStringLiteral("请输入密码"));
            } else {
                ShowMessageBox(window_, QStringLiteral("无法从系统密钥环读取密码：%1").arg(answer.error),
                               QMessageBox::Critical);
            }
        });
    });
    return true;
}
