#include "MRemotePasswords.h"

#include <QByteArray>

#include <memory>
#include <openssl/evp.h>

namespace {

constexpr int kSaltSize = 16;
constexpr int kNonceSize = 16;
constexpr int kTagSize = 16;
constexpr int kKeySize = 32;

struct CipherContextFree {
    void operator()(EVP_CIPHER_CTX *context) const { EVP_CIPHER_CTX_free(context); }
};
using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, CipherContextFree>;

std::optional<QByteArray> decode(const QString &sealed)
{
    const auto decoded = QByteArray::fromBase64Encoding(sealed.trimmed().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.size() < kSaltSize + kNonceSize + kTagSize)
        return std::nullopt;
    return decoded.decoded;
}

std::optional<QByteArray> deriveKey(const QString &master, QByteArrayView salt, int iterations)
{
    const QByteArray password = master.toUtf8();
    QByteArray key(kKeySize, '\0');
    if (PKCS5_PBKDF2_HMAC(password.constData(), int(password.size()), reinterpret_cast<const unsigned char *>(salt.data()),
                          int(salt.size()), iterations, EVP_sha1(), kKeySize, reinterpret_cast<unsigned char *>(key.data()))
        != 1)
        return std::nullopt;
    return key;
}

const unsigned char *bytes(QByteArrayView view)
{
    return reinterpret_cast<const unsigned char *>(view.data());
}

std::optional<QByteArray> openGcm(QByteArrayView key, QByteArrayView salt, QByteArrayView nonce, QByteArrayView text,
                                  QByteArrayView tag)
{
    const CipherContext context(EVP_CIPHER_CTX_new());
    if (!context)
        return std::nullopt;
    EVP_CIPHER_CTX *c = context.get();
    int length = 0;
    QByteArray plain(text.size() + kTagSize, '\0');
    auto *out = reinterpret_cast<unsigned char *>(plain.data());
    QByteArray tagCopy = tag.toByteArray();
    if (EVP_DecryptInit_ex(c, EVP_aes_256_gcm(), nullptr, nullptr, nullptr) != 1
        || EVP_CIPHER_CTX_ctrl(c, EVP_CTRL_GCM_SET_IVLEN, int(nonce.size()), nullptr) != 1
        || EVP_DecryptInit_ex(c, nullptr, nullptr, bytes(key), bytes(nonce)) != 1
        || EVP_DecryptUpdate(c, nullptr, &length, bytes(salt), int(salt.size())) != 1
        || EVP_DecryptUpdate(c, out, &length, bytes(text), int(text.size())) != 1)
        return std::nullopt;
    int total = length;
    if (EVP_CIPHER_CTX_ctrl(c, EVP_CTRL_GCM_SET_TAG, kTagSize, tagCopy.data()) != 1
        || EVP_DecryptFinal_ex(c, out + total, &length) != 1)
        return std::nullopt;
    total += length;
    plain.truncate(total);
    return plain;
}

} // namespace

namespace MRemotePasswords {

QString DefaultMaster()
{
    return QStringLiteral("mR3m");
}

bool LooksSealed(const QString &sealed)
{
    return decode(sealed).has_value();
}

std::optional<QString> Open(const QString &sealed, const QString &master, int iterations)
{
    if (iterations < MinIterations || iterations > MaxIterations)
        return std::nullopt;
    const auto data = decode(sealed);
    if (!data)
        return std::nullopt;
    const QByteArrayView all(*data);
    const QByteArrayView salt = all.first(kSaltSize);
    const QByteArrayView nonce = all.sliced(kSaltSize, kNonceSize);
    const QByteArrayView text = all.sliced(kSaltSize + kNonceSize, all.size() - kSaltSize - kNonceSize - kTagSize);
    const QByteArrayView tag = all.last(kTagSize);
    const auto key = deriveKey(master, salt, iterations);
    if (!key)
        return std::nullopt;
    const auto plain = openGcm(*key, salt, nonce, text, tag);
    if (!plain)
        return std::nullopt;
    return QString::fromUtf8(*plain);
}

} // namespace MRemotePasswords
