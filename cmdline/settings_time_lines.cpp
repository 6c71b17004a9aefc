#include "cmdline/settings_time_lines.h"

#include <exception>
#include <sstream>

#include "foundation/vk_guard.h"

namespace vk {

void print_profile_line(const ntp_stamp& start, cmd_params& settings, const std::string& label) {
  if (start.is_zero() || !settings.m_log_on) return;
  vk::guarded([&] {
    std::ostringstream text;
    if (!label.empty()) text << '[' << label << "] ";
    text << "Profile: " << elapsed_seconds(start, ntp_now()) << " secs";
    diags_log_stream(settings, text);
  });
}

void write_daylight_end(const time_zone_record& zone, std::ostream& os, const cmd_params& settings,
                        uint64_t ticks) {
  const time end =
      time_from_i64(static_cast<int64_t>(daylight_end(zone, ticks)), type_time::filetime);
  if (!end.valid()) return;
  vk::guarded([&] {
    time_format_settings layout = settings.m_time_settings;
    if (layout.m_descriptor.is_zero()) {
      build_time_format_settings(layout, settings.m_date_format, settings.m_time_format,
                                 settings.m_pair_datetime != 0);
    }
    layout.m_descriptor.m_time_flags &=
        static_cast<uint8_t>(~time_format_descriptor::subsecond_mask);
    std::string date, clock;
    format_time_by_descriptor(date, clock, end, layout.m_descriptor);
    os << date << ' ' << clock;
  });
}

}  // namespace vk
