// A step dropped under skip-on-error leaves a trace in velmora.skip when the
// category is switched on, and nothing at all while it is off.
#include <gtest/gtest.h>

#include <QLoggingCategory>
#include <QString>

#include <stdexcept>
#include <string>
#include <vector>

#include "data/skip_on_error.h"

namespace {

struct Captured {
  std::string category;
  QtMsgType type;
  std::string text;
};

std::vector<Captured> captured;

void capture(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  captured.push_back({context.category ? context.category : "", type, message.toStdString()});
}

// Captures every message while it lives, under the given logging rules.
struct LogCapture {
  QtMessageHandler previous;
  explicit LogCapture(const char* rules) {
    captured.clear();
    QLoggingCategory::setFilterRules(QString::fromUtf8(rules));
    previous = qInstallMessageHandler(capture);
  }
  ~LogCapture() {
    qInstallMessageHandler(previous);
    QLoggingCategory::setFilterRules(QString());
  }
};

// Counts how often its text is asked for: an off category must not ask.
struct CountingError : std::exception {
  static inline int asked = 0;
  const char* what() const noexcept override {
    ++asked;
    return "counted";
  }
};

}  // namespace

TEST(SkipOnError, DroppedStepIsLoggedByNameWhenTheCategoryIsOn) {
  LogCapture log("velmora.*=true");
  int after = 0;
  EXPECT_FALSE(data::skipOnError("layoutgrid: column list", [] { throw std::runtime_error("no such table: Gone"); }));
  EXPECT_FALSE(data::skipOnError("showpage: lookup", [] { throw 42; }));
  EXPECT_TRUE(data::skipOnError("next", [&] { ++after; }));
  EXPECT_EQ(after, 1);

  ASSERT_EQ(captured.size(), 2u);  // the step that ran to its end leaves nothing
  EXPECT_EQ(captured[0].category, "velmora.skip");
  EXPECT_EQ(captured[0].type, QtInfoMsg);
  EXPECT_EQ(captured[0].text, "layoutgrid: column list dropped: no such table: Gone");
  EXPECT_EQ(captured[1].category, "velmora.skip");
  EXPECT_NE(captured[1].text.find("showpage: lookup dropped: "), std::string::npos) << captured[1].text;
}

TEST(SkipOnError, OffByDefaultAndNothingIsBuiltWhileOff) {
  {
    LogCapture log("");
    CountingError::asked = 0;
    EXPECT_FALSE(data::skipOnError("quiet step", [] { throw CountingError(); }));
    EXPECT_TRUE(captured.empty());
    EXPECT_EQ(CountingError::asked, 0);  // the failure's text was not even read
  }
  {
    // Only the updater's notes switched on: skipped steps stay quiet.
    LogCapture log("velmora.updater=true");
    EXPECT_FALSE(data::skipOnError("quiet step", [] { throw std::runtime_error("x"); }));
    EXPECT_TRUE(captured.empty());
  }
  {
    LogCapture log("velmora.skip=true");
    CountingError::asked = 0;
    EXPECT_FALSE(data::skipOnError("counted step", [] { throw CountingError(); }));
    ASSERT_EQ(captured.size(), 1u);
    EXPECT_EQ(captured[0].text, "counted step dropped: counted");
    EXPECT_EQ(CountingError::asked, 1);
  }
}
