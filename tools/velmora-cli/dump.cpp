// velmora-cli dump FILE [--password PW] [--table NAME]: the file's user tables as JSON.
#include <cstdio>

#include "commands.h"
#include "platform/database/jet_dump.h"

namespace {

int runDump(const std::vector<std::string>& args) {
  cli::Options o = cli::parseOptions(args);
  if (!o.ok || o.positional.size() != 1) {
    std::fprintf(stderr, "usage: velmora-cli dump FILE [--password PW] [--table NAME]\n%s\n",
                 o.problem.c_str());
    return 2;
  }
  try {
    auto db = ado::Database::open(o.positional[0], o.password);
    std::string out;
    if (!ado::dumpJson(*db, o.table, out)) {
      std::fprintf(stderr, "velmora-cli: no table '%s'\n", o.table.c_str());
      return 1;
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
  } catch (const ado::Error& e) {
    return cli::reportError(e.number, e.description);
  }
}

}  // namespace

VELMORA_CLI_COMMAND(dump, "dump FILE [--password PW] [--table NAME]", runDump);
