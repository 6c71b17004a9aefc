// Time lines that follow the settings object: the "-diags" profile line and
// the end of daylight time in the settings' date and time layout.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "cmdline/cmd_params.h"
#include "foundation/vk_ntp.h"

namespace vk {

// "[label] Profile: <seconds since start> secs" to the "-diags" log; nothing
// for a zero start or when logging is off.
void print_profile_line(const ntp_stamp& start, cmd_params& settings, const std::string& label);
// The end of daylight time in the year of the ticks by the zone's rules, as
// date, a blank and time without sub-seconds; nothing when it has none.
void write_daylight_end(const time_zone_record& zone, std::ostream& os, const cmd_params& settings,
                        uint64_t ticks);

}  // namespace vk
