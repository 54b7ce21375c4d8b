#pragma once
// Signatures of the update list in minisign's format, so that a vendor can sign
// with our publishing tool or with minisign itself and Quennar checks either.
//
// A public key is the base64 line of a minisign.pub file: "Ed", an 8-byte key
// id and the 32-byte Ed25519 key. A signature file (the list address +
// ".minisig") has four lines: an untrusted comment, the base64 of the
// algorithm ("ED": Ed25519 over the BLAKE2b-512 of the file; "Ed": over the
// file itself), the key id and the signature; the trusted comment; and the
// base64 of the global signature, Ed25519 over the signature followed by the
// trusted comment's text. Both signatures must hold, under the configured key.
//
// The signing side (keys, secret-key files plain or encrypted with scrypt as
// minisign encrypts them) is here too, for the publishing tool and the tests.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace updater::minisign {

using KeyId = std::array<uint8_t, 8>;

struct PublicKey {
  KeyId keyId{};
  std::array<uint8_t, 32> key{};
};

struct SecretKey {
  KeyId keyId{};
  std::array<uint8_t, 64> key{};  // libsodium's form: seed and public key
  PublicKey publicKey() const;
};

// The largest signature file accepted: four short lines. Anything longer is
// not a signature.
inline constexpr int64_t kMaxSignatureBytes = 4096;

// The key id as minisign prints it (16 upper-case hexadecimal digits).
std::string keyIdText(const KeyId& id);

// A public key from its base64 line, or from a whole minisign.pub file (the
// line after the untrusted comment). Nothing when it is not an Ed25519 key.
std::optional<PublicKey> parsePublicKey(std::string_view text);
std::string publicKeyLine(const PublicKey& key);
// The two lines of a minisign.pub file.
std::string publicKeyFile(const PublicKey& key);

struct Verdict {
  bool ok = false;
  std::string why;             // why a signature was refused ("" when ok)
  std::string trustedComment;  // the checked trusted comment (when ok)
};

// Checks signatureFile for message (the bytes exactly as downloaded) under key.
Verdict verify(const PublicKey& key, std::string_view message, std::string_view signatureFile);

// A new key pair with a random key id.
SecretKey generateKey();

// The scrypt cost of an encrypted secret key: minisign's own (about 1 GB of
// memory and a few seconds), or less for tests.
struct ScryptCost {
  uint64_t opsLimit = 33554432;
  uint64_t memLimit = 1073741824;
};

// A secret-key file. An empty password writes the key unencrypted (as
// minisign -W does); otherwise it is encrypted with scrypt.
std::string secretKeyFile(const SecretKey& key, const std::string& password, ScryptCost cost = {});
// Reads a secret-key file; password is used only when the key is encrypted.
// Nothing when the file is malformed or the password is wrong (why says which).
std::optional<SecretKey> parseSecretKey(std::string_view file, const std::string& password, std::string* why);
// True when the secret-key file is encrypted (needs a password).
bool secretKeyEncrypted(std::string_view file);

// A signature file for message in the pre-hashed form "ED" (legacy: "Ed").
// The comments must be single lines.
std::string sign(const SecretKey& key, std::string_view message, const std::string& trustedComment,
                 const std::string& untrustedComment = "signature from quennar-publish", bool legacy = false);

}  // namespace updater::minisign
