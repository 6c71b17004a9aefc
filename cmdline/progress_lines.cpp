#include "cmdline/progress_lines.h"

#include <algorithm>
#include <charconv>
#include <limits>

#include "foundation/vk_console.h"
#include "foundation/vk_guard.h"

namespace vk {

namespace {

const std::string k_erase = "\x1b[2K\r";
const std::string k_status_prefix = "\x1b[2K\r    \r";

std::string hex_text(uint64_t v) {
  char buf[24];
  const auto r = std::to_chars(buf, buf + sizeof(buf), v, 16);
  return std::string(buf, r.ptr);
}

// floor(done * 100 / total) for done < total: the remainder is stepped one
// "done" at a time, so nothing exceeds total.
uint32_t percent_below_total(uint64_t done, uint64_t total) {
  if (done <= std::numeric_limits<uint64_t>::max() / 100) {
    return static_cast<uint32_t>(done * 100 / total);
  }
  uint32_t q = 0;
  uint64_t r = 0;
  for (int i = 0; i < 100; ++i) {
    if (r >= total - done) {
      r -= total - done;
      ++q;
    } else {
      r += done;
    }
  }
  return q;
}

}  // namespace

uint32_t percent_of(uint64_t done, uint64_t total) {
  if (total == 0) return 100;
  const uint64_t whole = done / total;
  if (whole >= std::numeric_limits<uint32_t>::max() / 100)
    return std::numeric_limits<uint32_t>::max();
  return static_cast<uint32_t>(whole * 100) + percent_below_total(done % total, total);
}

void progress_update(progress_state& s, uint64_t done) {
  const uint32_t f = s.m_flags;
  if (!(f & (progress_to_title | progress_to_console | progress_to_log)) ||
      !(f & progress_enabled) || s.m_last_percent == 100) {
    return;
  }
  vk::guarded([&] {
    const bool prefixed = (f & progress_to_console) != 0;
    std::string text = prefixed ? k_erase : std::string();
    text += "Percent done: ";
    if (done >= s.m_total) {
      text += "100%";
      s.m_last_percent = 100;
    } else {
      const uint32_t percent = percent_below_total(done, s.m_total);
      // Never the same value twice, whatever the step.
      if (percent == 0 || percent < s.m_step || percent <= s.m_last_percent ||
          percent - s.m_last_percent < s.m_step) {
        return;
      }
      s.m_last_percent = percent;
      text += std::to_string(percent);
      text += '%';
    }
    if (text.size() > s.m_width) text.resize(s.m_width);
    if (prefixed) {
      if (f & progress_console_stderr) {
        console_write(console_stderr, text + "\r");
      } else if (f & progress_console_stdout) {
        console_write(console_stdout, text + "\r");
      }
      // The title and the log keep the line without the erase sequence.
      text.erase(0, std::min<size_t>(4, text.size()));
    }
    if (f & progress_to_title) set_console_title(text.c_str());
    if (f & progress_to_log) diags_log_nonempty(s.m_settings, text);
  });
}

void progress_title_percent(uint64_t done, uint64_t total) {
  vk::guarded([&] {
    const std::string title = "percent complete: " + std::to_string(percent_of(done, total));
    set_console_title(title.c_str());
  });
}

uint32_t progress_title_text(uint32_t width, const std::string& text) {
  return vk::guarded([&]() -> uint32_t {
    const std::string title = text.substr(0, width);
    set_console_title(title.c_str());
    return static_cast<uint32_t>(title.size());
  });
}

uint32_t progress_title_stream(uint32_t width, const std::ostringstream& text) {
  return vk::guarded([&] { return progress_title_text(width, text.str()); });
}

void progress_status_stream(const std::ostringstream& text) {
  vk::guarded([&] { status_printf_stdout("%s", text.str().c_str()); });
}

uint32_t progress_line(uint32_t width, const std::string& text) {
  if (text.empty()) return 0;
  return vk::guarded([&]() -> uint32_t {
    std::string shown = text;
    shown.erase(std::remove(shown.begin(), shown.end(), '\n'), shown.end());
    if (shown.size() > width) shown.resize(width);
    console_write(console_stderr, k_status_prefix + shown + "\r");
    return static_cast<uint32_t>(shown.size());
  });
}

void progress_line_end(const std::string& text) {
  vk::guarded([&] { console_write(console_stderr, k_status_prefix + text + "\n"); });
}

void progress_position(uint64_t position, uint64_t end) {
  vk::guarded([&] {
    std::string line = k_erase;
    if (position < end) {
      line += " --> 0x" + hex_text(position) + " of 0x" + hex_text(end) + "\r";
    } else {
      line.append(45, ' ');
    }
    console_write(console_stderr, line);
  });
}

}  // namespace vk
