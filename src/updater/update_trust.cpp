#include "updater/update_trust.h"

#include <fstream>

#include "common/cp936.h"
#include "common/items.h"
#include "updater/update_list.h"
#include "updater/version.h"

namespace updater {

namespace {

constexpr std::string_view kVersionKey = "版本=";
constexpr std::string_view kDateKey = " 日期=";

bool isHashDigits(std::string_view text) {
  if (text.size() != 64) return false;
  for (char c : text)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

}  // namespace

std::string trustedCommentFor(const std::string& version, const std::string& date) {
  return std::string(kVersionKey) + version + std::string(kDateKey) + date;
}

std::optional<std::string> trustedVersion(std::string_view comment) {
  if (comment.substr(0, kVersionKey.size()) != kVersionKey) return std::nullopt;
  comment.remove_prefix(kVersionKey.size());
  return std::string(comment.substr(0, comment.find(kDateKey)));
}

ListVerdict checkSignedList(const std::string& keyLine, std::string_view list, std::string_view signatureFile,
                            const std::string& installedVersion) {
  const auto key = minisign::parsePublicKey(keyLine);
  if (!key) return {ListTrust::BadKey, "the key in upset.ini is not a minisign public key"};
  const minisign::Verdict v = minisign::verify(*key, list, signatureFile);
  if (!v.ok) return {ListTrust::BadSignature, v.why};
  // Only now is the list read: its first item is the version item.
  const auto first = common::readItems(common::fromCp936(list), 1);
  const std::string item = first.empty() ? std::string() : toLowerText(first.front());
  const size_t at = item.find(kVersionKey);
  const auto signedVersion = trustedVersion(v.trustedComment);
  if (at == std::string::npos || !signedVersion ||
      toLowerText(*signedVersion) != item.substr(at + kVersionKey.size()))
    return {ListTrust::OtherVersion, "the signature names another version than the list"};
  const std::string version = item.substr(at + kVersionKey.size());
  if (!installedVersion.empty() && isNewerVersion(installedVersion, version))
    return {ListTrust::Older, "list version " + version + " is older than the installed " + installedVersion};
  return {ListTrust::Trusted, {}};
}

bool takeFileHash(std::vector<std::string>& fields, std::string& hash) {
  hash.clear();
  constexpr size_t kGridFields = 1 + kListColumns;
  if (fields.size() <= kGridFields) return true;
  if (fields.size() > kGridFields + 2) return false;
  if (fields.size() == kGridFields + 2 && !fields.back().empty()) return false;
  const std::string& f = fields[kGridFields];
  const std::string_view prefix(kHashPrefix);
  if (f.compare(0, prefix.size(), prefix) != 0 || !isHashDigits(std::string_view(f).substr(prefix.size())))
    return false;
  hash = f.substr(prefix.size());
  fields.resize(kGridFields);
  return true;
}

void Sha256Stream::reset() {
  if (sodium_init() < 0) std::abort();
  crypto_hash_sha256_init(&state_);
}

void Sha256Stream::add(std::string_view bytes) {
  crypto_hash_sha256_update(&state_, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

std::string Sha256Stream::hex() {
  unsigned char digest[crypto_hash_sha256_BYTES];
  crypto_hash_sha256_final(&state_, digest);
  char text[2 * sizeof digest + 1];
  sodium_bin2hex(text, sizeof text, digest, sizeof digest);
  return text;
}

std::optional<std::string> fileSha256(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  Sha256Stream hash;
  char buffer[64 * 1024];
  while (in) {
    in.read(buffer, sizeof buffer);
    hash.add(std::string_view(buffer, static_cast<size_t>(in.gcount())));
  }
  if (in.bad()) return std::nullopt;
  return hash.hex();
}

}  // namespace updater
