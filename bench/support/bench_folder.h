#pragma once
// A scratch program folder for the benchmarks that open a generated library
// the way the main window does: pro.mdb and the library copied in, message
// boxes printed instead of shown, the databases opened.
#include <cstdio>
#include <filesystem>

#include "common/program_folder.h"
#include "data/connections.h"
#include "platform/messagebox/messagebox.h"

namespace bench {

// Lays out DIR with PROJECT as pro.mdb and LIBRARY as bench.zdj and opens
// them; false when they do not open.
inline bool openBenchFolder(const std::filesystem::path& dir, const std::filesystem::path& project,
                            const std::filesystem::path& library) {
  namespace fs = std::filesystem;
  fs::create_directories(dir);
  fs::copy_file(project, dir / "pro.mdb", fs::copy_options::overwrite_existing);
  fs::copy_file(library, dir / "bench.zdj", fs::copy_options::overwrite_existing);
  common::setProgramFolder(dir.string());
  platform::setMessageBoxHandler([](const platform::MessageBoxRequest& box) {
    std::fprintf(stderr, "message: %s\n", box.text.c_str());
    return platform::MsgResult::Ok;
  });
  return data::opendatabases("bench.zdj") == 1;
}

}  // namespace bench
