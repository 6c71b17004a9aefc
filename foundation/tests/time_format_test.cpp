// Date and time formatting: descriptors, templates and the fixed layouts.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <sstream>
#include <thread>
#include <vector>

#include "foundation/vk_numtext.h"
#include "foundation/vk_time.h"
#include "time_reference.h"

using vesk_test::ticks_of;

namespace {

// 2024-03-05 07:08:09.1234567 UTC.
const vk::time& sample() {
  static const vk::time t(uint64_t{133540960891234567}, vk::type_time::filetime);
  return t;
}

vk::time_format_descriptor descriptor(uint8_t sep, uint8_t date_flags, uint8_t time_flags) {
  vk::time_format_descriptor d;
  d.m_separator = sep;
  d.m_date_flags = date_flags;
  d.m_time_flags = time_flags;
  return d;
}

struct texts {
  std::string date;
  std::string time;
};

texts by_descriptor(const vk::time& t, const vk::time_format_descriptor& d,
                    bool* result = nullptr) {
  texts out{"stale", "stale"};
  const bool ok = vk::format_time_by_descriptor(out.date, out.time, t, d);
  if (result) *result = ok;
  return out;
}

texts by_templates(const vk::time& t, const std::string& date_tpl, const std::string& time_tpl) {
  texts out{"stale", "stale"};
  EXPECT_TRUE(vk::format_with_templates(out.date, out.time, t, date_tpl, time_tpl));
  return out;
}

}  // namespace

