#pragma once
// The subcommands of velmora-cli. Each lives in its own file and registers
// itself with one line:
//
//   VELMORA_CLI_COMMAND(browse, "browse FILE [--password PW]", runBrowse);
//
// Every .cpp file of this folder is part of the tool, so a new subcommand needs
// nothing else.
#include <string>
#include <vector>

namespace cli {

using CommandFn = int (*)(const std::vector<std::string>& args);  // args after the name

struct Command {
  const char* name;
  const char* usage;
  CommandFn run;
};

std::vector<Command>& commands();

struct Registrar {
  Registrar(const char* name, const char* usage, CommandFn run) {
    commands().push_back({name, usage, run});
  }
};

// Shared helpers of the subcommands.
struct Options {
  std::vector<std::string> positional;
  std::string password;
  std::string table;
  bool ok = true;
  std::string problem;
};
// Reads "--password PW", "--table NAME" and plain arguments.
Options parseOptions(const std::vector<std::string>& args);

// Prints "error NUMBER: DESCRIPTION" to standard error; returns the exit code 1.
int reportError(long number, const std::string& description);

}  // namespace cli

#define VELMORA_CLI_COMMAND(name, usage, fn) \
  static const ::cli::Registrar velmora_cli_registrar_##name(#name, usage, fn)
