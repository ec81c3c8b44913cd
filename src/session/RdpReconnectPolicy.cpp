#include "RdpReconnectPolicy.h"

#include <freerdp/error.h>

#include <algorithm>

namespace {

// The client library's errors that mean the server refused the credentials or the account.
bool IsRefusal(uint32_t clientError)
{
    switch (clientError) {
    case FREERDP_ERROR_AUTHENTICATION_FAILED:
    case FREERDP_ERROR_CONNECT_LOGON_FAILURE:
    case FREERDP_ERROR_CONNECT_WRONG_PASSWORD:
    case FREERDP_ERROR_CONNECT_ACCESS_DENIED:
    case FREERDP_ERROR_CONNECT_NO_OR_MISSING_CREDENTIALS:
    case FREERDP_ERROR_CONNECT_ACCOUNT_DISABLED:
    case FREERDP_ERROR_CONNECT_ACCOUNT_RESTRICTION:
    case FREERDP_ERROR_CONNECT_ACCOUNT_LOCKED_OUT:
    case FREERDP_ERROR_CONNECT_ACCOUNT_EXPIRED:
    case FREERDP_ERROR_CONNECT_LOGON_TYPE_NOT_GRANTED:
    case FREERDP_ERROR_CONNECT_PASSWORD_EXPIRED:
    case FREERDP_ERROR_CONNECT_PASSWORD_CERTAINLY_EXPIRED:
    case FREERDP_ERROR_CONNECT_PASSWORD_MUST_CHANGE:
    case FREERDP_ERROR_INSUFFICIENT_PRIVILEGES:
    case FREERDP_ERROR_SERVER_DENIED_CONNECTION:
    case FREERDP_ERROR_CONNECT_CANCELLED:
        return true;
    }
    return false;
}

} // namespace

bool RdpLossIsTransient(const RdpEndFacts &f)
{
    return f.WasConnected && !f.CertificateRefused && f.ErrorInfo == 0 && f.Link == RdpLinkEnd::Lost;
}

bool RdpAttemptMayRetry(const RdpEndFacts &f)
{
    if (f.CertificateRefused || f.ErrorInfo != 0 || IsRefusal(f.ClientError))
        return false;
    if (f.Link == RdpLinkEnd::Lost || f.Connect != RdpConnectFailure::None)
        return true;
    // The server's host answered: a failure in the logon is its refusal.
    return !RdpEndMentionsAuthentication(f);
}

RdpAttemptSlot RdpReconnectSlot(const RdpReconnectTiming &t, int attempt)
{
    const int tries = std::max(1, t.Tries);
    const int spacing = std::max(1, t.TotalMs) / tries;
    attempt = std::clamp(attempt, 1, tries);
    RdpAttemptSlot slot;
    slot.StartMs = (attempt - 1) * spacing;
    // The last try has the rest of the time.
    slot.LimitMs = attempt == tries ? std::max(1, t.TotalMs) - slot.StartMs : spacing;
    return slot;
}
