#pragma once
// The subcommands of velmora-cli. Each lives in its own file and registers
// itself with one line:
//
//   VELMORA_CLI_COMMAND(browse, "browse FILE [--password PW]", runBrowse);
//
// Every .cpp file of this folder is part of the tool, so a new subcommand needs
// nothing else.
#include <functional>
#include <string>
#include <string_view>
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

// Runs a command's work: a provider's error is reported as reportError does,
// any other failure by its text. Returns the exit code (0 when it ran).
int runReported(const std::function<void()>& work);

// A CSV field, quoted when it holds a comma, a quote or a line break.
std::string csvField(const std::string& s);

// A field of text output (a line of tab-separated fields on a terminal), so
// that nothing from a library can steer the terminal or break the line:
// tab, line feed and carriage return become a blank; the other control
// characters are written as escapes: NUL "\0", BEL "\a", ESC "\e", any other
// C0 control and DEL "\xNN" (two hex digits), a C1 control (U+0080 to
// U+009F) "\u00NN", a byte that is no part of valid UTF-8 "\xNN". A
// backslash stays as it is (page names hold them, "web\a.htm"), so text
// output is for reading; CSV and JSON keep the text exact for programs.
std::string textField(std::string_view s);

// Points the data module at a program folder and opens a library and pro.mdb
// as the main window does, its messages going to standard error. An empty
// library name means the last library in name order; the name opened is
// written back. False (after a message) when nothing could be opened.
bool openProgramFolder(const std::string& folder, std::string& library);

}  // namespace cli

#define VELMORA_CLI_COMMAND(name, usage, fn) \
  static const ::cli::Registrar velmora_cli_registrar_##name(#name, usage, fn)
