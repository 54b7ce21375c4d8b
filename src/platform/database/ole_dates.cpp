#include <cmath>
#include <cstdint>
#include <cstdio>

#include "common/dates.h"
#include "platform/database/jet_database.h"

// Jet's dates are numbers of days since 1899-12-30, the time of day the
// fraction (of the day's magnitude for dates before that day).

namespace ado {

using common::daysFromCivil;

DateParts oleDateParts(double ole) {
  DateParts p{1899, 12, 30, 0, 0, 0, 0};
  if (!std::isfinite(ole) || ole > 2958466.0 || ole < -657435.0) return p;
  double whole = std::trunc(ole);
  double frac = std::fabs(ole - whole);
  int64_t ms = int64_t(std::llround(frac * 86400000.0));
  int64_t days = int64_t(whole);
  if (ms >= 86400000) {
    ms -= 86400000;
    days += (ole < 0 ? -1 : 1);
  }
  // civil from days since 1970-01-01
  int64_t z = days + daysFromCivil(1899, 12, 30) + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = unsigned(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t y = int64_t(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  p.year = int(y + (m <= 2));
  p.month = int(m);
  p.day = int(d);
  p.hour = int(ms / 3600000);
  p.minute = int(ms / 60000 % 60);
  p.second = int(ms / 1000 % 60);
  p.millisecond = int(ms % 1000);
  return p;
}

std::string oleDateToIso(double ole) {
  DateParts p = oleDateParts(ole);
  char buf[48];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", p.year, p.month, p.day,
                p.hour, p.minute, p.second, p.millisecond);
  return buf;
}
}  // namespace ado
