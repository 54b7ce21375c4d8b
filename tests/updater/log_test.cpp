// The updater's notes go to the logging category velmora.updater, shown by
// default as they always were and silenced by its rule.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QTcpServer>

#include <string>
#include <vector>

#include "common/items.h"
#include "support/test_support.h"
#include "updater/local_files.h"
#include "updater/updater_run.h"

namespace {

std::vector<std::pair<std::string, std::string>> captured;  // category, text

void capture(QtMsgType, const QMessageLogContext& context, const QString& message) {
  captured.emplace_back(context.category ? context.category : "", message.toStdString());
}

// A run whose list cannot be fetched (nothing listens on the port) notes it and ends.
std::vector<std::pair<std::string, std::string>> notesOfAFailedListFetch(const char* rules) {
  testsupport::coreApp();
  testsupport::ProgramFolder folder;
  quint16 port = 0;
  {
    QTcpServer probe;  // a port that was free a moment ago and is closed again
    probe.listen(QHostAddress::LocalHost);
    port = probe.serverPort();
  }
  const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/list.ini";
  EXPECT_TRUE(common::writeItemFile(updater::localPath(updater::kSettingsFile), {"", "", url, ""}));

  captured.clear();
  QLoggingCategory::setFilterRules(QString::fromUtf8(rules));
  const QtMessageHandler previous = qInstallMessageHandler(capture);
  {
    updater::UpdaterRun run;
    bool ended = false;
    run.setEndProgram([&] { ended = true; });
    run.setTransferTimeoutMs(3000);
    run.load();
    testsupport::spinUntil([&] { return ended; }, 20000);
    EXPECT_TRUE(ended);
    EXPECT_FALSE(run.problems().empty());
  }
  qInstallMessageHandler(previous);
  QLoggingCategory::setFilterRules(QString());
  return captured;
}

}  // namespace

TEST(UpdaterNotes, GoToTheirCategoryAndFollowItsRule) {
  const auto shown = notesOfAFailedListFetch("");
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(shown[0].first, "velmora.updater");
  EXPECT_NE(shown[0].second.find("update list not fetched"), std::string::npos) << shown[0].second;

  EXPECT_TRUE(notesOfAFailedListFetch("velmora.updater=false").empty());
}
