// quennar-publish: turns a release description into what the update server
// serves (the update list exactly as Quennar reads it, the files under their
// addresses, the list's signature), and makes the vendor's key pair.
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "common/atomic_file.h"
#include "release.h"
#include "updater/list_signature.h"
#include "updater/progress.h"
#include "updater/update_trust.h"

namespace fs = std::filesystem;
namespace ms = updater::minisign;

namespace {

int usage() {
  std::cerr << "usage:\n"
               "  quennar-publish publish (-s SECRET_KEY | --unsigned) [--password-file FILE] [--legacy]\n"
               "                  RELEASE OUTPUT_FOLDER\n"
               "  quennar-publish keygen [-W] [--password-file FILE] SECRET_KEY PUBLIC_KEY\n"
               "See tools/quennar-publish/README.md.\n";
  return 2;
}

std::optional<std::string> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The password: the first line of a file, or asked on the terminal.
std::optional<std::string> password(const std::string& file, bool twice) {
  if (!file.empty()) {
    auto text = readFile(file);
    if (!text) return std::nullopt;
    return text->substr(0, text->find_first_of("\r\n"));
  }
  auto ask = [](const char* prompt) {
    std::cerr << prompt << std::flush;
    termios old{};
    const bool tty = isatty(0) && tcgetattr(0, &old) == 0;
    if (tty) {
      termios quiet = old;
      quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
      tcsetattr(0, TCSANOW, &quiet);
    }
    std::string line;
    std::getline(std::cin, line);
    if (tty) tcsetattr(0, TCSANOW, &old);
    std::cerr << "\n";
    return line;
  };
  std::string first = ask("Password: ");
  if (twice && ask("Password (again): ") != first) {
    std::cerr << "the passwords differ\n";
    return std::nullopt;
  }
  return first;
}

bool writeNew(const std::string& path, const std::string& bytes) {
  if (fs::exists(fs::symlink_status(path))) {
    std::cerr << path << ": exists; not written over\n";
    return false;
  }
  std::string error;
  if (!common::writeFileAtomic(path, bytes, &error)) {
    std::cerr << path << ": " << error << "\n";
    return false;
  }
  return true;
}

// Percent-encodes every byte of a path but unreserved ASCII and "/".
std::string addressPath(const std::string& path) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : path) {
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~' || c == '/') out += static_cast<char>(c);
    else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

int keygen(int argc, char** argv) {
  bool plain = false;
  std::string passwordFile;
  std::vector<std::string> paths;
  ms::ScryptCost cost;
  for (int i = 2; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "-W") plain = true;
    else if (a == "--password-file" && i + 1 < argc) passwordFile = argv[++i];
    else if (a == "--scrypt-ops" && i + 1 < argc) cost.opsLimit = std::stoull(argv[++i]);
    else if (a == "--scrypt-mem" && i + 1 < argc) cost.memLimit = std::stoull(argv[++i]);
    else paths.push_back(a);
  }
  if (paths.size() != 2) return usage();
  std::string pw;
  if (!plain) {
    const auto p = password(passwordFile, true);
    if (!p || p->empty()) {
      std::cerr << "no password (use -W for a key without one)\n";
      return 1;
    }
    pw = *p;
  }
  const ms::SecretKey key = ms::generateKey();
  const std::string secret = ms::secretKeyFile(key, pw, cost);
  if (secret.empty()) {
    std::cerr << "the key could not be encrypted\n";
    return 1;
  }
  if (!writeNew(paths[0], secret)) return 1;
  fs::permissions(paths[0], fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::replace);
  if (!writeNew(paths[1], ms::publicKeyFile(key.publicKey()))) return 1;
  std::cout << "Key " << ms::keyIdText(key.keyId) << ". The fifth item of upset.ini:\n"
            << ms::publicKeyLine(key.publicKey()) << "\n";
  return 0;
}