TEST(TimeFormatDescriptor, Layouts) {
  bool ok = true;
  texts t = by_descriptor(sample(), descriptor(0, 0, 0), &ok);
  EXPECT_FALSE(ok);  // the all-zero descriptor still formats the default layout
  EXPECT_EQ(t.date, "2024-03-05");
  EXPECT_EQ(t.time, "07:08:09.123");

  t = by_descriptor(sample(), descriptor('/', 0x4A, 0x0C), &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(t.date, "03/05/24");
  EXPECT_EQ(t.time, "07:08:09.123456");

  t = by_descriptor(sample(), descriptor(' ', 0x25, 0));
  EXPECT_EQ(t.date, "05 Mar 2024");
  EXPECT_EQ(t.time, "07:08:09");

  t = by_descriptor(sample(), descriptor(0, 0x86, 0));
  EXPECT_EQ(t.date, "20240305");

  t = by_descriptor(sample(), descriptor('-', 0x86, 0x07));  // pair bit and 3 digits
  EXPECT_EQ(t.date, "2024-03-05");
  EXPECT_EQ(t.time, "07:08:09.123");

  EXPECT_EQ(by_descriptor(sample(), descriptor('-', 0x45, 0)).date, "Mar-05-2024");
  EXPECT_EQ(by_descriptor(sample(), descriptor('.', 0x2A, 0)).date, "05.03.24");
  // A month name in year-month-day order, or no order at all: no date.
  EXPECT_EQ(by_descriptor(sample(), descriptor('-', 0x85, 0)).date, "");
  t = by_descriptor(sample(), descriptor('-', 0x06, 0));
  EXPECT_EQ(t.date, "");
  EXPECT_EQ(t.time, "07:08:09");
}

TEST(TimeFormatDescriptor, SubSecondDigitsTruncate) {
  const std::string expected[] = {"07:08:09",          "07:08:09.1",       "07:08:09.12",
                                  "07:08:09.123",      "07:08:09.1234",    "07:08:09.12345",
                                  "07:08:09.123456",   "07:08:09.1234567", "07:08:09.12345670",
                                  "07:08:09.123456700"};
  for (uint8_t n = 0; n <= 9; ++n) {
    EXPECT_EQ(by_descriptor(sample(), descriptor('-', 0x86, static_cast<uint8_t>(n << 1))).time,
              expected[n]);
  }
  EXPECT_EQ(by_descriptor(sample(), descriptor('-', 0x86, 0x1E)).time, "07:08:09");  // 15 digits

  const vk::time nines(ticks_of(2020, 1, 1, 0, 0, 1, 9999999), vk::type_time::filetime);
  EXPECT_EQ(by_descriptor(nines, descriptor('-', 0x86, 3 << 1)).time, "00:00:01.999");
  EXPECT_EQ(by_descriptor(nines, descriptor(0, 0, 0)).time, "00:00:01.999");
  EXPECT_EQ(by_descriptor(nines, descriptor('-', 0x86, 6 << 1)).time, "00:00:01.999999");
}

TEST(TimeFormatDescriptor, SettingsFormAndInvalidTimes) {
  vk::time_format_settings settings;
  ASSERT_TRUE(vk::build_time_format_settings(settings, "dd/mm/yyyy", "hh:mm:ss.xxxxxx", false));
  std::string date = "x";
  std::string time_text = "y";
  EXPECT_TRUE(vk::format_time_by_descriptor(date, time_text, sample(), settings));
  EXPECT_EQ(date, "05/03/2024");
  EXPECT_EQ(time_text, "07:08:09.123456");

  const vk::time invalid(uint64_t{0}, vk::type_time::filetime);
  bool ok = true;
  const texts t = by_descriptor(invalid, descriptor('/', 0x4A, 0x0C), &ok);
  EXPECT_FALSE(ok);
  EXPECT_EQ(t.date, "");
  EXPECT_EQ(t.time, "");
  EXPECT_EQ(by_descriptor(invalid, descriptor(0, 0, 0)).time, "");
}

TEST(TimeFormatTemplates, DateTemplates) {
  struct row {
    const char* tpl;
    const char* expected;
  };
  for (const row r : {row{"yyyy/mm/dd", "2024/03/05"}, row{"dd-mm-yyyy", "05-03-2024"},
                      row{"mmm dd, yyyy", "Mar 05, 2024"}, row{"dd mmm yy", "05 Mar 24"},
                      row{"yyyymmdd", "20240305"}, row{"mm/dd/yyyy", "03/05/2024"},
                      row{"yy-mm-dd", "24-03-05"}, row{"dd mmm, yyyy", "05 Mar 2024"},
                      // Without a year, month or day token: month/day/year.
                      row{"dd-mm", "03/05/2024"}, row{"mmm yyyy", "Mar/05/2024"}}) {
    SCOPED_TRACE(r.tpl);
    EXPECT_EQ(by_templates(sample(), r.tpl, "").date, r.expected);
  }
}

TEST(TimeFormatTemplates, TimeTemplates) {
  struct row {
    const char* tpl;
    const char* expected;
  };
  for (const row r :
       {row{"hh:mm", "07:08"}, row{"hh:mm:ss", "07:08:09"}, row{"ss", ":09"},
        row{"hh:mm:ss.xxx", "07:08:09.123"}, row{"hh:mm:ss.xxxx", "07:08:09.1234"},
        row{"hh:mm:ss.xxxxxx", "07:08:09.123456"}, row{"hh:mm:ss.xxxxxxx", "07:08:09.1234567"},
        row{"hh:mm:ss.xxxxxxxxx", "07:08:09.123456700"}, row{"hh:mm:ss.xxxxxxxxxx", "07:08:09"}}) {
    SCOPED_TRACE(r.tpl);
    EXPECT_EQ(by_templates(sample(), "", r.tpl).time, r.expected);
  }
  const texts t = by_templates(sample(), "", "");
  EXPECT_EQ(t.date, "");
  EXPECT_EQ(t.time, "");

  std::string date = "x";
  std::string time_text = "y";
  const vk::time invalid;
  EXPECT_FALSE(vk::format_with_templates(date, time_text, invalid, "yyyy-mm-dd", "hh:mm"));
  EXPECT_EQ(date, "");
  EXPECT_EQ(time_text, "");

  EXPECT_TRUE(
      vk::format_without_subseconds(date, time_text, sample(), "yyyymmdd", "hh:mm:ss.xxxxxx"));
  EXPECT_EQ(time_text, "07:08:09");
  EXPECT_TRUE(vk::format_with_template_texts(date, time_text, sample(), "dd mmm yy", nullptr));
  EXPECT_EQ(date, "2024-03-05");
  EXPECT_EQ(time_text, "07:08:09.123");
  EXPECT_TRUE(vk::format_with_template_texts(date, time_text, sample(), "dd mmm yy", "hh:mm"));
  EXPECT_EQ(date, "05 Mar 24");
  EXPECT_EQ(time_text, "07:08");
}

TEST(TimeFormatFixed, DateTimeLayouts) {
  std::string date;
  std::string time_text;
  vk::format_date_time_ms(date, time_text, sample(), false);
  EXPECT_EQ(date, "2024-03-05");
  EXPECT_EQ(time_text, "07:08:09.123");
  vk::format_date_time_sec(date, time_text, sample(), false);
  EXPECT_EQ(time_text, "07:08:09");
  vk::format_date_time(date, time_text, sample(), true, false, false, true);
  EXPECT_EQ(time_text, "07:08:09.123456700");

  struct row {
    uint64_t ticks;
    const char* expected;
  };
  for (const row r :
       {row{ticks_of(1999, 12, 31), "99-12-31"}, row{ticks_of(2000, 1, 1), "00-01-01"},
        row{ticks_of(2105, 1, 1), "105-01-01"}}) {
    vk::format_date_time(date, time_text, vk::time(r.ticks, vk::type_time::filetime), false, true,
                         false, false);
    EXPECT_EQ(date, r.expected);
  }

  const vk::time invalid;
  vk::format_date_time_ms(date, time_text, invalid, false);
  EXPECT_EQ(date, "");
  EXPECT_EQ(time_text, "");
}

TEST(TimeFormatFixed, MillisecondsTruncateInEveryFormatter) {
  const vk::time t(ticks_of(2020, 1, 1, 0, 0, 1, 9999000), vk::type_time::filetime);  // x.9999
  std::string date;
  std::string time_text;
  vk::format_date_time_ms(date, time_text, t, false);
  EXPECT_EQ(time_text, "00:00:01.999");
  ASSERT_TRUE(vk::format_with_templates(date, time_text, t, "yyyy-mm-dd", "hh:mm:ss.xxx"));
  EXPECT_EQ(time_text, "00:00:01.999");
  EXPECT_EQ(by_descriptor(t, descriptor('-', 0x86, 3 << 1)).time, "00:00:01.999");
  EXPECT_EQ(by_descriptor(t, descriptor(0, 0, 0)).time, "00:00:01.999");
  std::ostringstream os;
  vk::write_date_time(os, t);
  EXPECT_EQ(os.str(), "2020-01-01 00:00:01.999");
  os.str("");
  vk::write_date_time_yy_ms(os, t);
  EXPECT_EQ(os.str(), "20-01-01 00:00:01.999");
}

TEST(TimeFormatFixed, StreamWriters) {
  std::ostringstream os;
  vk::write_date_time(os, sample());
  EXPECT_EQ(os.str(), "2024-03-05 07:08:09.123");
  os.str("");
  os << std::hex;  // the number base of the stream does not matter
  vk::write_date_time(os, vk::time());
  EXPECT_EQ(os.str(), " ");
  os.str("");
  vk::write_date_time_yy_ms(os, sample());
  EXPECT_EQ(os.str(), "24-03-05 07:08:09.123");
  os.str("");
  vk::write_date_time_yy_ms(os, vk::time());
  EXPECT_EQ(os.str(), "0000-00-00 00:00:00");
  os.str("");
  vk::write_filetime_yy_ms(os, 133540960891234567ULL);
  EXPECT_EQ(os.str(), "24-03-05 07:08:09.123");
  std::wostringstream wos;
  vk::write_filetime_yy_ms(wos, 0);
  EXPECT_EQ(wos.str(), L"0000-00-00 00:00:00");
  os.str("");
  vk::write_filetime_line(133540960891234567ULL, os);
  EXPECT_EQ(os.str(), "2024-03-05 07:08:09.123\n");

  std::string line = ">";
  vk::append_date_time(line, sample());
  EXPECT_EQ(line, ">2024-03-05 07:08:09.123");
  std::wstring wdate;
  std::wstring wtime;
  vk::format_date_time_wide(wdate, wtime, sample(), false);
  EXPECT_EQ(wdate, L"2024-03-05");
  EXPECT_EQ(wtime, L"07:08:09.123");

  std::string ns;
  ASSERT_TRUE(vk::format_filetime_ns(ns, 133540960891234567ULL));
  EXPECT_EQ(ns, "2024-03-05 07:08:09.123456700");
  EXPECT_FALSE(vk::format_filetime_ns(ns, 0));
  EXPECT_EQ(ns, "");
}

TEST(TimeFormatFixed, SettingsWriters) {
  vk::time_format_settings settings;  // all-zero descriptor: built on first use
  std::ostringstream os;
  vk::write_time_by_descriptor(os, sample(), settings);
  EXPECT_EQ(os.str(), "2024-03-05 07:08:09.123");
  EXPECT_EQ(settings.m_descriptor.m_separator, '-');
  EXPECT_TRUE(settings.m_descriptor.paired());

  std::string date;
  std::string time_text;
  EXPECT_TRUE(vk::format_time_by_settings(date, time_text, sample(), settings, -8 * 60));
  EXPECT_EQ(date, "2024-03-04");
  EXPECT_EQ(time_text, "23:08:09");

  EXPECT_TRUE(vk::time_in_year_range(sample(), settings));
  settings.m_max_year = 2023;
  EXPECT_FALSE(vk::time_in_year_range(sample(), settings));
}

TEST(TimeFormatFixed, LocaleDateFallsBackToClassic) {
  // Under LANG=C.UTF-8 the locale's date form is mm/dd/yy; whatever locale is
  // chosen, the time text keeps the fixed form.
  std::string date;
  std::string time_text;
  vk::format_date_time_ms(date, time_text, sample(), true);
  EXPECT_FALSE(date.empty());
  EXPECT_EQ(time_text, "07:08:09.123");
  vk::format_date_time_ms(date, time_text, sample(), true);  // a second call reuses the stream
  EXPECT_FALSE(date.empty());
  if (std::getenv("LANG") && std::string(std::getenv("LANG")) == "C.UTF-8") {
    EXPECT_EQ(date, "03/05/24");
  }
}

TEST(TimeFormatFixed, UnbuildableLocaleGivesThePlainDate) {
  // Only C, C.UTF-8 and POSIX exist here: a named locale fails to build and
  // the date keeps its plain form. The writer is made once per thread, so a
  // new thread sees the changed environment.
  struct saved_var {
    const char* name;
    std::optional<std::string> value;
  };
  std::vector<saved_var> saved;
  for (const char* name : {"LC_ALL", "LC_TIME", "LANG"}) {
    const char* v = std::getenv(name);
    saved.push_back({name, v ? std::optional<std::string>(v) : std::nullopt});
    unsetenv(name);
  }
  setenv("LANG", "xx_YY.NOPE", 1);
  std::string date;
  std::string time_text;
  std::thread([&] { vk::format_date_time_ms(date, time_text, sample(), true); }).join();
  for (const saved_var& v : saved) {
    if (v.value) {
      setenv(v.name, v.value->c_str(), 1);
    } else {
      unsetenv(v.name);
    }
  }
  EXPECT_EQ(date, "2024-03-05");
  EXPECT_EQ(time_text, "07:08:09.123");
}

TEST(TimeFormatFixed, TemplateChecks) {
  EXPECT_TRUE(vk::is_date_template("yyyymmdd"));
  EXPECT_TRUE(vk::is_date_template("yyyy-mm-dd"));
  EXPECT_FALSE(vk::is_date_template("yy-mm-dd "));
  EXPECT_TRUE(vk::is_time_template("hh:mm:ss"));
  EXPECT_FALSE(vk::is_time_template("hhmmssxx"));
  EXPECT_TRUE(vk::is_time_template("hh:mm:ss.xxx"));
  EXPECT_TRUE(vk::is_time_template("hh:mm:ss.xxxxxxxxx"));
  EXPECT_FALSE(vk::is_time_template("hh:mm:ss.xxxxxxxxxx"));
  EXPECT_FALSE(vk::is_time_template("hh:mm:ss,xxx"));
}

// The text made straight from ticks agrees with the time value's formatter,
// whose validity and year window a report applies, for edge instants and a
// spread of others under every kind of layout.
TEST(TimeFormatTicks, AgreesWithTheTimeValue) {
  std::vector<uint64_t> ticks = {0,
                                 1,
                                 vk::k_unix_epoch_ticks - 1,
                                 vk::k_unix_epoch_ticks,
                                 vk::k_unix_epoch_ticks + vk::k_ticks_per_second - 1,
                                 vk::k_unix_epoch_ticks + vk::k_ticks_per_second,
                                 ticks_of(1900, 1, 1) - 1,
                                 ticks_of(1900, 1, 1),
                                 ticks_of(1900, 3, 1) - 1,
                                 ticks_of(2000, 2, 29, 23, 59, 59),
                                 ticks_of(2000, 3, 1),
                                 ticks_of(2100, 2, 28, 12, 0, 0),
                                 ticks_of(3000, 12, 31, 23, 59, 59) + 9999999,
                                 ticks_of(3001, 1, 1),
                                 uint64_t{INT64_MAX},
                                 uint64_t{1} << 63,
                                 ~uint64_t{0}};
  uint64_t x = 0x9E3779B97F4A7C15ull;
  for (int i = 0; i < 3000; ++i) {
    x = x * 6364136223846793005ull + 1442695040888963407ull;
    // Mostly 1900 to 3000, some anywhere in the signed range.
    ticks.push_back(i % 8 == 0 ? x >> 1 : ticks_of(1900, 1, 1) + (x >> 11) % (uint64_t{347} << 47));
    // Now and then another time of the same day.
    constexpr uint64_t k_day = 864000000000ull;
    if (i % 4 == 1) ticks.push_back(ticks.back() - ticks.back() % k_day + x % k_day);
  }
  std::vector<vk::time_format_descriptor> layouts = {descriptor(0, 0, 0)};
  const uint8_t separators[] = {0, '/', '-', ' '};
  for (unsigned i = 0; i < 64; ++i)
    layouts.push_back(descriptor(separators[i % 4], static_cast<uint8_t>(i * 37 + 5),
                                 static_cast<uint8_t>((i % 11) << 1)));
  int wrong = 0;
  // One layout at a time, as a run uses them, now and then the same layout
  // without sub-seconds between (as a row shows a file's own times).
  for (const auto& d : layouts) {
    vk::time_format_descriptor whole_seconds = d;
    whole_seconds.m_time_flags &= static_cast<uint8_t>(~vk::time_format_descriptor::subsecond_mask);
    for (const uint64_t t : ticks) {
      // The layout without sub-seconds between: the formatter keeps both.
      vk::filetime_texts whole;
      const bool whole_valid = vk::filetime_date_clock(whole, t, whole_seconds);
      const texts whole_parts = by_descriptor(vk::time(t, vk::type_time::filetime), whole_seconds);
      if (whole_valid && (whole.date() != whole_parts.date || whole.clock() != whole_parts.time)) {
        ADD_FAILURE() << t << " layout " << whole_seconds.as_u32() << ": '" << whole.date() << "' '"
                      << whole.clock() << "'";
        if (++wrong > 5) return;
      }
      const vk::time value(t, vk::type_time::filetime);
      const bool printable =
          t != 0 && value.valid() && vk::time_year(value) >= 1900 && vk::time_year(value) <= 3000;
      std::string want;
      const texts parts = by_descriptor(value, d);
      if (printable && !parts.date.empty()) want = parts.date + ' ' + parts.time;
      // The two texts apart, with the time value's validity alone.
      vk::filetime_texts apart;
      const bool valid = vk::filetime_date_clock(apart, t, d);
      if (valid != (t != 0 && value.valid()) ||
          (valid && (apart.date() != parts.date || apart.clock() != parts.time))) {
        ADD_FAILURE() << t << " layout " << d.as_u32() << ": '" << apart.date() << "' '"
                      << apart.clock() << "' want '" << parts.date << "' '" << parts.time << "'";
        if (++wrong > 5) return;
      }
      std::string got = "> ";
      const bool ok = vk::append_filetime_text(got, t, d);
      if (ok != !want.empty() || got != "> " + want || vk::filetime_printable(t) != printable) {
        ADD_FAILURE() << t << " layout " << d.as_u32() << ": '" << got << "' want '" << want << "'";
        if (++wrong > 5) return;
      }
    }
  }
}
