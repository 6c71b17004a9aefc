// Date and time formatting from the UTC calendar block of a vk::time.
//
// These run several times for every record of every input file, so the
// common layouts are written digit by digit into a small buffer: no stream,
// locale or regular expression is built per call. The one locale-dependent
// form keeps its locale and stream for the life of the thread.
#include <cstring>
#include <iterator>
#include <locale>
#include <ostream>
#include <sstream>
#include <string_view>

#include "foundation/vk_env.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_numtext.h"
#include "foundation/vk_time.h"
#include "foundation/vk_unicode.h"

namespace vk {

namespace {

constexpr uint64_t k_pow10[] = {1,      10,      100,      1000,      10000,
                                100000, 1000000, 10000000, 100000000, 1000000000};

// Room for any date or time this file writes (the widest is a 20-digit
// number with separators).
constexpr size_t k_buffer_size = 64;

constexpr char k_pairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// A fixed buffer filled left to right.
class text_buffer {
 public:
  text_buffer() : m_text(m_own) {}
  // Fills the caller's array instead of its own.
  explicit text_buffer(char (&into)[k_buffer_size]) : m_text(into) {}
  text_buffer(const text_buffer&) = delete;
  text_buffer& operator=(const text_buffer&) = delete;

  // v in decimal, zero-filled to at least width digits. Two digits at a
  // time: every date and clock field goes through here.
  void number(uint64_t v, int width) {
    if (m_size + 4 <= k_buffer_size) {
      if (width == 2 && v < 100) {
        std::memcpy(m_text + m_size, k_pairs + 2 * v, 2);
        m_size += 2;
        return;
      }
      if (width == 3 && v < 1000) {  // milliseconds
        m_text[m_size] = static_cast<char>('0' + v / 100);
        std::memcpy(m_text + m_size + 1, k_pairs + 2 * (v % 100), 2);
        m_size += 3;
        return;
      }
      if (width == 4 && v < 10000) {  // years
        std::memcpy(m_text + m_size, k_pairs + 2 * (v / 100), 2);
        std::memcpy(m_text + m_size + 2, k_pairs + 2 * (v % 100), 2);
        m_size += 4;
        return;
      }
    }
    char digits[24];
    int n = 24;
    while (v >= 100) {
      const char* pair = k_pairs + 2 * (v % 100);
      digits[--n] = pair[1];
      digits[--n] = pair[0];
      v /= 100;
    }
    if (v >= 10) {
      digits[--n] = k_pairs[2 * v + 1];
      digits[--n] = k_pairs[2 * v];
    } else {
      digits[--n] = static_cast<char>('0' + v);
    }
    const size_t length = static_cast<size_t>(24 - n);
    const size_t zeros =
        width > 0 && static_cast<size_t>(width) > length ? static_cast<size_t>(width) - length : 0;
    if (m_size + zeros + length > k_buffer_size) {
      for (size_t i = 0; i < zeros; ++i) put('0');
      for (int i = n; i < 24; ++i) put(digits[i]);
      return;
    }
    for (size_t i = 0; i < zeros; ++i) m_text[m_size++] = '0';
    std::memcpy(m_text + m_size, digits + n, length);
    m_size += length;
  }
  void put(char c) {
    if (m_size < k_buffer_size) m_text[m_size++] = c;
  }
  void text(std::string_view s) {
    for (char c : s) put(c);
  }
  // A separator byte of 0 writes nothing.
  void separator(char c) {
    if (c != 0) put(c);
  }
  std::string_view view() const { return {m_text, m_size}; }
  void assign_to(std::string& out) const { out.assign(m_text, m_size); }
  size_t size() const { return m_size; }

