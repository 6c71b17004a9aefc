#include "cmdline/progress.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <fstream>
#include <limits>
#include <memory>
#include <vector>

#include "cmdline/report_file.h"
#include "foundation/vk_console.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_text.h"

namespace vk {

namespace {

// Erase the line, return to its start, blank the first columns, return.
const std::string k_line_prefix = "\x1b[2K\r    \r";
// The title and the log take the line without the erase sequence.
constexpr size_t k_erase_length = 4;

// Next threshold and its step, shared by every caller of the process.
uint64_t g_percent_step = 0;
uint64_t g_percent_next = 0;

uint64_t to_u64_saturated(double value) {
  if (!(value > 0)) return 0;
  if (value >= 18446744073709551615.0) return std::numeric_limits<uint64_t>::max();
  return static_cast<uint64_t>(value);
}

void sink_emit(const status_sink& sink, const std::string& message) {
  const uint32_t flags = sink.m_flags;
  if ((flags & (status_to_title | status_to_console | status_to_log)) == 0) return;
  const bool prefixed = (flags & status_to_console) != 0;
  std::string line = prefixed ? k_line_prefix : std::string();
  line += message;
  if (line.size() > sink.m_width) line.resize(sink.m_width);
  if (prefixed) {
    if (flags & status_console_stderr)
      console_write(console_stderr, line + "\r", false);
    else if (flags & status_console_stdout)
      console_write(console_stdout, line + "\r", false);
  }
  if (flags & status_to_title) {
    if (prefixed) line.erase(0, std::min(k_erase_length, line.size()));
    set_console_title(line.c_str());
  }
  if (flags & status_to_log) {
    if (prefixed) line.erase(0, std::min(k_erase_length, line.size()));
    diags_log_nonempty(sink.m_settings, line);
  }
}

}  // namespace

uint32_t show_percent_done(uint32_t width, uint64_t done, uint64_t total, uint32_t step) {
  // A total of 0 has no percentage.
  if (total == 0) return 0;
  return guarded([&]() -> uint32_t {
    if (g_percent_next == 0) {
      g_percent_step = to_u64_saturated(static_cast<double>(total) * (step / 100.0));
      g_percent_next = g_percent_step;
    }
    if (done < g_percent_next) return 0;
    g_percent_next = g_percent_step > std::numeric_limits<uint64_t>::max() - g_percent_next
                         ? std::numeric_limits<uint64_t>::max()
                         : g_percent_next + g_percent_step;
    const double percent = static_cast<double>(done) / static_cast<double>(total) * 100.0;
    const uint32_t shown = percent >= 4294967295.0 ? std::numeric_limits<uint32_t>::max()
                                                   : static_cast<uint32_t>(percent);
    std::string text = "percent done: " + std::to_string(shown);
    if (text.size() > width) text.resize(width);
    console_write(console_stderr, k_line_prefix + text + "\r", true);
    return static_cast<uint32_t>(text.size());
  });
}

void status_sink_printf(const status_sink& sink, const char* format, ...) {
  if (!format || (sink.m_flags & (status_to_title | status_to_console | status_to_log)) == 0)
    return;
  va_list ap;
  va_start(ap, format);
  va_list again;
  va_copy(again, ap);
  const int length = std::vsnprintf(nullptr, 0, format, ap);
  if (length >= 0) {
    guarded([&] {
      // Only what the line can show is kept.
      const size_t kept = std::min<size_t>(static_cast<size_t>(length), sink.m_width);
      std::vector<char> buf(kept + 1, 0);
      if (std::vsnprintf(buf.data(), buf.size(), format, again) >= 0)
        sink_emit(sink, std::string(buf.data(), kept));
    });
  }
  va_end(again);
  va_end(ap);
}

void status_sink_print_stream(const status_sink& sink, const std::ostringstream& text) {
  guarded([&] { sink_emit(sink, text.str()); });
}

void status_sink_print_text(const status_sink& sink, const std::string& text) {
  guarded([&] { sink_emit(sink, text); });
}

bool open_diags_log(cmd_params& settings, const std::string& path, std::string* why) {
  // close_log deletes a stream even when logging was already off, so none
  // is overwritten here.
  settings.close_log();
  int error = 0;
  const bool opened = guarded(
      [&] {
        // Written beside its target and put in place at the end, as the report
        // is: a log named after an input never empties it.
        auto log = std::make_unique<report_file>();
        if (!log->open(path)) {
          error = log->error();
          if (why != nullptr) *why = log->reason();
          return false;
        }
        settings.m_log_path = path;
        settings.m_log = &log->stream();
        settings.m_log_file = log.release();
        settings.m_log_on = 1;
        // A pipe or a device gets no line before the run knows it is no input.
        settings.m_log_held = settings.m_log_file->direct() ? 1 : 0;
        settings.m_log_pending.clear();
        // The command line names files: one log line whatever they hold.
        diags_log(settings, shown_name(settings.m_command_line));
        return true;
      },
      [&] { error = ENOMEM; });
  if (!opened) {
    settings.m_log_path.clear();
    errno = error;
  }
  return opened;
}

void release_diags_log(cmd_params& settings) {
  if (!settings.m_log_held) return;
  settings.m_log_held = 0;
  std::string pending;
  pending.swap(settings.m_log_pending);
  if (!settings.m_log_on || settings.m_log == nullptr || pending.empty()) return;
  guarded([&] {
    settings.m_log->write(pending.data(), static_cast<std::streamsize>(pending.size()));
    settings.m_log->flush();
  });
}

bool finish_diags_log(cmd_params& settings, bool keep) {
  report_file* const log = settings.m_log_file;
  if (log == nullptr) return true;
  if (keep) release_diags_log(settings);
  settings.m_log_held = 0;
  settings.m_log_pending.clear();
  if (!keep) log->discard();
  const bool done = !keep || log->finish();
  if (!done) errno = log->error();
  settings.m_log = nullptr;
  settings.m_log_on = 0;
  return done;
}

uint32_t stream_write_position(std::ostream& stream) {
  return guarded([&]() -> uint32_t {
    if (!stream) return 0;
    const std::streampos pos = stream.tellp();
    if (pos == std::streampos(-1)) return 0;
    return static_cast<uint32_t>(static_cast<std::streamoff>(pos));
  });
}

}  // namespace vk
