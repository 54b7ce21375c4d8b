#include "common/log.h"

#include <exception>
#include <string>

namespace common {

// Info is below the default threshold, so skipped steps stay quiet until asked for.
Q_LOGGING_CATEGORY(logSkip, "velmora.skip", QtWarningMsg)
Q_LOGGING_CATEGORY(logUpdater, "velmora.updater", QtWarningMsg)

void logDroppedStep(const char* step) noexcept {
  try {
    const char* why = "a failure that is no std::exception";
    std::string text;
    try {
      throw;
    } catch (const std::exception& e) {
      text = e.what();
      why = text.c_str();
    } catch (...) {
    }
    qCInfo(logSkip, "%s dropped: %s", step ? step : "(unnamed step)", why);
  } catch (...) {
    // Logging must not turn a skipped step into a failing one.
  }
}

}  // namespace common
