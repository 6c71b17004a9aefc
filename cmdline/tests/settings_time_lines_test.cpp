// Time lines that follow the settings: the end of daylight time in the
// settings' layout, and the profile line that goes only to an open log.
#include "cmdline/settings_time_lines.h"

#include <gtest/gtest.h>

#include <sstream>

#include "time_reference.h"

TEST(SettingsTimeLines, DaylightEndAndProfileLine) {
  vk::time_zone_record zone;
  zone.m_daylight_start.m_month = 3;
  zone.m_daylight_start.m_day = 5;
  zone.m_daylight_start.m_hour = 1;
  zone.m_standard_start.m_month = 10;
  zone.m_standard_start.m_day = 5;
  zone.m_standard_start.m_hour = 1;
  vk::cmd_params settings;
  std::ostringstream os;
  vk::write_daylight_end(zone, os, settings, vesk_test::ticks_of(2024, 6, 1));
  EXPECT_EQ(os.str(), "2024-10-27 01:00:00");
  os.str("");
  vk::write_daylight_end(vk::time_zone_record{}, os, settings, vesk_test::ticks_of(2024, 6, 1));
  EXPECT_EQ(os.str(), "");
  // Logging off: nothing, and nothing to fail on.
  vk::print_profile_line(vk::make_ntp_stamp(5, 0), settings, "run");
  vk::print_profile_line(vk::ntp_stamp{}, settings, "run");
}
