#include "KeyringSaver.h"

#include "Catalogue.h"
#include "CatalogueEvents.h"
#include "Keyring.h"
#include "KeyringMove.h"
#include "KeyringOption.h"

KeyringSaver::KeyringSaver(Keyring &keyring, QObject *parent) : QObject(parent), keyring_(keyring)
{
    connect(&CatalogueEvents::Instance(), &CatalogueEvents::PasswordsStored, this, &KeyringSaver::passwordsStored);
}

void KeyringSaver::passwordsStored(const QList<int> &serverIds)
{
    if (!PasswordsInKeyring() || keyring_.knownUnavailable())
        return;
    waiting_ += serverIds;
    if (!running_)
        runWaiting();
}

// One move at a time: the ids stored meanwhile wait for the next.
void KeyringSaver::runWaiting()
{
    if (waiting_.isEmpty() || !Catalogue::HasCurrent())
        return;
    running_ = true;
    auto *move = new KeyringMove(Catalogue::Current(), keyring_, this);
    connect(move, &KeyringMove::finished, this, [this, move](const KeyringMoveReport &report) {
        move->deleteLater();
        running_ = false;
        emit moved(report);
        runWaiting();
    });
    move->intoKeyring(std::exchange(waiting_, {}));
}