 private:
  char m_own[k_buffer_size];
  char* m_text;
  size_t m_size = 0;
};

// "." and the first digits of the sub-second part; digits above 9 write
// nothing, 0 writes nothing.
void put_fraction(text_buffer& b, const time& t, unsigned digits) {
  if (digits == 0 || digits > 9) return;
  b.put('.');
  if (digits == 3) {
    b.number(time_milliseconds(t, false), 3);
  } else if (digits <= 6) {
    b.number(time_microseconds(t, false) / k_pow10[6 - digits], static_cast<int>(digits));
  } else {
    b.number(time_nanoseconds(t) / k_pow10[9 - digits], static_cast<int>(digits));
  }
}

void put_clock(text_buffer& b, const time& t) {
  b.number(time_hour(t), 2);
  b.put(':');
  b.number(time_minute(t), 2);
  b.put(':');
  b.number(time_second(t), 2);
}

// The localised date writer: the locale is chosen and built once; a locale
// that cannot be constructed falls back to the classic one.
class locale_date_writer {
 public:
  locale_date_writer() {
    vk::guarded(
        [&] {
          std::string name;
          if (!pick_time_locale(name)) return;
          std::locale loc = std::locale::classic();
          vk::guarded([&] { loc = std::locale(name.c_str()); });
          m_stream.imbue(loc);
          m_facet = &std::use_facet<std::time_put<char>>(m_stream.getloc());
          m_ready = true;
        },
        [&] { m_ready = false; });
  }

  // False when no time locale is available; the caller then writes the
  // plain form.
  bool write(const time& t, std::string& date) {
    if (!m_ready) return false;
    return vk::guarded(
        [&] {
          struct tm fields {};
          fields.tm_mon = time_month(t) - 1;
          fields.tm_mday = time_day(t);
          fields.tm_year = time_year(t) - 1900;
          fields.tm_hour = time_hour(t);
          fields.tm_min = time_minute(t);
          fields.tm_sec = time_second(t);
          m_stream.str(std::string());
          m_stream.clear();
          m_facet->put(std::ostreambuf_iterator<char>(m_stream), m_stream, ' ', &fields, 'x');
          date = m_stream.str();
          return true;
        },
        [&] {
          date.clear();
          return false;
        });
  }

