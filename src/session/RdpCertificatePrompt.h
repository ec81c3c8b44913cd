#pragma once

#include "RdpBackend.h"

#include <QObject>

// Asks the user whether to trust a server's certificate: what it says, what is
// wrong with it, and whether it differs from the one on record. The question is
// a modal message box run from the application object, never from inside an
// event of the widget that asks, so that the window may go meanwhile (the
// program ends) without the box's loop returning into a widget that is gone.
class RdpCertificatePrompt : public QObject {
    Q_OBJECT
public:
    explicit RdpCertificatePrompt(QObject *parent = nullptr);

    // Asks later, from the event loop; Answered follows.
    void Ask(const RdpCertificateQuestion &question);
    // The session is given up: a question not yet shown is not shown, and an
    // answer given meanwhile counts as no.
    void Withdraw();

signals:
    void Answered(bool trusted);

private:
    bool withdrawn_ = false;
};

// The question's text, in the user's words.
QString CertificateQuestionText(const RdpCertificateQuestion &question);
