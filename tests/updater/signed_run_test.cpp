// Runs of the updater with the vendor's key in upset.ini, against servers on
// 127.0.0.1: a signed list and its files are installed; every list or file the
// vendor did not sign is refused with nothing installed, nothing recorded and
// nothing changed inside or outside the program folder.
#include <gtest/gtest.h>

#include <QByteArray>

#include <filesystem>
#include <map>

#include "common/items.h"
#include "platform/messagebox/messagebox.h"
#include "support/test_server.h"
#include "support/test_support.h"
#include "support/tls_server.h"
#include "updater/list_signature.h"
#include "updater/local_files.h"
#include "updater/update_trust.h"
#include "updater/updater_run.h"

using namespace updater;
using testsupport::ProgramFolder;
namespace fs = std::filesystem;
namespace ms = updater::minisign;

namespace {

using testhttp::body;
using testsupport::listText;

// Every file below a folder with its bytes (the lock and the start-up marker,
// which every run takes and removes, left out).
std::map<std::string, std::string> snapshot(const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(folder)) {
    const std::string rel = fs::relative(e.path(), folder).string();
    if (rel == kLockFile || rel == fs::u8path(kMarkerFile).string()) continue;
    files[rel] = e.is_regular_file() ? testsupport::readFile(e.path().string()) : "<folder>";
  }
  return files;
}

// Flips one bit of the base64 data on line `line` (0-based) of a signature file.
std::string flipInLine(const std::string& sig, int line, int byte) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < sig.size()) {
    const size_t end = sig.find('\n', start);
    lines.push_back(sig.substr(start, end - start));
    start = end + 1;
  }
  QByteArray raw = QByteArray::fromBase64(QByteArray::fromStdString(lines[line]));
  raw[byte] = static_cast<char>(raw[byte] ^ 0x01);
  lines[line] = raw.toBase64().toStdString();
  std::string out;
  for (const auto& l : lines) out += l + "\n";
  return out;
}

std::string replaceLine(const std::string& sig, int line, const std::string& text) {
  std::string out;
  size_t start = 0;
  for (int i = 0; start < sig.size(); ++i) {
    const size_t end = sig.find('\n', start);
    out += (i == line ? text : sig.substr(start, end - start)) + "\n";
    start = end + 1;
  }
  return out;
}

// A signed release on a local server: a folder outside the program folder
// that a "运行" item would write into, an archive to unpack, and a deferred file.
struct Release {
  testhttp::Server server;
  ms::SecretKey key = ms::generateKey();
  std::string outside;
  std::string runScript, archive, data;
  std::string version = "V2.0";

  explicit Release(const ProgramFolder& folder) {
    outside = folder.path() + "-outside";
    fs::create_directories(outside);
    runScript = "#!/bin/sh\necho ran > '" + outside + "/ran.txt'\n";
    archive = testsupport::zipBytes({{testsupport::ZipEntry::File, "page.htm", "<p>new</p>"}}, folder.path());
    data = std::string(3000, 'd');
    server.set("/run.sh", body(runScript));
    server.set("/pages.zip", body(archive));
    server.set("/new.dat", body(data));
  }
  ~Release() {
    std::error_code ec;
    fs::remove_all(outside, ec);
  }
  std::string hashOf(const std::string& bytes) {
    Sha256Stream h;
    h.add(bytes);
    return h.hex();
  }
  // The list; fileHashes false leaves the hash fields out.
  std::string list(bool fileHashes = true, const std::string& listVersion = "") {
    auto hash = [&](const std::string& bytes) { return fileHashes ? "|sha256:" + hashOf(bytes) : std::string(); };
    return listText({
        "版本=" + (listVersion.empty() ? version : listVersion), "方式=隐藏", "更新=自动", "日期=2026-12-20",
        "|1|Runner|2026-12-20|1k|runs|" + server.url("/run.sh") + "|run.sh|运行|" + hash(runScript),
        "|1|Pages|2026-12-20|1k|pages|" + server.url("/pages.zip") + "|pages.zip|解压|web" + hash(archive),
        "|1|Data|2026-12-20|3k|data|" + server.url("/new.dat") + "|new.dat|data\\target.dat|" + hash(data) + (fileHashes ? "|" : ""),
    });
  }
  std::string signature(const std::string& listBytes, const std::string& commentVersion = "", bool legacy = false) {
    return ms::sign(key, listBytes, trustedCommentFor(commentVersion.empty() ? version : commentVersion, "2026-12-20"),
                    "test", legacy);
  }
  void serve(const std::string& listBytes, const std::string& sig) {
    server.set("/list.ini", body(listBytes));
    server.set("/list.ini.minisig", body(sig));
  }
  int fileHits() { return server.hits("/run.sh") + server.hits("/pages.zip") + server.hits("/new.dat"); }
};

