// velmora-cli: looks into the Jet files of a Velmora installation through the
// same database provider the programs use.
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "commands.h"
#include "common/large_pages.h"
#include "common/text_case.h"
#include "data/browse.h"
#include "data/connections.h"
#include "platform/database/adodb.h"
#include "platform/database/library_cache.h"
#include "platform/messagebox/messagebox.h"
#include "price_tools/export/csv_export.h"

namespace cli {

std::vector<Command>& commands() {
  static std::vector<Command> all;
  return all;
}

Options parseOptions(const std::vector<std::string>& args) {
  Options o;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--password" || a == "--table") {
      if (i + 1 >= args.size()) {
        o.ok = false;
        o.problem = a + " needs a value";
        return o;
      }
      (a == "--password" ? o.password : o.table) = args[++i];
    } else if (a.rfind("--", 0) == 0 && a.size() > 2) {
      o.ok = false;
      o.problem = "unknown option " + a;
      return o;
    } else {
      o.positional.push_back(a);
    }
  }
  return o;
}

int reportError(long number, const std::string& description) {
  std::fprintf(stderr, "error %ld: %s\n", number, description.c_str());
  return 1;
}

int runReported(const std::function<void()>& work) {
  try {
    work();
  } catch (const ado::Error& e) {
    return reportError(e.number, e.description);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}

std::string csvField(const std::string& s) { return price_tools::exporting::csvField(s); }

namespace {

// The length of the valid UTF-8 sequence starting at s[i], 0 when there is
// none (a stray continuation byte, an overlong form, a surrogate, a cut end).
size_t utf8Length(std::string_view s, size_t i) {
  const auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = b(i);
  size_t n;
  unsigned char lo = 0x80, hi = 0xBF;
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF)
    n = 2;
  else if (c >= 0xE0 && c <= 0xEF)
    n = 3, lo = c == 0xE0 ? 0xA0 : 0x80, hi = c == 0xED ? 0x9F : 0xBF;
  else if (c >= 0xF0 && c <= 0xF4)
    n = 4, lo = c == 0xF0 ? 0x90 : 0x80, hi = c == 0xF4 ? 0x8F : 0xBF;
  else
    return 0;
  if (i + n > s.size()) return 0;
  if (b(i + 1) < lo || b(i + 1) > hi) return 0;
  for (size_t k = 2; k < n; ++k)
    if (b(i + k) < 0x80 || b(i + k) > 0xBF) return 0;
  return n;
}

}  // namespace

std::string textField(std::string_view s) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    const size_t n = utf8Length(s, i);
    if (c == '\t' || c == '\n' || c == '\r') {
      out += ' ';
    } else if (c == 0) {
      out += "\\0";
    } else if (c == 0x07) {
      out += "\\a";
    } else if (c == 0x1B) {
      out += "\\e";
    } else if (c < 0x20 || c == 0x7F || n == 0) {
      out += {'\\', 'x', hex[c >> 4], hex[c & 15]};
    } else if (n == 2 && c == 0xC2 && static_cast<unsigned char>(s[i + 1]) <= 0x9F) {
      const unsigned char cp = static_cast<unsigned char>(s[i + 1]);
      out += {'\\', 'u', '0', '0', hex[cp >> 4], hex[cp & 15]};
    } else {
      out.append(s.substr(i, n));
    }
    i += n ? n : 1;
  }
  return out;
}

bool openProgramFolder(const std::string& folderIn, std::string& library) {
  platform::setMessageBoxHandler([](const platform::MessageBoxRequest& box) {
    std::fprintf(stderr, "%s\n", box.text.c_str());
    return box.buttons == platform::MsgButtons::YesNo ? platform::MsgResult::No : platform::MsgResult::Ok;
  });
  std::error_code ec;
  std::string folder = std::filesystem::absolute(folderIn, ec).lexically_normal().string();
  if (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  if (library.empty()) {
    const auto names = data::libraryNames(folder);
    if (names.empty()) {
      std::fprintf(stderr, "%s\n", data::kNoLibraryText);
      return false;
    }
    library = names.back();
  }
  data::libraryslot = 1;
  // A name listed with its ending (price_tools::libraryList, where names
  // differ only in letter case) opens the main connection without it; the
  // month tools open each library by its real file name themselves.
  std::string opening = library;
  if (opening.size() > 4 && common::asciiLower(opening.substr(opening.size() - 4)) == ".zdj" &&
      std::filesystem::is_regular_file(folder + "/" + opening, ec))
    opening.resize(opening.size() - 4);
  return data::openFolder(folder, opening) == 1;
}

}  // namespace cli

static void usage(FILE* to) {
  std::fprintf(to, "usage: velmora-cli [--no-cache] COMMAND ...\n");
  std::fprintf(to, "  --no-cache  read every library from its Jet file, without the library cache\n");
  for (const auto& c : cli::commands()) std::fprintf(to, "  velmora-cli %s\n", c.usage);
}

int main(int argc, char** argv) {
  common::preferLargePages(argv);
  // Global options, before the command.
  while (argc > 1 && !std::strcmp(argv[1], "--no-cache")) {
    ado::setLibraryCacheEnabled(false);
    ++argv, --argc;
  }
  if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
    usage(argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  std::vector<std::string> args(argv + 2, argv + argc);
  for (const auto& c : cli::commands())
    if (c.name == std::string(argv[1])) return c.run(args);
  std::fprintf(stderr, "velmora-cli: unknown command '%s'\n", argv[1]);
  usage(stderr);
  return 2;
}
