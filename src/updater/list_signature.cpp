#include "updater/list_signature.h"

#include <sodium.h>

#include <cstring>
#include <vector>

namespace updater::minisign {

namespace {

constexpr const char* kUntrustedPrefix = "untrusted comment: ";
constexpr const char* kTrustedPrefix = "trusted comment: ";
// minisign's bound on a comment line.
constexpr size_t kMaxCommentBytes = 1024;

struct Sodium {
  Sodium() {
    if (sodium_init() < 0) std::abort();
  }
};
void ready() { static const Sodium once; }

// The base64 text decoded, when it is exactly `size` bytes.
std::optional<std::vector<uint8_t>> decode(std::string_view text, size_t size) {
  ready();
  std::vector<uint8_t> bytes(size + 1);
  size_t length = 0;
  const char* end = nullptr;
  if (sodium_base642bin(bytes.data(), bytes.size(), text.data(), text.size(), nullptr, &length, &end,
                        sodium_base64_VARIANT_ORIGINAL) != 0 ||
      end != text.data() + text.size() || length != size)
    return std::nullopt;
  bytes.resize(size);
  return bytes;
}

std::string encode(const uint8_t* bytes, size_t size) {
  ready();
  std::string text(sodium_base64_encoded_len(size, sodium_base64_VARIANT_ORIGINAL), '\0');
  sodium_bin2base64(text.data(), text.size(), bytes, size, sodium_base64_VARIANT_ORIGINAL);
  text.resize(std::strlen(text.c_str()));
  return text;
}

// The lines of a small text file, each without its CR LF or LF.
std::vector<std::string_view> splitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

// The BLAKE2b-512 of a message, for the pre-hashed form.
std::array<uint8_t, 64> prehash(std::string_view message) {
  ready();
  std::array<uint8_t, 64> hash{};
  crypto_generichash(hash.data(), hash.size(), reinterpret_cast<const uint8_t*>(message.data()), message.size(),
                     nullptr, 0);
  return hash;
}

// The secret-key record of minisign's file (158 bytes).
struct SecretRecord {
  uint8_t sigAlg[2];
  uint8_t kdfAlg[2];
  uint8_t chkAlg[2];
  uint8_t kdfSalt[32];
  uint8_t opsLimit[8];
  uint8_t memLimit[8];
  uint8_t keyNum[8];  // from here on encrypted with the scrypt stream
  uint8_t key[64];
  uint8_t chk[32];
};
static_assert(sizeof(SecretRecord) == 158);
constexpr size_t kEncryptedPart = 8 + 64 + 32;

void checksum(const SecretRecord& r, uint8_t out[32]) {
  crypto_generichash_state state;
  crypto_generichash_init(&state, nullptr, 0, 32);
  crypto_generichash_update(&state, r.sigAlg, sizeof r.sigAlg);
  crypto_generichash_update(&state, r.keyNum, sizeof r.keyNum);
  crypto_generichash_update(&state, r.key, sizeof r.key);
  crypto_generichash_final(&state, out, 32);
}

uint64_t load64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}
void store64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// XORs the encrypted part of the record with the scrypt stream of password.
bool crypt(SecretRecord& r, const std::string& password) {
  uint8_t stream[kEncryptedPart];
  if (crypto_pwhash_scryptsalsa208sha256(stream, sizeof stream, password.data(), password.size(), r.kdfSalt,
                                         load64(r.opsLimit), static_cast<size_t>(load64(r.memLimit))) != 0)
    return false;
  uint8_t* part = r.keyNum;
  for (size_t i = 0; i < kEncryptedPart; ++i) part[i] ^= stream[i];
  sodium_memzero(stream, sizeof stream);
  return true;
}

std::optional<std::string_view> keyLine(std::string_view file) {
  const auto lines = splitLines(file);
  if (lines.size() < 2 || !startsWith(lines[0], kUntrustedPrefix)) return std::nullopt;
  return lines[1];
}

}  // namespace

PublicKey SecretKey::publicKey() const {
  PublicKey pk;
  pk.keyId = keyId;
  std::memcpy(pk.key.data(), key.data() + 32, 32);
  return pk;
}