struct Harness {
  bool appReady = (testsupport::coreApp(), true);
  UpdaterRun run;
  bool ended = false;
  Harness() {
    run.setEndProgram([this] { ended = true; });
    run.setTransferTimeoutMs(3000);
    run.setCloseWaitMs(200);
  }
  void go() {
    run.load();
    testsupport::spinUntil([this] { return ended; }, 20000);
  }
  bool refusedList() const {
    for (const auto& p : run.problems())
      if (p.rfind("update list refused", 0) == 0) return true;
    return false;
  }
};

// The program folder as a signed installation leaves it: a last good list, a
// log with one installed item, the key in upset.ini.
void prepare(const ProgramFolder& folder, const Release& release, const std::string& key, bool startupLaunch,
             const std::string& installedVersion = "v1.0") {
  EXPECT_TRUE(common::writeItemFile(folder / kSettingsFile, {"Velmora stand-in", "velmora", release.server.url("/list.ini"), "", key}));
  EXPECT_TRUE(common::writeItemFile(folder / kLogFile, {installedVersion, "2026-11-01", "old\\2026-11-01|"}));
  testsupport::writeFile(folder / kListFile, listText({"版本=V1.0", "|1|old|2026-11-01|1k|x|http://x/old|old|运行|"}));
  testsupport::writeFile(folder / "data/target.dat", "old data");
  if (startupLaunch) testsupport::writeFile(folder / kMarkerFile, "\"Velmora\"\r\n");
}

std::string keyLine(const Release& r) { return ms::publicKeyLine(r.key.publicKey()); }

}  // namespace

TEST(SignedRun, SignedListAndFilesAreInstalledInBothSignatureForms) {
  for (const bool legacy : {false, true}) {
    SCOPED_TRACE(legacy ? "Ed" : "ED");
    ProgramFolder folder;
    Release release(folder);
    const std::string list = release.list();
    release.serve(list, release.signature(list, "", legacy));
    prepare(folder, release, keyLine(release), true);
    Harness h;
    h.go();
    ASSERT_TRUE(h.ended);
    EXPECT_TRUE(h.run.problems().empty()) << h.run.problems().front();
    EXPECT_EQ(testsupport::readFile(folder / kListFile), list);
    EXPECT_EQ(testsupport::readFile(folder / "web/page.htm"), "<p>new</p>");
    EXPECT_TRUE(testsupport::spinUntil([&] { return fs::exists(release.outside + "/ran.txt"); }, 5000));
    // The deferred file replaced its target when the hidden run finished.
    EXPECT_EQ(testsupport::readFile(folder / "data/target.dat"), release.data);
    EXPECT_FALSE(fs::exists(folder / kResetFile));
    const auto log = common::readItemFile(folder / kLogFile, 3).value();
    EXPECT_EQ(log[0], "v2.0");
    EXPECT_NE(log[2].find("runner\\2026-12-20|"), std::string::npos);
    EXPECT_NE(log[2].find("pages\\2026-12-20|"), std::string::npos);
    // The key is kept as upset.ini had it.
    EXPECT_EQ(common::readItemFile(folder / kSettingsFile, 5).value()[4], keyLine(release));
  }
}

