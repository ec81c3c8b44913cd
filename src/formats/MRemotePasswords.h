#pragma once

#include <QString>
#include <optional>

// The passwords of mRemoteNG's connection lists. Each is sealed on its own with
// AES in GCM mode under a 256-bit key that PBKDF2 (HMAC-SHA1) derives from the
// program's master password and a random salt; the stored text is the Base64 of
// the salt (16 bytes, also authenticated with the text), the nonce (16 bytes),
// the encrypted text and the tag (16 bytes). Unless its user set a master
// password of their own, mRemoteNG uses a fixed, published one.
namespace MRemotePasswords {

QString DefaultMaster();
// The key derivation's iterations that a file may ask for; others are refused.
inline constexpr int MinIterations = 1000;
inline constexpr int MaxIterations = 100000;

// The password in clear, or none when the text is not sealed in this way, the
// master password is another, or the text was changed.
std::optional<QString> Open(const QString &sealed, const QString &master, int iterations);
// Whether the text is laid out as a sealed password (Base64 long enough to hold
// salt, nonce and tag), whatever master password sealed it.
bool LooksSealed(const QString &sealed);

} // namespace MRemotePasswords