int publishRelease(int argc, char** argv) {
  std::string secretPath, passwordFile;
  bool unsignedList = false, legacy = false;
  std::vector<std::string> paths;
  for (int i = 2; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "-s" && i + 1 < argc) secretPath = argv[++i];
    else if (a == "--password-file" && i + 1 < argc) passwordFile = argv[++i];
    else if (a == "--unsigned") unsignedList = true;
    else if (a == "--legacy") legacy = true;
    else paths.push_back(a);
  }
  if (paths.size() != 2 || (secretPath.empty() != unsignedList)) return usage();
  std::vector<std::string> errors;
  auto release = publish::readRelease(paths[0], errors);
  if (release) errors = publish::checkRelease(*release);
  if (!errors.empty()) {
    for (const auto& e : errors) std::cerr << "refused: " << e << "\n";
    return 1;
  }
  // The key first: a wrong password publishes nothing.
  std::optional<ms::SecretKey> key;
  if (!unsignedList) {
    const auto file = readFile(secretPath);
    if (!file) {
      std::cerr << secretPath << ": cannot be read\n";
      return 1;
    }
    std::string pw, why;
    if (ms::secretKeyEncrypted(*file)) {
      const auto p = password(passwordFile, false);
      if (!p) return 1;
      pw = *p;
    }
    key = ms::parseSecretKey(*file, pw, &why);
    if (!key) {
      std::cerr << secretPath << ": " << why << "\n";
      return 1;
    }
  }
  const fs::path out(paths[1]);
  std::error_code ec;
  if (fs::exists(out) && !fs::is_empty(out, ec)) {
    std::cerr << out.string() << ": not empty; publish into a new folder\n";
    return 1;
  }
  std::string base = release->base;
  if (base.back() != '/') base += '/';
  for (size_t i = 0; i < release->files.size(); ++i) {
    publish::ReleaseFile& f = release->files[i];
    const fs::path source = fs::path(release->folder) / f.source;
    if (!fs::is_regular_file(source)) {
      std::cerr << "refused: file at line " << f.line << ": " << source.string() << " is not a file\n";
      return 1;
    }
    const auto hash = updater::fileSha256(source.string());
    if (!hash) {
      std::cerr << source.string() << ": cannot be read\n";
      return 1;
    }
    f.sha256 = *hash;
    f.sizeText = updater::sizeText(static_cast<int64_t>(fs::file_size(source)));
    std::string local = f.local.empty() ? source.filename().string() : f.local;
    std::replace(local.begin(), local.end(), '\\', '/');
    f.servedPath = "files/" + std::to_string(i + 1) + "/" + fs::path(local).filename().string();
    f.address = base + addressPath(f.servedPath);
    fs::create_directories(out / fs::path(f.servedPath).parent_path(), ec);
    if (!ec) fs::copy_file(source, out / f.servedPath, ec);
    if (ec) {
      std::cerr << (out / f.servedPath).string() << ": " << ec.message() << "\n";
      return 1;
    }
  }
  const std::string list = publish::listBytes(*release);
  if (!writeNew((out / "list.ini").string(), list)) return 1;
  const std::string comment = updater::trustedCommentFor(release->version, release->date);
  if (key) {
    if (!writeNew((out / "list.ini.minisig").string(), ms::sign(*key, list, comment, "signature from quennar-publish", legacy)))
      return 1;
    std::cout << "Published " << release->version << " into " << out.string() << ", signed with key "
              << ms::keyIdText(key->keyId) << ".\n";
  } else {
    std::cout << "Published " << release->version << " into " << out.string() << ", unsigned. Sign it with:\n"
              << "  minisign -S -s SECRET_KEY -m " << (out / "list.ini").string() << " -t '" << comment << "'\n";
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  const std::string command = argv[1];
  if (command == "keygen") return keygen(argc, argv);
  if (command == "publish") return publishRelease(argc, argv);
  return usage();
}