// Each way a list can fail to be the vendor's. Each case is refused by its own
// check: take that check away and its case installs.
TEST(SignedRun, ListsTheVendorDidNotSignAreRefusedWithNothingChanged) {
  struct Case {
    const char* what;
    std::function<void(Release&)> serve;
    std::string installed = "v1.0";
  };
  const std::vector<Case> cases = {
      {"a list with one byte changed",
       [](Release& r) {
         const std::string list = r.list();
         std::string changed = list;
         changed[changed.find("3k")] = '4';
         r.serve(changed, r.signature(list));
       }},
      {"a changed signature", [](Release& r) { r.serve(r.list(), flipInLine(r.signature(r.list()), 1, 40)); }},
      {"the signature of another list",
       [](Release& r) {
         const std::string other = r.list(true) + listText({"{another"});
         r.serve(r.list(), r.signature(other));
       }},
      {"another key",
       [](Release& r) {
         const std::string list = r.list();
         ms::SecretKey other = ms::generateKey();
         r.serve(list, ms::sign(other, list, trustedCommentFor(r.version, "2026-12-20")));
       }},
      {"another key under the right key id",
       [](Release& r) {
         const std::string list = r.list();
         ms::SecretKey other = ms::generateKey();
         other.keyId = r.key.keyId;
         r.serve(list, ms::sign(other, list, trustedCommentFor(r.version, "2026-12-20")));
       }},
      {"a missing signature", [](Release& r) { r.server.set("/list.ini", body(r.list())); }},
      {"an empty signature", [](Release& r) { r.serve(r.list(), ""); }},
      {"a signature file of 10 MB",
       [](Release& r) {
         std::string sig = r.signature(r.list());
         sig += std::string(10 << 20, '\n');
         r.serve(r.list(), sig);
       }},
      {"a trusted comment changed without its global signature",
       [](Release& r) {
         const std::string sig = r.signature(r.list());
         r.serve(r.list(), replaceLine(sig, 2, "trusted comment: " + trustedCommentFor(r.version, "2099-01-01")));
       }},
      {"a signature naming another version",
       [](Release& r) { r.serve(r.list(), r.signature(r.list(), "V9.0")); }},
      {"a replayed older signed list",
       [](Release& r) {
         r.version = "V1.5";
         r.serve(r.list(), r.signature(r.list()));
       },
       "v2.0"},
  };
  for (const Case& c : cases) {
    for (const bool startupLaunch : {true, false}) {
      SCOPED_TRACE(std::string(c.what) + (startupLaunch ? ", hidden" : ", shown"));
      ProgramFolder folder;
      Release release(folder);
      c.serve(release);
      prepare(folder, release, keyLine(release), startupLaunch, c.installed);
      const auto before = snapshot(folder.path());
      platform::setApplicationTitle("Ostravel");
      platform::MessageBoxRecorder boxes;
      Harness h;
      h.go();
      ASSERT_TRUE(h.ended);
      EXPECT_TRUE(h.refusedList());
      EXPECT_EQ(release.fileHits(), 0);
      EXPECT_EQ(snapshot(folder.path()), before);
      EXPECT_TRUE(fs::is_empty(release.outside));
      EXPECT_FALSE(h.run.listRead());
      // The start-up launch is silent; a run the user asked for says why.
      const bool older = c.installed == "v2.0";
      if (startupLaunch || older) {
        EXPECT_TRUE(boxes.boxes().empty());
      } else {
        EXPECT_EQ(boxes.boxes().size(), 1u);
        if (!boxes.boxes().empty()) {
          EXPECT_EQ(boxes.boxes()[0].text, kBadSignatureMessage);
          EXPECT_EQ(boxes.boxes()[0].title, "Ostravel");
        }
      }
    }
  }
}

TEST(SignedRun, AKeyThatCannotBeReadRefusesEveryList) {
  ProgramFolder folder;
  Release release(folder);
  release.serve(release.list(), release.signature(release.list()));
  std::string broken = keyLine(release);
  broken[5] = broken[5] == 'A' ? 'B' : 'A';  // another key id: still a key, not ours
  for (const std::string& key : {std::string("not a key"), broken}) {
    prepare(folder, release, key, true);
    const auto before = snapshot(folder.path());
    Harness h;
    h.go();
    EXPECT_TRUE(h.refusedList()) << key;
    EXPECT_EQ(snapshot(folder.path()), before);
  }
  EXPECT_EQ(release.fileHits(), 0);
}

// The file checks: under a key every file needs its hash, and a file that
// does not match is deleted, not installed and not recorded.
TEST(SignedRun, FilesThatDoNotMatchTheirHashAreRefused) {
  for (const char* variant : {"one byte changed", "no hash"}) {
    SCOPED_TRACE(variant);
    ProgramFolder folder;
    Release release(folder);
    const bool noHash = std::string(variant) == "no hash";
    const std::string list = release.list(!noHash);
    release.serve(list, release.signature(list));
    if (!noHash) {
      // Each file differs from what the list's hash says by one byte.
      for (const auto& [path, bytes] : {std::pair<std::string, std::string>{"/run.sh", release.runScript},
                                        {"/pages.zip", release.archive}, {"/new.dat", release.data}}) {
        std::string changed = bytes;
        changed[changed.size() / 2] ^= 0x20;
        release.server.set(path, body(changed));
      }
    }
    prepare(folder, release, keyLine(release), false);
    auto before = snapshot(folder.path());
    Harness h;
    h.go();
    ASSERT_TRUE(h.ended);
    EXPECT_FALSE(h.refusedList());
    EXPECT_TRUE(h.run.listRead());
    // Only the list changed, and the log's version (as after any list that
    // was read): no file kept, installed or recorded.
    auto after = snapshot(folder.path());
    EXPECT_EQ(after[kListFile], list);
    const auto log = common::readItemFile(folder / kLogFile, 3).value();
    EXPECT_EQ(log[2], "old\\2026-11-01|");
    for (auto* files : {&after, &before}) {
      files->erase(kListFile);
      files->erase(kLogFile);
    }
    EXPECT_EQ(after, before);
    EXPECT_TRUE(fs::is_empty(release.outside));
    EXPECT_EQ(release.fileHits(), noHash ? 0 : 3);
    ASSERT_EQ(h.run.rows().size(), 4u);
    for (int r = 1; r < 4; ++r) EXPECT_TRUE(h.run.rows()[r].failed) << r;
    EXPECT_EQ(h.run.problems().size(), 3u);
  }
}

