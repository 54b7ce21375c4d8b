#pragma once
// The main program's database connections and its two shared record sets.
// One instance for the whole run; nothing here is freed before the program ends.
//
// Slot 0 holds the project database pro.mdb, slot `libraryslot` (1) the
// material library; slots 2 to 4 exist but are never opened.
#include <array>
#include <memory>
#include <string>

#include "platform/database/adodb.h"

namespace data {

// Slot of the material library; start-up sets it to 1 and nothing changes it.
extern short libraryslot;
// The last connection string built for the material library.
extern std::string libconnstring;
// The user role of the first layout query; nothing assigns it, so it stays "".
extern std::string currentrole;
// Project ids by connection slot 0 to 3; nothing assigns them, so they stay 0.
extern std::array<short, 4> xmids;

constexpr int kConnectionSlots = 5;

// The connection of a slot, created the first time the slot is touched.
// A slot outside 0 to 4 throws ado::Error.
ado::Connection& connections(int slot);

// The shared record sets, created on first use. Each user opens, reads and
// closes one within one call. renew*() discards the current one (closing it if
// a failed call left it open) and starts a new one.
ado::Recordset& mainrs();
ado::Recordset& renewMainrs();
ado::Recordset& auxrs();
ado::Recordset& renewAuxrs();

// Closes a record set when it goes out of scope, so that a failure in the
// middle of a read releases the result it had opened.
class CloseOnExit {
 public:
  explicit CloseOnExit(ado::Recordset& rs) : rs_(rs) {}
  ~CloseOnExit();
  CloseOnExit(const CloseOnExit&) = delete;
  CloseOnExit& operator=(const CloseOnExit&) = delete;

 private:
  ado::Recordset& rs_;
};

// Opens a statement on a slot's connection as every query of the program
// does: keyset cursor, read-only, options -1.
void openQuery(ado::Recordset& rs, const std::string& statement, int slot);
// The same on a given connection.
void openQuery(ado::Recordset& rs, const std::string& statement, const ado::Connection& connection);

// The two connection strings. The path goes in as it is; one holding ";" is
// quoted (ado::connectionValue), so that it reaches the provider whole.
std::string libraryConnectionString(const std::string& libraryFile);
std::string projectConnectionString();

// Opens (or re-opens) the library in slot `libraryslot` and pro.mdb in slot 0.
// The first failing step ends it with the message "无法连接!错误提示:" + the
// error number + " " + the description, and the result 0; otherwise 1.
int opendatabases(const std::string& libraryFile);

// Closes every connection and drops the record sets and settings (tests, and
// a tool that opens another folder).
void resetDataModule();

}  // namespace data