std::string keyIdText(const KeyId& id) {
  static const char* digits = "0123456789ABCDEF";
  std::string text;
  for (int i = 7; i >= 0; --i) {
    text += digits[id[i] >> 4];
    text += digits[id[i] & 15];
  }
  return text;
}

std::optional<PublicKey> parsePublicKey(std::string_view text) {
  if (startsWith(text, kUntrustedPrefix)) {
    const auto line = keyLine(text);
    if (!line) return std::nullopt;
    text = *line;
  }
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.remove_suffix(1);
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  const auto bytes = decode(text, 42);
  if (!bytes || (*bytes)[0] != 'E' || (*bytes)[1] != 'd') return std::nullopt;
  PublicKey key;
  std::memcpy(key.keyId.data(), bytes->data() + 2, 8);
  std::memcpy(key.key.data(), bytes->data() + 10, 32);
  return key;
}

std::string publicKeyLine(const PublicKey& key) {
  uint8_t bytes[42] = {'E', 'd'};
  std::memcpy(bytes + 2, key.keyId.data(), 8);
  std::memcpy(bytes + 10, key.key.data(), 32);
  return encode(bytes, sizeof bytes);
}

std::string publicKeyFile(const PublicKey& key) {
  return std::string(kUntrustedPrefix) + "minisign public key " + keyIdText(key.keyId) + "\n" + publicKeyLine(key) +
         "\n";
}

Verdict verify(const PublicKey& key, std::string_view message, std::string_view signatureFile) {
  ready();
  Verdict v;
  auto refuse = [&v](std::string why) {
    v.why = std::move(why);
    return v;
  };
  if (static_cast<int64_t>(signatureFile.size()) > kMaxSignatureBytes) return refuse("signature file too large");
  const auto lines = splitLines(signatureFile);
  if (lines.size() < 4) return refuse("signature file incomplete");
  for (size_t i = 4; i < lines.size(); ++i)
    if (!lines[i].empty()) return refuse("signature file has more than four lines");
  if (!startsWith(lines[0], kUntrustedPrefix) || lines[0].size() > kMaxCommentBytes)
    return refuse("signature file lacks its untrusted comment");
  const auto sig = decode(lines[1], 74);
  if (!sig) return refuse("signature malformed");
  const bool prehashed = (*sig)[0] == 'E' && (*sig)[1] == 'D';
  const bool legacy = (*sig)[0] == 'E' && (*sig)[1] == 'd';
  if (!prehashed && !legacy) return refuse("signature algorithm unknown");
  if (std::memcmp(sig->data() + 2, key.keyId.data(), 8) != 0) return refuse("signature made with another key");
  const uint8_t* signature = sig->data() + 10;
  if (prehashed) {
    const auto hash = prehash(message);
    if (crypto_sign_verify_detached(signature, hash.data(), hash.size(), key.key.data()) != 0)
      return refuse("signature does not match the list");
  } else if (crypto_sign_verify_detached(signature, reinterpret_cast<const uint8_t*>(message.data()), message.size(),
                                         key.key.data()) != 0) {
    return refuse("signature does not match the list");
  }
  if (!startsWith(lines[2], kTrustedPrefix) || lines[2].size() > kMaxCommentBytes)
    return refuse("signature file lacks its trusted comment");
  const std::string_view comment = lines[2].substr(std::strlen(kTrustedPrefix));
  const auto global = decode(lines[3], 64);
  if (!global) return refuse("global signature malformed");
  std::string signed_(reinterpret_cast<const char*>(signature), 64);
  signed_.append(comment);
  if (crypto_sign_verify_detached(global->data(), reinterpret_cast<const uint8_t*>(signed_.data()), signed_.size(),
                                  key.key.data()) != 0)
    return refuse("trusted comment not signed by the key");
  v.ok = true;
  v.trustedComment = std::string(comment);
  return v;
}

SecretKey generateKey() {
  ready();
  SecretKey sk;
  std::array<uint8_t, 32> pk{};
  crypto_sign_keypair(pk.data(), sk.key.data());
  randombytes_buf(sk.keyId.data(), sk.keyId.size());
  return sk;
}

