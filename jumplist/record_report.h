// One record of a shell link written as the labelled text block: the
// examiner-facing form of a record, with the values derived from it first
// (target times from the ID list where the header has none, the AppID text
// with its application name).
#pragma once

#include <array>
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

#include "jumplist/lnk_record.h"
#include "jumplist/source_text.h"
#include "jumplist/vesk_options.h"

namespace vk {

// "<date> <time> [UTC]" by the settings, or "" for a value that is no time
// (0, or outside the years 1900 to 3000).
std::string record_date_time_text(uint64_t ticks, const time_format_settings& settings);

// Modify, access and create time of the target: the header's, a zero one
// taken from the ID list's times when those are valid.
std::array<uint64_t, 3> record_target_times(const lnk_record& record);

// The name the row forms show for the target: the first non-empty of the
// ID-list path, the Vista ID-list path, the environment target, the relative
// path and the icon location.
std::string record_target_name(const lnk_record& record);

// The settings' AppID text, with " [name]" when the AppID file names it.
std::string record_appid_text(const lnk::useropts& options);
void append_record_appid_text(std::string& out, const lnk::useropts& options);

// Writes one record in the chosen form (body file, log2timeline, CSV row,
// else the labelled block), registering the row forms' columns first while
// the header is pending. Memory that cuts the report short is said in the
// run scratch's report_faults. The record is only read: each text is
// written with its control characters as marks. The stream is left
// decimal, blank-filled and left-adjusted.
void report_record(std::ostream& out, const lnk_record& record, lnk::useropts& options);

}  // namespace vk
