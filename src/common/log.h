#pragma once
// The programs' diagnostic categories, one family under "velmora.":
//
//   velmora.skip     a step run under skip-on-error that failed and was dropped
//                    (info level; off unless switched on)
//   velmora.updater  the updater's notes on what it refused or could not do
//                    (warning level; on, as the notes always were)
//
// Switched with Qt's logging rules, e.g.
//   QT_LOGGING_RULES="velmora.*=true"           everything of the family
//   QT_LOGGING_RULES="velmora.updater=false"    the updater silent
// A category that is off costs a test of a flag; its message is never built.
#include <QLoggingCategory>

namespace common {

const QLoggingCategory& logSkip();
const QLoggingCategory& logUpdater();

// Writes "step dropped: <failure>" to velmora.skip for the exception being
// handled (its what() for a std::exception). Call only inside a catch block.
// Never throws.
void logDroppedStep(const char* step) noexcept;

}  // namespace common
