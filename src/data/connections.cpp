#include "data/connections.h"

#include <filesystem>

#include "common/program_folder.h"
#include "data/files.h"
#include "data/table_settings.h"
#include "platform/messagebox/messagebox.h"

namespace data {

short libraryslot = 1;
std::string libconnstring;
std::string currentrole;
std::array<short, 4> xmids{};

namespace {

std::array<std::unique_ptr<ado::Connection>, kConnectionSlots> connectionSlots;
std::unique_ptr<ado::Recordset> mainSet;
std::unique_ptr<ado::Recordset> auxSet;

// The number the platform gives a subscript outside its array.
constexpr long kSubscriptOutOfRange = 9;

void release(std::unique_ptr<ado::Recordset>& rs) {
  if (rs) {
    try {
      if (rs->State() == 1) rs->Close();
    } catch (...) {
    }
  }
  rs = std::make_unique<ado::Recordset>();
}

}  // namespace

ado::Connection& connections(int slot) {
  if (slot < 0 || slot >= kConnectionSlots)
    throw ado::Error(kSubscriptOutOfRange, "Subscript out of range: connection slot " + std::to_string(slot));
  auto& c = connectionSlots[static_cast<size_t>(slot)];
  if (!c) c = std::make_unique<ado::Connection>();
  return *c;
}

ado::Recordset& mainrs() {
  if (!mainSet) mainSet = std::make_unique<ado::Recordset>();
  return *mainSet;
}

ado::Recordset& renewMainrs() {
  release(mainSet);
  return *mainSet;
}

ado::Recordset& auxrs() {
  if (!auxSet) auxSet = std::make_unique<ado::Recordset>();
  return *auxSet;
}

ado::Recordset& renewAuxrs() {
  release(auxSet);
  return *auxSet;
}

CloseOnExit::~CloseOnExit() {
  try {
    if (rs_.State() == 1) rs_.Close();
  } catch (...) {
  }
}

void openQuery(ado::Recordset& rs, const std::string& statement, int slot) {
  openQuery(rs, statement, connections(slot));
}

void openQuery(ado::Recordset& rs, const std::string& statement, const ado::Connection& connection) {
  rs.Open(statement, connection, 1, 1, -1);
}

// The file name goes in unchanged (blanks and Chinese included); a name the
// connection string could not carry as it is (one holding ";") is quoted.
std::string libraryConnectionString(const std::string& libraryFile) {
  return "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" +
         ado::connectionValue(common::programFolder() + "\\" + libraryFile) +
         ";Persist Security Info=False;Jet OLEDB:Database Password=4917";
}

std::string projectConnectionString() {
  return "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + ado::connectionValue(common::programFolder() + "\\pro.mdb") +
         ";Persist Security Info=False;Jet OLEDB:Database Password=tqwmzhpbnk3";
}

int opendatabases(const std::string& libraryFile) {
  try {
    ado::Connection& lib = connections(libraryslot);
    if (lib.State() == 1) lib.Close();
    libconnstring = libraryConnectionString(storedFileName(libraryFile));
    lib.Open(libconnstring, "", "", -1);
    const std::string project = projectConnectionString();
    ado::Connection& pro = connections(0);
    if (pro.State() == 1) pro.Close();
    pro.Open(project, "", "", -1);
    return 1;
  } catch (const ado::Error& e) {
    platform::MsgBox("无法连接!错误提示:" + std::to_string(e.number) + " " + e.description);
  } catch (const std::exception& e) {
    // Unspecified failure, numbered as the platform numbers it.
    platform::MsgBox("无法连接!错误提示:" + std::to_string(-2147467259L) + " " + e.what());
  }
  return 0;
}

void resetDataModule() {
  for (auto& c : connectionSlots) {
    if (c) {
      try {
        if (c->State() == 1) c->Close();
      } catch (...) {
      }
    }
    c.reset();
  }
  mainSet.reset();
  auxSet.reset();
  libraryslot = 1;
  libconnstring.clear();
  currentrole.clear();
  xmids = {};
  TableSettings = TableSettingsRecord{};
}

}  // namespace data
