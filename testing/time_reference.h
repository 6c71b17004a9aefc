// An independent civil-calendar reference for the time tests: days from
// 1970-01-01 by the days-from-civil algorithm (era arithmetic), with no code
// shared with the library.
#pragma once

#include <cstdint>

namespace vesk_test {

struct civil {
  int64_t year;
  unsigned month;  // 1..12
  unsigned day;    // 1..31
};

inline int64_t days_from_civil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

inline civil civil_from_days(int64_t z) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t y = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  return {y + (m <= 2), m, d};
}

// FILETIME ticks of a UTC instant.
inline uint64_t ticks_of(int64_t y, unsigned mo, unsigned d, unsigned h = 0, unsigned mi = 0,
                         unsigned s = 0, uint64_t sub_ticks = 0) {
  const int64_t days = days_from_civil(y, mo, d) - days_from_civil(1601, 1, 1);
  return static_cast<uint64_t>(((days * 24 + h) * 60 + mi) * 60 + s) * 10000000ULL + sub_ticks;
}

}  // namespace vesk_test
