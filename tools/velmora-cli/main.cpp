// velmora-cli: looks into the Jet files of a Velmora installation through the
// same database provider the programs use.
#include <cstdio>
#include <cstring>

#include "commands.h"
#include "platform/database/adodb.h"
#include "platform/database/library_cache.h"

#include <filesystem>

#include "data/browse.h"
#include "data/connections.h"
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
      std::fprintf(stderr, "没有找到相关材料库！请重新安装本软件！\n");
      return false;
    }
    library = names.back();
  }
  data::libraryslot = 1;
  return data::openFolder(folder, library) == 1;
}

}  // namespace cli

static void usage(FILE* to) {
  std::fprintf(to, "usage: velmora-cli [--no-cache] COMMAND ...\n");
  std::fprintf(to, "  --no-cache  read every library from its Jet file, without the library cache\n");
  for (const auto& c : cli::commands()) std::fprintf(to, "  velmora-cli %s\n", c.usage);
}

int main(int argc, char** argv) {
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
