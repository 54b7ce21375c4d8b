#pragma once
// Reading a Jet file: the header checks (format, size, password) done by hand,
// and the tables read with mdbtools' libmdb into a sink.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/database/jet_database.h"

namespace ado::jet {

// Error numbers and texts, as the Jet provider reports them through ADO.
constexpr long kFail = -2147467259;          // E_FAIL: file missing, not Jet, damaged, locked
constexpr long kBadPassword = -2147217843;   // DB_SEC_E_AUTH_FAILED
Error missingFile(const std::string& path);
Error notJet(const std::string& path);
Error damaged(const std::string& path);
Error locked(const std::string& path);
Error badPassword();

struct Header {
  int version = 4;       // 3 or 4
  int pageSize = 4096;
  int codePage = 1252;
  uint32_t pageKey = 0;  // page encoding key (0: pages stored plain)
  std::optional<std::string> password;  // UTF-8; nullopt when none is set
  std::size_t pageCount = 0;
};

// Checks the first page of a file of `fileSize` bytes; throws notJet/damaged.
Header inspectHeader(const uint8_t* page0, std::size_t available, std::size_t fileSize,
                     const std::string& path);

// Throws badPassword() unless `given` opens a file with this header.
void checkPassword(const Header& header, const std::string& given);

// A cell as the reader hands it on.
struct Cell {
  enum Kind : uint8_t { Null = 0, Int = 1, Real = 2, Text = 3 } kind = Null;
  int64_t i = 0;
  double d = 0;
  std::string s;
};

struct IndexDef {
  std::vector<int> columns;  // positions in the table's columns
};

struct TableDef {
  TableInfo info;
  std::vector<IndexDef> indexes;
};

class Sink {
 public:
  virtual ~Sink() = default;
  // The rows the tables to come hold, as their definitions count them (told
  // once, before the first table; a damaged file may count wrong).
  virtual void expectRows(uint64_t rows) { (void)rows; }
  virtual void beginTable(const TableDef& table) = 0;
  virtual void row(const std::vector<Cell>& cells) = 0;
  virtual void endTable() = 0;
};

// Reads every user table of the file through libmdb. `file` is the path, or
// empty with `buffer` set. Throws damaged() on what it can tell is broken.
void readTables(const Header& header, const std::string& file, const void* buffer,
                std::size_t bufferSize, const std::string& pathForErrors, Sink& sink);

// The same in the reader program (a process of its own, limited in CPU time
// and address space); the cells come back through a pipe. A reader that dies,
// hangs or sends nonsense makes this throw damaged(); one that cannot be
// started, an Error (kFail) that says so.
void readTablesIsolated(const Header& header, const std::string& file,
                        const std::string& pathForErrors, Sink& sink);

// The reader program: velmora-jet-reader beside the running program's
// executable, otherwise the one of the build (tests and tools run in the build
// tree).
std::string readerProgram();

// The reader program's main: "velmora-jet-reader FILE NAME-FOR-ERRORS" checks
// the header of FILE, reads its tables and writes them to its standard output
// for readTablesIsolated. Returns the exit status.
int readerMain(int argc, char** argv);

// Text in a code page (Jet 3 files) as UTF-8.
std::string codePageToUtf8(const char* data, std::size_t size, int codePage);

}  // namespace ado::jet
