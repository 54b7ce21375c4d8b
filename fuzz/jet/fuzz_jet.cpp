// Opens mutated Jet files the way a connection opens a library, read in-process
// so that the fuzzer sees every fault of the reader (the programs read in a
// child process, which contains such faults), then reads every table back.
//
// Seeds: when the corpus folder holds no Jet file yet, the real sample files and
// a small library from the project's Jet writer are put into it first.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "jetwrite/jetwriter.h"
#include "platform/database/jet_database.h"
#include "platform/database/jet_reader.h"

namespace fs = std::filesystem;

namespace {

void seed(const fs::path& corpus) {
  std::error_code ec;
  for (fs::directory_iterator it(corpus, ec), end; !ec && it != end; it.increment(ec)) {
    auto ext = it->path().extension();
    if (ext == ".mdb" || ext == ".zdj") return;  // already seeded
  }
  for (fs::directory_iterator it(JET_SAMPLES_DIR, ec), end; !ec && it != end; it.increment(ec))
    if (it->path().extension() == ".mdb" && fs::file_size(it->path(), ec) < (1u << 20))
      fs::copy_file(it->path(), corpus / it->path().filename(), fs::copy_options::skip_existing, ec);
  using jetwrite::ColumnType;
  jetwrite::Database db;
  db.password = "4917";
  db.tables.push_back({"Category",
                       {{"ID", ColumnType::Long}, {"ParentID", ColumnType::Long}, {"Name", ColumnType::Text, 50},
                        {"ico", ColumnType::Text, 20}},
                       {{"0", "-1", "全部材料", "材料"}, {"1", "0", "钢材", std::nullopt}}});
  db.tables.push_back({"CLProduct",
                       {{"ID", ColumnType::Long}, {"Name", ColumnType::Text, 100}, {"Price", ColumnType::Currency},
                        {"W", ColumnType::Double}, {"S", ColumnType::Single}, {"N", ColumnType::Integer},
                        {"B", ColumnType::Byte}, {"Y", ColumnType::YesNo}, {"D", ColumnType::DateTime},
                        {"Remark", ColumnType::Memo}},
                       {{"1", "螺纹钢", "3.5000", "1.5", "2", "3", "4", "true", "2026-12-01 08:30:00",
                         "长" + std::string(2500, 'x')},
                        {"2", "Cement", "0.0001", std::nullopt, std::nullopt, std::nullopt, std::nullopt, "false",
                         std::nullopt, "short"}}});
  try {
    jetwrite::writeDatabase(db, (corpus / "library.zdj").string());
  } catch (...) {
  }
}

}  // namespace

// libmdb leaks some of what it allocated when it gives up on a damaged file; in
// the programs that happens in the reading child, which ends right after.
extern "C" const char* __lsan_default_suppressions() { return "leak:libglib-2.0.so\nleak:libmdb.so\n"; }

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  for (int i = 1; i < *argc; ++i) {
    std::string a = (*argv)[i];
    std::error_code ec;
    if (!a.empty() && a[0] != '-' && fs::is_directory(a, ec)) {
      seed(a);
      break;
    }
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string password;
  try {
    // Use the password the (mutated) header holds, so the open goes on to the tables.
    auto h = ado::jet::inspectHeader(data, size < 4096 ? size : 4096, size, "fuzz.zdj");
    password = h.password.value_or("");
  } catch (const ado::Error&) {
  }
  try {
    auto db = ado::Database::openBuffer(data, size, password, "fuzz.zdj");
    for (const auto& t : db->tables()) {
      auto rs = db->execute("select * from [" + t.name + "]");
      for (const auto& v : rs.cells) (void)v.toText();
    }
  } catch (const ado::Error& e) {
    if (e.description.empty()) __builtin_trap();
  }
  return 0;
}
