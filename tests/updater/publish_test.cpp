// The vendor's side: quennar-publish and Debian's minisign program agree on
// keys and signatures both ways, a published release installs end to end, and
// the tool refuses what Quennar would refuse.
#include <gtest/gtest.h>

#include <QProcess>

#include <filesystem>

#include "common/items.h"
#include "support/test_server.h"
#include "support/test_support.h"
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

struct Result {
  int code = -1;
  std::string out;
};

// Runs a program with arguments, feeding input on its standard input.
Result runProgram(const std::string& program, const QStringList& args, const std::string& input = "") {
  QProcess p;
  p.setProcessChannelMode(QProcess::MergedChannels);
  p.start(QString::fromStdString(program), args);
  if (!p.waitForStarted(10000)) return {};
  p.write(input.data(), static_cast<qint64>(input.size()));
  p.closeWriteChannel();
  p.waitForFinished(120000);
  return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAll().toStdString()};
}
Result publishTool(const QStringList& args, const std::string& input = "") {
  return runProgram(QUENNAR_PUBLISH_PATH, args, input);
}
Result minisignProgram(const QStringList& args, const std::string& input = "") {
  return runProgram(MINISIGN_PATH, args, input);
}
QString q(const std::string& s) { return QString::fromStdString(s); }

// A scratch folder outside the program folder.
struct Scratch {
  std::string path;
  Scratch() {
    std::string pattern = (fs::temp_directory_path() / "quennar-publish-XXXXXX").string();
    path = ::mkdtemp(pattern.data());
  }
  ~Scratch() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
  std::string operator/(const std::string& name) const { return (fs::path(path) / fs::u8path(name)).string(); }
};

// Runs Quennar on the program folder with the given key; true when it ended.
bool runQuennar(std::vector<std::string>* problems = nullptr) {
  testsupport::coreApp();
  UpdaterRun run;
  bool ended = false;
  run.setEndProgram([&] { ended = true; });
  run.setTransferTimeoutMs(3000);
  run.setCloseWaitMs(200);
  run.load();
  testsupport::spinUntil([&] { return ended; }, 20000);
  if (problems) *problems = run.problems();
  return ended;
}

}  // namespace

// Keys and signatures of Debian's minisign, read by Quennar: the pre-hashed
// form installs in a whole run, the legacy form (-l) passes the check.
TEST(MinisignInterop, ListsSignedByMinisignAreAccepted) {
  Scratch s;
  ASSERT_EQ(minisignProgram({"-G", "-W", "-p", q(s / "k.pub"), "-s", q(s / "k.sec")}).code, 0);
  const auto key = ms::parsePublicKey(testsupport::readFile(s / "k.pub"));
  ASSERT_TRUE(key);
  ProgramFolder folder;
  testhttp::Server server;
  const std::string page = "<p>signed by minisign</p>";
  server.set("/page.htm", body(page));
  Sha256Stream h;
  h.add(page);
  const std::string list = listText({"版本=V3.0", "方式=隐藏", "更新=自动", "|1|Page|2026-12-20|1k|x|" +
                                     server.url("/page.htm") + "|page.htm|web\\shown.htm||sha256:" + h.hex()});
  testsupport::writeFile(s / "list.ini", list);
  const QString comment = q(trustedCommentFor("V3.0", "2026-12-20"));
  ASSERT_EQ(minisignProgram({"-S", "-s", q(s / "k.sec"), "-m", q(s / "list.ini"), "-t", comment}).code, 0);
  server.set("/list.ini", body(list));
  server.set("/list.ini.minisig", body(testsupport::readFile(s / "list.ini.minisig")));
  EXPECT_TRUE(common::writeItemFile(folder / kSettingsFile, {"t", "velmora", server.url("/list.ini"), "", ms::publicKeyLine(*key)}));
  std::vector<std::string> problems;
  ASSERT_TRUE(runQuennar(&problems));
  EXPECT_TRUE(problems.empty()) << problems.front();
  EXPECT_EQ(testsupport::readFile(folder / "web/shown.htm"), page);

  ASSERT_EQ(minisignProgram({"-S", "-l", "-s", q(s / "k.sec"), "-m", q(s / "list.ini"), "-x", q(s / "legacy.minisig"), "-t",
                      comment})
                .code,
            0);
  const std::string legacy = testsupport::readFile(s / "legacy.minisig");
  EXPECT_EQ(QByteArray::fromBase64(QByteArray::fromStdString(legacy.substr(legacy.find('\n') + 1, 100))).left(2), "Ed");
  EXPECT_EQ(checkSignedList(ms::publicKeyLine(*key), list, legacy, "").trust, ListTrust::Trusted);
  std::string changed = list;
  changed[3] ^= 1;
  EXPECT_EQ(checkSignedList(ms::publicKeyLine(*key), changed, legacy, "").trust, ListTrust::BadSignature);
}