// Without a key nothing is required, but a hash the list gives is checked.
TEST(SignedRun, WithoutAKeyAHashGivenIsStillChecked) {
  ProgramFolder folder;
  Release release(folder);
  std::string list = listText({
      "版本=V2.0", "方式=隐藏", "更新=自动",
      "|1|Pages|2026-12-20|1k|pages|" + release.server.url("/pages.zip") + "|pages.zip|解压|web|sha256:" +
          release.hashOf(release.archive),
      "|1|Data|2026-12-20|3k|data|" + release.server.url("/new.dat") + "|new.dat|解压|x|sha256:" +
          release.hashOf("something else"),
      "|1|Plain|2026-12-20|1k|none|" + release.server.url("/run.sh") + "|run.txt|运行|",
  });
  release.server.set("/list.ini", body(list));
  prepare(folder, release, "", false);
  Harness h;
  h.go();
  ASSERT_TRUE(h.ended);
  EXPECT_EQ(release.server.hits("/list.ini.minisig"), 0);
  EXPECT_EQ(testsupport::readFile(folder / "web/page.htm"), "<p>new</p>");
  EXPECT_FALSE(fs::exists(folder / "new.dat"));
  EXPECT_TRUE(h.run.rows()[2].failed);
  EXPECT_TRUE(fs::exists(folder / "run.txt"));
  const auto log = common::readItemFile(folder / kLogFile, 3).value();
  EXPECT_EQ(log[2].find("data\\"), std::string::npos);
  EXPECT_NE(log[2].find("plain\\2026-12-20|"), std::string::npos);
  // upset.ini without a key is written as before: four items.
  UpdaterState st;
  readset(st);
  st.selection = "x";
  ASSERT_TRUE(writeset(st));
  EXPECT_EQ(testsupport::readLines(folder / kSettingsFile).size(), 4u);
}

// https: a server whose certificate is not trusted is refused; one trusted
// through the transfers' seam serves the signed release.
TEST(SignedRun, HttpsIsRefusedUntrustedAndAcceptedTrusted) {
  for (const bool trusted : {false, true}) {
    SCOPED_TRACE(trusted ? "trusted" : "untrusted");
    ProgramFolder folder;
    Release release(folder);
    testsupport::coreApp();
    testhttps::Server tls;
    const std::string list = listText({"版本=V2.0", "方式=隐藏", "更新=自动", "|1|Pages|2026-12-20|1k|pages|" +
                                       tls.url("/pages.zip") + "|pages.zip|解压|web|sha256:" +
                                       release.hashOf(release.archive)});
    tls.set("/list.ini", testhttps::route(200, list));
    tls.set("/list.ini.minisig", testhttps::route(200, release.signature(list)));
    tls.set("/pages.zip", testhttps::route(200, release.archive));
    prepare(folder, release, keyLine(release), true);
    EXPECT_TRUE(common::writeItemFile(folder / kSettingsFile, {"t", "velmora", tls.url("/list.ini"), "", keyLine(release)}));
    const auto before = snapshot(folder.path());
    Harness h;
    if (trusted) {
      h.run.listTransfer().addTrustedCertificates(tls.certificatePem());
      h.run.fileTransfer().addTrustedCertificates(tls.certificatePem());
    }
    h.go();
    ASSERT_TRUE(h.ended);
    if (trusted) {
      EXPECT_EQ(testsupport::readFile(folder / "web/page.htm"), "<p>new</p>");
      EXPECT_EQ(testsupport::readFile(folder / kListFile), list);
    } else {
      EXPECT_EQ(snapshot(folder.path()), before);
      EXPECT_FALSE(h.run.listRead());
    }
  }
}
