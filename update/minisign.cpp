#include "minisign.h"

#include <sodium.h>

#include <QFile>
#include <QList>

namespace minisign {

namespace {

constexpr int kAlgorithmBytes = 2;
constexpr int kKeyIdBytes = 8;
constexpr int kKeyBytes = kAlgorithmBytes + kKeyIdBytes + crypto_sign_PUBLICKEYBYTES;
constexpr int kSignatureBytes = kAlgorithmBytes + kKeyIdBytes + crypto_sign_BYTES;
// A legacy signature covers the whole file, which must then be read at once.
constexpr qint64 kMaxLegacyFileBytes = qint64(1) << 30;
const QByteArray kUntrustedPrefix = "untrusted comment: ";
const QByteArray kTrustedPrefix = "trusted comment: ";

QByteArray decodeBase64(const QByteArray& text, int expectedSize) {
  const auto decoded =
      QByteArray::fromBase64Encoding(text.trimmed(), QByteArray::AbortOnBase64DecodingErrors);
  if (!decoded || decoded.decoded.size() != expectedSize) return QByteArray();
  return decoded.decoded;
}

const unsigned char* bytes(const QByteArray& data, int offset = 0) {
  return reinterpret_cast<const unsigned char*>(data.constData()) + offset;
}

bool sodiumReady() {
  static const bool ready = sodium_init() >= 0;
  return ready;
}

// The BLAKE2b-512 digest of the file, read piece by piece.
bool fileDigest(QFile& file, QByteArray* digest, QString* error) {
  crypto_generichash_state state;
  crypto_generichash_init(&state, nullptr, 0, crypto_generichash_BYTES_MAX);
  QByteArray chunk(64 * 1024, Qt::Uninitialized);
  for (;;) {
    const qint64 n = file.read(chunk.data(), chunk.size());
    if (n < 0) {
      *error = QStringLiteral("cannot read the file: %1").arg(file.errorString());
      return false;
    }
    if (n == 0) break;
    crypto_generichash_update(&state, bytes(chunk), static_cast<unsigned long long>(n));
  }
  digest->resize(crypto_generichash_BYTES_MAX);
  crypto_generichash_final(&state, reinterpret_cast<unsigned char*>(digest->data()),
                           crypto_generichash_BYTES_MAX);
  return true;
}

bool verifySignedFile(QFile& file, const QByteArray& algorithm, const unsigned char* signature,
                      const unsigned char* key, QString* error) {
  if (algorithm == "ED") {
    QByteArray digest;
    if (!fileDigest(file, &digest, error)) return false;
    return crypto_sign_verify_detached(signature, bytes(digest),
                                       static_cast<unsigned long long>(digest.size()), key) == 0;
  }
  if (file.size() > kMaxLegacyFileBytes) {
    *error = QStringLiteral("file too large for a legacy signature");
    return false;
  }
  if (file.size() == 0) return crypto_sign_verify_detached(signature, nullptr, 0, key) == 0;
  const uchar* mapped = file.map(0, file.size());
  if (!mapped) {
    *error = QStringLiteral("cannot read the file: %1").arg(file.errorString());
    return false;
  }
  const bool valid = crypto_sign_verify_detached(
                         signature, mapped, static_cast<unsigned long long>(file.size()), key) == 0;
  file.unmap(const_cast<uchar*>(mapped));
  return valid;
}

}  // namespace

bool isPublicKey(const QByteArray& publicKey) {
  const QByteArray key = decodeBase64(publicKey, kKeyBytes);
  return key.startsWith("Ed");
}

bool verifyFile(const QString& filePath, const QByteArray& signature, const QByteArray& publicKey,
                QString* error) {
  if (!sodiumReady()) {
    *error = QStringLiteral("the cryptography library could not start");
    return false;
  }
  const QByteArray key = decodeBase64(publicKey, kKeyBytes);
  if (!key.startsWith("Ed")) {
    *error = QStringLiteral("the built-in public key is not a minisign key");
    return false;
  }

  // untrusted comment, signature, trusted comment, global signature.
  QList<QByteArray> lines = signature.split('\n');
  for (QByteArray& line : lines)
    if (line.endsWith('\r')) line.chop(1);
  if (lines.size() < 4 || !lines.at(0).startsWith(kUntrustedPrefix) ||
      !lines.at(2).startsWith(kTrustedPrefix)) {
    *error = QStringLiteral("the signature file is not in minisign's format");
    return false;
  }
  const QByteArray sig = decodeBase64(lines.at(1), kSignatureBytes);
  const QByteArray global = decodeBase64(lines.at(3), crypto_sign_BYTES);
  if (sig.isEmpty() || global.isEmpty()) {
    *error = QStringLiteral("the signature file is damaged");
    return false;
  }
  const QByteArray algorithm = sig.left(kAlgorithmBytes);
  if (algorithm != "ED" && algorithm != "Ed") {
    *error = QStringLiteral("unknown signature algorithm");
    return false;
  }
  if (sig.mid(kAlgorithmBytes, kKeyIdBytes) != key.mid(kAlgorithmBytes, kKeyIdBytes)) {
    *error = QStringLiteral("signed with another key");
    return false;
  }
  const unsigned char* signatureBytes = bytes(sig, kAlgorithmBytes + kKeyIdBytes);
  const unsigned char* keyBytes = bytes(key, kAlgorithmBytes + kKeyIdBytes);

  QFile file(filePath);
  if (!file.open(QIODevice::ReadOnly)) {
    *error = QStringLiteral("cannot open the file: %1").arg(file.errorString());
    return false;
  }
  QString readError;
  if (!verifySignedFile(file, algorithm, signatureBytes, keyBytes, &readError)) {
    *error =
        readError.isEmpty() ? QStringLiteral("the file does not match its signature") : readError;
    return false;
  }
  // The trusted comment is signed together with the file's signature.
  const QByteArray signedComment =
      sig.mid(kAlgorithmBytes + kKeyIdBytes) + lines.at(2).mid(kTrustedPrefix.size());
  if (crypto_sign_verify_detached(bytes(global), bytes(signedComment),
                                  static_cast<unsigned long long>(signedComment.size()),
                                  keyBytes) != 0) {
    *error = QStringLiteral("the trusted comment does not match its signature");
    return false;
  }
  return true;
}

}  // namespace minisign