// What quennar-publish writes, read by minisign: signatures in both forms
// pass -V, and its secret keys, plain or encrypted, sign with minisign -S.
TEST(MinisignInterop, WhatQuennarPublishWritesPassesMinisign) {
  Scratch s;
  testsupport::writeFile(s / "pw", "correct horse\n");
  ASSERT_EQ(publishTool({"keygen", "-W", q(s / "plain.sec"), q(s / "plain.pub")}).code, 0);
  ASSERT_EQ(publishTool({"keygen", "--password-file", q(s / "pw"), "--scrypt-ops", "65536", "--scrypt-mem", "16777216",
                         q(s / "enc.sec"), q(s / "enc.pub")})
                .code,
            0);
  testsupport::writeFile(s / "files/a.dat", "payload");
  testsupport::writeFile(s / "release.txt",
                         "version = V2.5\ndate = 2026-12-20\nbase = http://127.0.0.1:9/r/\n[file]\nsource = files/a.dat\n"
                         "name = 数据\ndate = 2026-12-20\nmode = data\\a.dat\n");
  for (const auto& [key, extra] : {std::pair<std::string, QStringList>{"plain", {}},
                                   {"enc", {"--password-file", q(s / "pw")}},
                                   {"enc", {"--password-file", q(s / "pw"), "--legacy"}}}) {
    SCOPED_TRACE(key + " " + extra.join(' ').toStdString());
    const std::string out = s / ("out-" + key + std::to_string(extra.size()));
    QStringList args = {"publish", "-s", q(s / (key + ".sec"))};
    args << extra << q(s / "release.txt") << q(out);
    const Result r = publishTool(args);
    ASSERT_EQ(r.code, 0) << r.out;
    const QStringList verify = {"-V", "-p", q(s / (key + ".pub")), "-m", q(out + "/list.ini")};
    const Result v = minisignProgram(extra.contains("--legacy") ? verify : QStringList(verify) << "-H");
    EXPECT_EQ(v.code, 0) << v.out;
    EXPECT_NE(v.out.find("Trusted comment: 版本=V2.5 日期=2026-12-20"), std::string::npos) << v.out;
  }
  // minisign signs with either secret key; the password comes on its input.
  testsupport::writeFile(s / "m.txt", "message");
  EXPECT_EQ(minisignProgram({"-S", "-s", q(s / "plain.sec"), "-m", q(s / "m.txt"), "-x", q(s / "m1.sig")}).code, 0);
  EXPECT_EQ(minisignProgram({"-S", "-s", q(s / "enc.sec"), "-m", q(s / "m.txt"), "-x", q(s / "m2.sig")}, "correct horse\n").code, 0);
  EXPECT_NE(minisignProgram({"-S", "-s", q(s / "enc.sec"), "-m", q(s / "m.txt"), "-x", q(s / "m3.sig")}, "wrong\n").code, 0);
  for (const char* sig : {"m1.sig", "m2.sig"})
    EXPECT_EQ(minisignProgram({"-V", "-p", q(s / (sig == std::string("m1.sig") ? "plain.pub" : "enc.pub")), "-m",
                        q(s / "m.txt"), "-x", q(s / sig)})
                  .code,
              0)
        << sig;
  // A wrong password publishes nothing; keygen never writes over a key.
  testsupport::writeFile(s / "bad", "wrong\n");
  EXPECT_EQ(publishTool({"publish", "-s", q(s / "enc.sec"), "--password-file", q(s / "bad"), q(s / "release.txt"),
                         q(s / "out-bad")})
                .code,
            1);
  EXPECT_FALSE(fs::exists(s / "out-bad"));
  const std::string before = testsupport::readFile(s / "plain.sec");
  EXPECT_NE(publishTool({"keygen", "-W", q(s / "plain.sec"), q(s / "other.pub")}).code, 0);
  EXPECT_EQ(testsupport::readFile(s / "plain.sec"), before);
}