std::string secretKeyFile(const SecretKey& key, const std::string& password, ScryptCost cost) {
  ready();
  SecretRecord r{};
  r.sigAlg[0] = 'E';
  r.sigAlg[1] = 'd';
  r.chkAlg[0] = 'B';
  r.chkAlg[1] = '2';
  std::memcpy(r.keyNum, key.keyId.data(), 8);
  std::memcpy(r.key, key.key.data(), 64);
  checksum(r, r.chk);
  if (!password.empty()) {
    r.kdfAlg[0] = 'S';
    r.kdfAlg[1] = 'c';
    randombytes_buf(r.kdfSalt, sizeof r.kdfSalt);
    store64(r.opsLimit, cost.opsLimit);
    store64(r.memLimit, cost.memLimit);
    if (!crypt(r, password)) return {};
  }
  const std::string text = std::string(kUntrustedPrefix) +
                           (password.empty() ? "minisign secret key" : "minisign encrypted secret key") + "\n" +
                           encode(reinterpret_cast<const uint8_t*>(&r), sizeof r) + "\n";
  sodium_memzero(&r, sizeof r);
  return text;
}

bool secretKeyEncrypted(std::string_view file) {
  const auto line = keyLine(file);
  if (!line) return false;
  const auto bytes = decode(*line, sizeof(SecretRecord));
  return bytes && ((*bytes)[2] != 0 || (*bytes)[3] != 0);
}

std::optional<SecretKey> parseSecretKey(std::string_view file, const std::string& password, std::string* why) {
  auto refuse = [why](const char* text) -> std::optional<SecretKey> {
    if (why) *why = text;
    return std::nullopt;
  };
  const auto line = keyLine(file);
  if (!line) return refuse("not a minisign secret key file");
  const auto bytes = decode(*line, sizeof(SecretRecord));
  if (!bytes) return refuse("secret key malformed");
  SecretRecord r;
  std::memcpy(&r, bytes->data(), sizeof r);
  if (r.sigAlg[0] != 'E' || r.sigAlg[1] != 'd' || r.chkAlg[0] != 'B' || r.chkAlg[1] != '2')
    return refuse("secret key of an unknown kind");
  if (r.kdfAlg[0] == 'S' && r.kdfAlg[1] == 'c') {
    if (!crypt(r, password)) return refuse("secret key cannot be decrypted (out of memory?)");
  } else if (r.kdfAlg[0] != 0 || r.kdfAlg[1] != 0) {
    return refuse("secret key encrypted in an unknown way");
  }
  uint8_t chk[32];
  checksum(r, chk);
  if (sodium_memcmp(chk, r.chk, 32) != 0) return refuse("wrong password, or the secret key is damaged");
  SecretKey key;
  std::memcpy(key.keyId.data(), r.keyNum, 8);
  std::memcpy(key.key.data(), r.key, 64);
  sodium_memzero(&r, sizeof r);
  return key;
}

std::string sign(const SecretKey& key, std::string_view message, const std::string& trustedComment,
                 const std::string& untrustedComment, bool legacy) {
  ready();
  uint8_t sig[74] = {'E', static_cast<uint8_t>(legacy ? 'd' : 'D')};
  std::memcpy(sig + 2, key.keyId.data(), 8);
  if (legacy) {
    crypto_sign_detached(sig + 10, nullptr, reinterpret_cast<const uint8_t*>(message.data()), message.size(),
                         key.key.data());
  } else {
    const auto hash = prehash(message);
    crypto_sign_detached(sig + 10, nullptr, hash.data(), hash.size(), key.key.data());
  }
  std::string signed_(reinterpret_cast<const char*>(sig + 10), 64);
  signed_ += trustedComment;
  uint8_t global[64];
  crypto_sign_detached(global, nullptr, reinterpret_cast<const uint8_t*>(signed_.data()), signed_.size(),
                       key.key.data());
  return std::string(kUntrustedPrefix) + untrustedComment + "\n" + encode(sig, sizeof sig) + "\n" + kTrustedPrefix +
         trustedComment + "\n" + encode(global, sizeof global) + "\n";
}

}  // namespace updater::minisign