 private:
  std::ostringstream m_stream;
  const std::time_put<char>* m_facet = nullptr;
  bool m_ready = false;
};

bool localised_date(const time& t, std::string& date) {
  return vk::guarded([&] {
    // A cache of constant data: the locale's date form, made once a thread.
    thread_local locale_date_writer writer;
    return writer.write(t, date);
  });
}

bool contains(std::string_view s, std::string_view what) {
  return s.find(what) != std::string_view::npos;
}

void template_date(text_buffer& b, const time& t, std::string_view tpl) {
  char sep = 0;
  bool blank_separated = false;
  if (contains(tpl, "/")) {
    sep = '/';
  } else if (contains(tpl, "-")) {
    sep = '-';
  } else if (contains(tpl, " ")) {
    sep = ' ';
    blank_separated = true;
  }
  const size_t pos_yy = tpl.find("yy");
  const size_t pos_mm = tpl.find("mm");
  const size_t pos_dd = tpl.find("dd");
  const size_t pos_mmm = tpl.find("mmm");
  constexpr size_t npos = std::string_view::npos;

  text_buffer month;
  if (pos_mmm != npos) {
    month.text(month_abbrev(time_month(t)));
  } else {
    month.number(time_month(t), 2);
  }
  const size_t pos_month = pos_mmm != npos ? pos_mmm : pos_mm;
  const bool comma = blank_separated && pos_month != npos && pos_dd != npos && pos_month < pos_dd &&
                     tpl.find(',', pos_dd) != npos;
  text_buffer day;
  day.number(time_day(t), 2);
  text_buffer year_full;
  year_full.number(time_year(t), 4);
  std::string_view year = year_full.view();
  if (!contains(tpl, "yyyy") && pos_yy != npos) year.remove_prefix(2);

  if (pos_yy == npos || pos_mm == npos || pos_dd == npos) {
    b.text(month.view());
    b.put('/');
    b.text(day.view());
    b.put('/');
    b.text(year);
    return;
  }
  text_buffer month_day;
  if (pos_mm < pos_dd) {
    month_day.text(month.view());
    month_day.separator(sep);
    month_day.text(day.view());
    if (comma) month_day.put(',');
  } else {
    month_day.text(day.view());
    month_day.separator(sep);
    month_day.text(month.view());
  }
  if (pos_yy == 0) {
    b.text(year);
    b.separator(sep);
    b.text(month_day.view());
  } else {
    b.text(month_day.view());
    b.separator(sep);
    b.text(year);
  }
}

void template_time(text_buffer& b, const time& t, std::string_view tpl) {
  if (contains(tpl, "hh:mm")) {
    b.number(time_hour(t), 2);
    b.put(':');
    b.number(time_minute(t), 2);
  }
  if (contains(tpl, "ss")) {
    b.put(':');
    b.number(time_second(t), 2);
  }
  const size_t first = tpl.find("xxx");
  if (first != std::string_view::npos) {
    const size_t digits = tpl.rfind('x') - first + 1;
    if (digits <= 9) put_fraction(b, t, static_cast<unsigned>(digits));
  }
}

bool templates_impl(std::string& date, std::string& time_text, const time& t,
                    std::string_view date_template, std::string_view time_template) {
  date.clear();
  time_text.clear();
  if (!t.m_valid) return false;
  return vk::guarded(
      [&] {
        if (!date_template.empty()) {
          text_buffer b;
          template_date(b, t, date_template);
          b.assign_to(date);
        }
        if (!time_template.empty()) {
          text_buffer b;
          template_time(b, t, time_template);
          b.assign_to(time_text);
        }
        return true;
      },
      [&] {
        date.clear();
        time_text.clear();
        return false;
      });
}

std::string yy_ms_text(const time& t) {
  if (!t.m_valid) return "0000-00-00 00:00:00";
  std::string date;
  std::string time_text;
  format_date_time(date, time_text, t, true, true, false, false);
  return date + ' ' + time_text;
}

}  // namespace

bool time_in_year_range(const time& t, const time_format_settings& settings) {
  return t.m_valid && time_year(t) >= settings.m_min_year && time_year(t) <= settings.m_max_year;
}

void format_date_time(std::string& date, std::string& time_text, const time& t, bool subseconds,
                      bool two_digit_year, bool use_locale, bool nanoseconds) {
  date.clear();
  time_text.clear();
  if (!t.m_valid) return;
  vk::guarded(
      [&] {
        if (!use_locale || !localised_date(t, date)) {
          text_buffer b;
          const unsigned year = time_year(t);
          if (two_digit_year) {
            b.number(year >= 2000 ? year - 2000 : year - 1900, 2);
          } else {
            b.number(year, 4);
          }
          b.put('-');
          b.number(time_month(t), 2);
          b.put('-');
          b.number(time_day(t), 2);
          b.assign_to(date);
        }
        text_buffer b;
        put_clock(b, t);
        if (subseconds) put_fraction(b, t, nanoseconds ? 9 : 3);
        b.assign_to(time_text);
      },
      [&] {
        date.clear();
        time_text.clear();
      });
}

void format_date_time_ms(std::string& date, std::string& time_text, const time& t,
                         bool use_locale) {
  format_date_time(date, time_text, t, true, false, use_locale, false);
}

void format_date_time_sec(std::string& date, std::string& time_text, const time& t,
                          bool use_locale) {
  format_date_time(date, time_text, t, false, false, use_locale, false);
}

void write_date_time(std::ostream& os, const time& t) {
  vk::guarded([&] {
    std::string line;
    append_date_time(line, t);
    os.write(line.data(), static_cast<std::streamsize>(line.size()));
  });
}

void write_date_time_yy_ms(std::ostream& os, const time& t) {
  vk::guarded([&] {
    const std::string line = yy_ms_text(t);
    os.write(line.data(), static_cast<std::streamsize>(line.size()));
  });
}

void append_date_time(std::string& out, const time& t) {
  vk::guarded([&] {
    std::string date;
    std::string time_text;
    format_date_time_ms(date, time_text, t, false);
    out.append(date).append(1, ' ').append(time_text);
  });
}

void format_date_time_wide(std::wstring& date, std::wstring& time_text, const time& t,
                           bool use_locale) {
  date.clear();
  time_text.clear();
  vk::guarded(
      [&] {
        std::string d;
        std::string tm_text;
        format_date_time_ms(d, tm_text, t, use_locale);
        date = from_utf8(d);
        time_text = from_utf8(tm_text);
      },
      [&] {
        date.clear();
        time_text.clear();
      });
}

bool format_with_templates(std::string& date, std::string& time_text, const time& t,
                           const std::string& date_template, const std::string& time_template) {
  return templates_impl(date, time_text, t, date_template, time_template);
}

bool format_with_template_texts(std::string& date, std::string& time_text, const time& t,
                                const char* date_template, const char* time_template) {
  if (date_template != nullptr && time_template != nullptr) {
    return templates_impl(date, time_text, t, date_template, time_template);
  }
  format_date_time_ms(date, time_text, t, false);
  return true;
}

bool format_without_subseconds(std::string& date, std::string& time_text, const time& t,
                               const std::string& date_template, const std::string& time_template) {
  const bool ok = templates_impl(date, time_text, t, date_template, time_template);
  const size_t dot = time_text.find('.');
  if (dot != std::string::npos) time_text.erase(dot);
  return ok;
}

namespace {

// The UTC fields a layout prints, from a time value or straight from ticks.
struct clock_parts {
  uint32_t year = 0;
  uint32_t month = 0;
  uint32_t day = 0;
  uint32_t hour = 0;
  uint32_t minute = 0;
  uint32_t second = 0;
  uint64_t fraction = 0;  // sub-second ticks (100 ns)
};

clock_parts parts_of(const time& t) {
  clock_parts p;
  p.year = time_year(t);
  p.month = time_month(t);
  p.day = time_day(t);
  p.hour = time_hour(t);
  p.minute = time_minute(t);
  p.second = time_second(t);
  p.fraction = t.m_calendar.m_nanoseconds / 100;
  return p;
}

// The date by the layout's order, month form and year form; a month name in
// year-month-day order has no layout and writes nothing.
void layout_date(text_buffer& b, const clock_parts& p, const time_format_descriptor& d) {
  using td = time_format_descriptor;
  const uint8_t f = d.m_date_flags;
  const char sep = static_cast<char>(d.m_separator);
  auto month = [&] {
    if (f & td::month_digits) {
      b.number(p.month, 2);
    } else {
      b.text(month_abbrev(static_cast<int>(p.month)));
    }
  };
  auto year = [&] {
    if (f & td::year_four) {
      b.number(p.year, 4);
    } else {
      b.number(p.year % 100, 2);
    }
  };
  if (f & td::order_mdy) {
    month();
    b.separator(sep);
    b.number(p.day, 2);
    b.separator(sep);
    year();
  } else if (f & td::order_dmy) {
    b.number(p.day, 2);
    b.separator(sep);
    month();
    b.separator(sep);
    year();
  } else if ((f & td::order_ymd) && (f & td::month_digits)) {
    year();
    b.separator(sep);
    month();
    b.separator(sep);
    b.number(p.day, 2);
  }
}

// hh:mm:ss and the layout's sub-second digits (digits above 9 write none).
void layout_clock(text_buffer& b, const clock_parts& p, unsigned digits) {
  b.number(p.hour, 2);
  b.put(':');
  b.number(p.minute, 2);
  b.put(':');
  b.number(p.second, 2);
  if (digits == 0 || digits > 9) return;
  b.put('.');
  const uint64_t nanoseconds = p.fraction * 100;
  b.number(nanoseconds / k_pow10[9 - digits], static_cast<int>(digits));
}

// The layout a zero descriptor stands for: yyyy-mm-dd hh:mm:ss.xxx.
constexpr time_format_descriptor k_default_layout{'-',
                                                  time_format_descriptor::order_ymd |
                                                      time_format_descriptor::month_digits |
                                                      time_format_descriptor::year_four,
                                                  3 << 1, 0};

constexpr uint64_t k_ticks_per_day = 864000000000ULL;
// Days from 1601-01-01 to 0000-03-01 of the proleptic calendar, negated.
constexpr int64_t k_days_0000_03_01_to_1601 = 584694;

struct civil_date {
  uint32_t year, month, day;
};

// The civil date of a day count from 1601-01-01 below 2^32 - 584694 (any
// tick count below 2^63 gives one), in 400-year eras counted from March 1
// so that the leap day ends a year.
civil_date civil_of_days(uint64_t days) {
  const auto z = static_cast<uint32_t>(days + k_days_0000_03_01_to_1601);
  const uint32_t era = z / 146097;
  const uint32_t doe = z - era * 146097;
  const uint32_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const uint32_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const uint32_t mp = (5 * doy + 2) / 153;
  civil_date c;
  c.day = doy - (153 * mp + 2) / 5 + 1;
  c.month = mp < 10 ? mp + 3 : mp - 9;
  c.year = yoe + era * 400 + (c.month <= 2 ? 1 : 0);
  return c;
}

// Ticks below 2^63 to UTC fields in closed form.
clock_parts parts_of_ticks(uint64_t ticks) {
  clock_parts p;
  const uint64_t days = ticks / k_ticks_per_day;
  const uint64_t in_day = ticks % k_ticks_per_day;
  const uint64_t seconds = in_day / k_ticks_per_second;
  p.fraction = in_day % k_ticks_per_second;
  p.hour = static_cast<uint32_t>(seconds / 3600);
  p.minute = static_cast<uint32_t>(seconds / 60 % 60);
  p.second = static_cast<uint32_t>(seconds % 60);
  const civil_date c = civil_of_days(days);
  p.year = c.year;
  p.month = c.month;
  p.day = c.day;
  return p;
}

// Where each field of a layout's "<date> <clock>" text goes: every field has
// a fixed width (years 1900 to 9999), so the separators are laid once in a
// pattern and each text is the pattern with its digits written in place.
// The pattern with the dates of the last two days asked for is kept too: the times
// of a record are mostly of a few days.
struct filetime_shape {
  uint32_t key = 0;
  bool made = false;
  bool year_four = false;
  bool month_name = false;
  uint8_t date_size = 0;  // 0: the layout gives no date
  uint8_t size = 0;
  uint8_t year_at = 0, month_at = 0, day_at = 0, clock_at = 0;
  uint8_t fraction_digits = 0;
  uint32_t fraction_divisor = 1;  // nanoseconds to the shown digits
  char pattern[k_filetime_text_room] = {};
  // The pattern with a day's date in place, for the last two days asked for.
  struct dated_day {
    uint64_t day = ~uint64_t{0};
    uint32_t year = 0;
    char text[k_filetime_text_room] = {};
  };
  dated_day days[2];
  uint8_t replace = 0;  // the slot a new day goes to
};

filetime_shape shape_of(const time_format_descriptor& given) {
  using td = time_format_descriptor;
  const time_format_descriptor& d = given.is_zero() ? k_default_layout : given;
  filetime_shape s;
  s.key = given.as_u32();
  s.made = true;
  const uint8_t f = d.m_date_flags;
  s.year_four = (f & td::year_four) != 0;
  s.month_name = (f & td::month_digits) == 0;
  uint8_t n = 0;
  auto separator = [&] {
    if (d.m_separator != 0) s.pattern[n++] = static_cast<char>(d.m_separator);
  };
  auto month = [&] {
    s.month_at = n;
    n += s.month_name ? 3 : 2;
  };
  auto year = [&] {
    s.year_at = n;
    n += s.year_four ? 4 : 2;
  };
  auto day = [&] {
    s.day_at = n;
    n += 2;
  };
  if (f & td::order_mdy) {
    month(), separator(), day(), separator(), year();
  } else if (f & td::order_dmy) {
    day(), separator(), month(), separator(), year();
  } else if ((f & td::order_ymd) && (f & td::month_digits)) {
    year(), separator(), month(), separator(), day();
  } else {
    return s;  // no date: nothing is written
  }
  s.date_size = n;
  s.pattern[n++] = ' ';
  s.clock_at = n;
  s.pattern[n + 2] = s.pattern[n + 5] = ':';
  n += 8;
  const unsigned digits = d.subsecond_digits();
  if (digits != 0 && digits <= 9) {
    s.pattern[n++] = '.';
    s.fraction_digits = static_cast<uint8_t>(digits);
    s.fraction_divisor = static_cast<uint32_t>(k_pow10[9 - digits]);
    n += static_cast<uint8_t>(digits);
  }
  s.size = n;
  return s;
}

// The shapes of the two layouts last asked for: a run keeps one layout, and
// its rows show some times without sub-seconds.
struct kept_shapes {
  filetime_shape shapes[2];
  uint8_t next = 0;
};
// A cache of constant data: each shape is what its layout key alone gives.
thread_local kept_shapes t_kept_shapes;

[[gnu::noinline]] filetime_shape& new_shape(const time_format_descriptor& d) {
  kept_shapes& kept = t_kept_shapes;
  filetime_shape& s = kept.shapes[kept.next];
  kept.next ^= 1;
  s = shape_of(d);
  return s;
}

// The kept shape looked up where it is asked for; made apart.
inline filetime_shape& shape_for(const time_format_descriptor& d) {
  filetime_shape* const shapes = t_kept_shapes.shapes;
  const uint32_t key = d.as_u32();
  if (shapes[0].made && shapes[0].key == key) return shapes[0];
  if (shapes[1].made && shapes[1].key == key) return shapes[1];
  return new_shape(d);
}

void put_pair(char* at, uint32_t v) {
  std::memcpy(at, k_pairs + 2 * v, 2);
}

// The pattern with the date of `days` in place (for a year below 10000),
// made when neither kept day is that day.
const filetime_shape::dated_day& date_for(filetime_shape& s, uint64_t days) {
  if (days == s.days[0].day) return s.days[0];
  if (days == s.days[1].day) return s.days[1];
  filetime_shape::dated_day& d = s.days[s.replace];
  s.replace ^= 1;
  const civil_date c = civil_of_days(days);
  d.day = days;
  d.year = c.year;
  if (c.year > 9999) return d;
  char* at = d.text;
  std::memcpy(at, s.pattern, sizeof s.pattern);
  if (s.year_four) {
    put_pair(at + s.year_at, c.year / 100);
    put_pair(at + s.year_at + 2, c.year % 100);
  } else {
    put_pair(at + s.year_at, c.year % 100);
  }
  if (s.month_name)
    std::memcpy(at + s.month_at, month_abbrev(static_cast<int>(c.month)), 3);
  else
    put_pair(at + s.month_at, c.month);
  put_pair(at + s.day_at, c.day);
  return d;
}

// The text of ticks on the day `d` holds, at `at` with room for the whole
// pattern; returns the end.
[[gnu::always_inline]] inline char* put_dated(char* at, uint64_t ticks, const filetime_shape& s,
                                              const filetime_shape::dated_day& d) {
  std::memcpy(at, d.text, sizeof d.text);
  const uint64_t in_day = ticks - d.day * k_ticks_per_day;
  const auto seconds = static_cast<uint32_t>(in_day / k_ticks_per_second);
  const uint32_t hour = seconds / 3600;
  const uint32_t rest = seconds - hour * 3600;
  const uint32_t minute = rest / 60;
  char* clock = at + s.clock_at;
  put_pair(clock, hour);
  put_pair(clock + 3, minute);
  put_pair(clock + 6, rest - minute * 60);
  if (s.fraction_digits != 0) {
    // The sub-second digits, truncated, last first.
    const auto fraction = static_cast<uint32_t>(in_day - uint64_t{seconds} * k_ticks_per_second);
    uint32_t v = fraction * 100 / s.fraction_divisor;
    if (s.fraction_digits == 3) {  // milliseconds, the usual layout
      clock[9] = static_cast<char>('0' + v / 100);
      put_pair(clock + 10, v % 100);
      return at + s.size;
    }
    char* q = clock + 9 + s.fraction_digits;
    for (unsigned i = s.fraction_digits; i >= 2; i -= 2) {
      q -= 2;
      put_pair(q, v % 100);
      v /= 100;
    }
    if (s.fraction_digits & 1) *--q = static_cast<char>('0' + v);
  }
  return at + s.size;
}

}  // namespace

bool format_time_by_descriptor(std::string& date, std::string& time_text, const time& t,
                               const time_format_descriptor& d) {
  date.clear();
  time_text.clear();
  if (!t.m_valid) return false;
  if (d.is_zero()) {
    templates_impl(date, time_text, t, "yyyy-mm-dd", "hh:mm:ss.xxx");
    return false;
  }
  return vk::guarded(
      [&] {
        const clock_parts p = parts_of(t);
        text_buffer b;
        layout_date(b, p, d);
        b.assign_to(date);
        text_buffer c;
        layout_clock(c, p, d.subsecond_digits());
        c.assign_to(time_text);
        return true;
      },
      [&] {
        date.clear();
        time_text.clear();
        return false;
      });
}

namespace {

// Valid as a time value and printable: not 0, within the signed range, not
// within the first second of 1970 (unix seconds 0 means unset).
bool plausible_ticks(uint64_t ticks) {
  if (ticks == 0 || (ticks >> 63) != 0) return false;
  return !(ticks >= k_unix_epoch_ticks && ticks - k_unix_epoch_ticks < k_ticks_per_second);
}

}  // namespace

bool filetime_printable(uint64_t ticks) {
  // Days from 1601-01-01 to 1900-01-01 and to 3001-01-01.
  constexpr uint64_t k_first_day = 109207, k_end_day = 511339;
  return plausible_ticks(ticks) && ticks / k_ticks_per_day - k_first_day < k_end_day - k_first_day;
}

char* put_filetime_text(char* at, uint64_t ticks, const time_format_descriptor& d) {
  if (!filetime_printable(ticks)) return at;
  filetime_shape& s = shape_for(d);
  if (s.date_size == 0) return at;
  return put_dated(at, ticks, s, date_for(s, ticks / k_ticks_per_day));
}

bool append_filetime_text(std::string& out, uint64_t ticks, const time_format_descriptor& d) {
  char text[k_filetime_text_room];
  const char* end = put_filetime_text(text, ticks, d);
  if (end == text) return false;
  return vk::guarded([&] {
    out.append(text, static_cast<size_t>(end - text));
    return true;
  });
}

bool filetime_date_clock(filetime_texts& out, uint64_t ticks, const time_format_descriptor& d) {
  out.m_date_size = out.m_clock_size = 0;
  // The validity of a time value: from 1900 on; past 3000 the value decides.
  if (!plausible_ticks(ticks)) return false;
  filetime_shape& s = shape_for(d);
  const filetime_shape::dated_day& day = date_for(s, ticks / k_ticks_per_day);
  const uint32_t year = day.year;
  if (year < 1900) return false;
  if (year > 3000 && !time(ticks, type_time::filetime).valid()) return false;
  static_assert(sizeof(out.m_date) == k_buffer_size && sizeof(out.m_clock) == k_buffer_size);
  if (year <= 9999 && s.date_size != 0) {
    // Whole blocks of the pattern's room are copied: no count to follow.
    char text[2 * k_filetime_text_room];
    put_dated(text, ticks, s, day);
    static_assert(sizeof(out.m_date) >= k_filetime_text_room);
    std::memcpy(out.m_date, text, k_filetime_text_room);
    out.m_date_size = s.date_size;
    std::memcpy(out.m_clock, text + s.clock_at, k_filetime_text_room);
    out.m_clock_size = static_cast<uint8_t>(s.size - s.clock_at);
    return true;
  }
  const time_format_descriptor& layout = d.is_zero() ? k_default_layout : d;
  const clock_parts p = parts_of_ticks(ticks);
  text_buffer date(out.m_date);
  layout_date(date, p, layout);
  out.m_date_size = static_cast<uint8_t>(date.size());
  text_buffer clock(out.m_clock);
  layout_clock(clock, p, layout.subsecond_digits());
  out.m_clock_size = static_cast<uint8_t>(clock.size());
  return true;
}

bool format_time_by_descriptor(std::string& date, std::string& time_text, const time& t,
                               const time_format_settings& settings) {
  return format_time_by_descriptor(date, time_text, t, settings.m_descriptor);
}

void write_time_by_descriptor(std::ostream& os, const time& t, time_format_settings& settings) {
  vk::guarded([&] {
    if (settings.m_descriptor.is_zero()) {
      build_time_format_settings(settings, "yyyy-mm-dd", "hh:mm:ss.xxx", true);
    }
    std::string date;
    std::string time_text;
    format_time_by_descriptor(date, time_text, t, settings.m_descriptor);
    date.append(1, ' ').append(time_text);
    os.write(date.data(), static_cast<std::streamsize>(date.size()));
  });
}

bool format_time_by_settings(std::string& date, std::string& time_text, const time& t,
                             const time_format_settings& settings, int32_t utc_offset_minutes) {
  time shifted = t;
  time_add_minutes(shifted, utc_offset_minutes);
  time_format_descriptor d = settings.m_descriptor;
  d.m_time_flags &= static_cast<uint8_t>(~time_format_descriptor::subsecond_mask);
  return format_time_by_descriptor(date, time_text, shifted, d);
}

void write_filetime_line(uint64_t ticks, std::ostream& os) {
  vk::guarded([&] {
    std::string line;
    append_date_time(line, time(ticks, type_time::filetime));
    line.push_back('\n');
    os.write(line.data(), static_cast<std::streamsize>(line.size()));
  });
}

void write_filetime_yy_ms(std::ostream& os, uint64_t ticks) {
  write_date_time_yy_ms(os, time(ticks, type_time::filetime));
}

void write_filetime_yy_ms(std::wostream& os, uint64_t ticks) {
  vk::guarded([&] { os << from_utf8(yy_ms_text(time(ticks, type_time::filetime))); });
}

bool format_filetime_ns(std::string& out, uint64_t ticks) {
  out.clear();
  if (ticks == 0) return false;
  return vk::guarded(
      [&] {
        std::string date;
        std::string time_text;
        if (!templates_impl(date, time_text, time(ticks, type_time::filetime), "yyyy-mm-dd",
                            "hh:mm:ss.xxxxxxxxx")) {
          return false;
        }
        out.append(date).append(1, ' ').append(time_text);
        return true;
      },
      [&] {
        out.clear();
        return false;
      });
}

bool is_date_template(const std::string& text) {
  return text.size() == 8 || text.size() == 10;
}

bool is_time_template(const std::string& text) {
  const bool colon = text.find(':') != std::string::npos;
  if (text.size() == 8) return colon;
  return text.size() >= 12 && text.size() <= 18 && colon && text.find(".xxx") != std::string::npos;
}

}  // namespace vk
