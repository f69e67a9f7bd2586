// Checks the signature that release operators make with the minisign tool beside each
// installer ("<file>.minisig"), so that only files from the holders of the release key
// are ever run. Both kinds the tool writes are accepted: the file's BLAKE2b-512 digest
// signed ("ED", the default) and the file itself signed ("Ed", legacy).
#pragma once

#include <QByteArray>
#include <QString>

namespace minisign {

// True when `publicKey` is the base64 line of a minisign public key file.
bool isPublicKey(const QByteArray& publicKey);

// True when `signature` (the whole text of a .minisig file) is a valid signature of the
// file at `filePath` by `publicKey`, trusted comment included. Otherwise false, with the
// reason in `error`.
bool verifyFile(const QString& filePath, const QByteArray& signature, const QByteArray& publicKey,
                QString* error);

}  // namespace minisign