// A release published by the tool and served from 127.0.0.1 is installed by
// Quennar: the list as Quennar reads it (GBK, CR LF, quoted items, hashes),
// groups, an archive unpacked and a file replaced.
TEST(QuennarPublish, PublishedReleaseInstallsEndToEnd) {
  Scratch s;
  ProgramFolder folder;
  testhttp::Server server;
  testsupport::writeFile(s / "pw", "secret\n");
  ASSERT_EQ(publishTool({"keygen", "--password-file", q(s / "pw"), "--scrypt-ops", "65536", "--scrypt-mem", "16777216",
                         q(s / "k.sec"), q(s / "k.pub")})
                .code,
            0);
  fs::create_directories(s / "src");
  testsupport::makeZip(s / "src/网页.zip", {{testsupport::ZipEntry::File, "new.htm", "<p>网页</p>"}});
  testsupport::writeFile(s / "src/2026年12月信息价.zdj", std::string(5000, 'z'));
  testsupport::writeFile(s / "release.txt",
                         "# the December release\n"
                         "version = V2.6\n"
                         "title = 十二月更新\n"
                         "date = 2026-12-20\n"
                         "run = 隐藏\n"
                         "update = 自动\n"
                         "base = " + server.url("/release/") + "\n"
                         "note = 新的信息价\n"
                         "[file]\n"
                         "source = src/2026年12月信息价.zdj\n"
                         "name = 十二月信息价\n"
                         "date = 2026-12-20\n"
                         "description = 库\n"
                         "mode = 2026年12月信息价.zdj\n"
                         "local = 下载/12月.zdj\n"
                         "[group 网页]\n"
                         "[file]\n"
                         "source = src/网页.zip\n"
                         "name = 网页\n"
                         "date = 2026-12-20\n"
                         "mode = 解压\n"
                         "folder = web\n");
  const Result r = publishTool({"publish", "-s", q(s / "k.sec"), "--password-file", q(s / "pw"), q(s / "release.txt"),
                                q(s / "out")});
  ASSERT_EQ(r.code, 0) << r.out;
  // The list exactly as Quennar reads it.
  const std::string list = testsupport::readFile(s / "out/list.ini");
  const auto items = common::readItems(common::fromCp936(list), 100);
  ASSERT_GE(items.size(), 9u);
  EXPECT_EQ(items[0], "版本=V2.6");
  EXPECT_EQ(list.substr(0, list.find('\n') + 1), testsupport::gbk("\"版本=V2.6\"\r\n"));
  EXPECT_NE(std::find(items.begin(), items.end(), "定制=网页"), items.end());
  EXPECT_NE(std::find(items.begin(), items.end(), "[网页"), items.end());
  // Every file is served under its address.
  for (const auto& e : fs::recursive_directory_iterator(s / "out")) {
    if (!e.is_regular_file()) continue;
    const std::string rel = fs::relative(e.path(), s / "out").string();
    QByteArray encoded = QByteArray::fromStdString(rel).toPercentEncoding("/");
    testhttp::Route route;
    route.filePath = e.path().string();
    server.set("/release/" + encoded.toStdString(), route);
  }
  std::string pub = testsupport::readFile(s / "k.pub");
  pub = pub.substr(pub.find('\n') + 1);
  pub = pub.substr(0, pub.find('\n'));
  EXPECT_TRUE(common::writeItemFile(folder / kSettingsFile, {"t", "velmora", server.url("/release/list.ini"), "网页", pub}));
  std::vector<std::string> problems;
  ASSERT_TRUE(runQuennar(&problems));
  EXPECT_TRUE(problems.empty()) << problems.front();
  EXPECT_EQ(testsupport::readFile(folder / "web/new.htm"), "<p>网页</p>");
  EXPECT_EQ(testsupport::readFile(folder / "2026年12月信息价.zdj"), std::string(5000, 'z'));
  const auto log = common::readItemFile(folder / kLogFile, 3).value();
  EXPECT_EQ(log[0], "v2.6");
  EXPECT_NE(log[2].find("网页\\2026-12-20|"), std::string::npos);
  EXPECT_NE(log[2].find("十二月信息价\\2026-12-20|"), std::string::npos);
  EXPECT_EQ(common::readItemFile(folder / kSettingsFile, 5).value()[4], pub);
}

