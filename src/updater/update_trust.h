#pragma once
// What a configured vendor key adds to a run: the signed list is checked
// before any item of it is read (signature, the version its trusted comment
// names, no step back from the installed version), and every file carries the
// SHA-256 its download is checked against while it is written.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <sodium.h>

#include "updater/list_signature.h"

namespace updater {

// The message of a shown run whose list was refused.
inline constexpr const char* kBadSignatureMessage = "升级列表的签名无效，已停止升级。";
// The signature's address: the list's + this.
inline constexpr const char* kSignatureSuffix = ".minisig";
// The hash field of a file item: this and 64 hexadecimal digits.
inline constexpr const char* kHashPrefix = "sha256:";

// The trusted comment the publishing tool writes for a list.
std::string trustedCommentFor(const std::string& version, const std::string& date);
// The version a trusted comment names ("版本=" up to " 日期=" or the end);
// nothing when it names none.
std::optional<std::string> trustedVersion(std::string_view comment);

enum class ListTrust {
  Trusted,
  BadKey,          // the configured key cannot be read
  BadSignature,    // missing, malformed, wrong, another key or another file
  OtherVersion,    // the trusted comment names another version than the list
  Older,           // older than the installed version
};

struct ListVerdict {
  ListTrust trust = ListTrust::BadSignature;
  std::string why;
};

// Checks a downloaded list (its bytes exactly as they came) against its
// signature file under the key line of upset.ini. installedVersion: the log's.
ListVerdict checkSignedList(const std::string& keyLine, std::string_view list, std::string_view signatureFile,
                            const std::string& installedVersion);

// The fields of a file item beyond the ten the list grid holds: nothing more,
// or the hash field (f10) with an optional empty field after it (a trailing
// "|"). True when the item is acceptable; then hash is the 64 digits (lower
// case) or empty, and fields is cut back to at most ten.
bool takeFileHash(std::vector<std::string>& fields, std::string& hash);

// SHA-256 over the bytes handed to it, as they are written.
class Sha256Stream {
 public:
  Sha256Stream() { reset(); }
  void reset();
  void add(std::string_view bytes);
  // The digest in lower-case hexadecimal (ends the stream; reset() starts anew).
  std::string hex();

 private:
  crypto_hash_sha256_state state_;
};

// The SHA-256 of a file in lower-case hexadecimal; nothing when it cannot be read.
std::optional<std::string> fileSha256(const std::string& path);

}  // namespace updater