// The tool refuses a release Quennar would refuse or misread, and writes
// nothing for it.
TEST(QuennarPublish, ReleasesQuennarWouldRefuseAreRefused) {
  Scratch s;
  ASSERT_EQ(publishTool({"keygen", "-W", q(s / "k.sec"), q(s / "k.pub")}).code, 0);
  testsupport::writeFile(s / "a.dat", "a");
  auto release = [](const std::string& file) {
    return "version = V1.1\ndate = 2026-12-20\nbase = http://127.0.0.1:9/\n[file]\nsource = a.dat\ndate = 2026-12-20\n" +
           file;
  };
  const std::string good = "name = a\nmode = data\\a.dat\n";
  testsupport::writeFile(s / "good.txt", release(good));
  ASSERT_EQ(publishTool({"publish", "-s", q(s / "k.sec"), q(s / "good.txt"), q(s / "out-good")}).code, 0);
  std::vector<std::string> bad;
  for (const char* c : {"=", "{", ",", "|", "\"", ";"}) {
    bad.push_back("name = a" + std::string(c) + "b\nmode = data\\a.dat\n");
    bad.push_back("name = a\nlocal = a" + std::string(c) + "b.dat\nmode = data\\a.dat\n");
    bad.push_back("name = a\nmode = data\\a" + std::string(c) + ".dat\n");
  }
  for (const char* target : {"..\\a.dat", "../a.dat", "/etc/a.dat", "\\\\server\\a.dat", "C:\\a.dat", "data\\..\\..\\a"})
    bad.push_back("name = a\nmode = " + std::string(target) + "\n");
  bad.push_back("name = a\nlocal = ../a.dat\nmode = 运行\n");
  bad.push_back("name = a\nmode = 解压\nfolder = ..\\web\n");
  for (const char* own : {"upset.ini", "Quennar.ini", "QUENNAR.LOG", "reset.ini", "up.ini", "Quennar"}) {
    bad.push_back("name = a\nmode = " + std::string(own) + "\n");
    bad.push_back("name = a\nlocal = " + std::string(own) + "\nmode = 运行\n");
  }
  bad.push_back("name = 𝔸\nmode = data\\a.dat\n");  // not in GBK
  bad.push_back("mode = data\\a.dat\n");            // no name
  int n = 0;
  for (const auto& file : bad) {
    SCOPED_TRACE(file);
    const std::string path = s / ("bad" + std::to_string(++n) + ".txt");
    testsupport::writeFile(path, release(file));
    const Result r = publishTool({"publish", "-s", q(s / "k.sec"), q(path), q(s / ("out" + std::to_string(n)))});
    EXPECT_EQ(r.code, 1) << r.out;
    EXPECT_NE(r.out.find("refused"), std::string::npos) << r.out;
    EXPECT_FALSE(fs::exists(s / ("out" + std::to_string(n))));
  }
  // Version and notes that the list cannot carry.
  for (const std::string head : {"version = V1 .1\n", "version = V1,1\n", "version = V1.1\nnote = a=b\n"}) {
    const std::string path = s / "head.txt";
    testsupport::writeFile(path, head + "date = 2026-12-20\nbase = http://127.0.0.1:9/\n[file]\nsource = a.dat\n"
                                        "name = a\ndate = 2026-12-20\nmode = data\\a.dat\n");
    EXPECT_EQ(publishTool({"publish", "-s", q(s / "k.sec"), q(path), q(s / "out-head")}).code, 1) << head;
  }
}
