// PLACEHOLDER: a minimal run clock until the foundation's NTP stamp routines
// are available; delete this file and include theirs once they are.
#pragma once

#include <chrono>
#include <cstdint>

namespace vk {

// Seconds since 1900-01-01 UTC and a 2^-32 s fraction, each word stored
// big-endian.
struct ntp_stamp {
  uint32_t m_seconds = 0;
  uint32_t m_fraction = 0;
};

namespace run_clock_stub {
inline uint32_t swap32(uint32_t v) {
  return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}
inline double seconds_of(const ntp_stamp& s) {
  return swap32(s.m_seconds) + swap32(s.m_fraction) * 2.3283064365386963e-10;
}
}  // namespace run_clock_stub

inline ntp_stamp ntp_now() {
  const auto unix_now = std::chrono::duration_cast<std::chrono::seconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
  ntp_stamp s;
  s.m_seconds = run_clock_stub::swap32(static_cast<uint32_t>(unix_now + 2208988800LL));
  return s;
}
inline void start_clock(ntp_stamp& start) { start = ntp_now(); }
inline double elapsed_seconds(const ntp_stamp& a, const ntp_stamp& b) {
  const double x = run_clock_stub::seconds_of(a), y = run_clock_stub::seconds_of(b);
  return x > y ? x - y : y - x;
}

}  // namespace vk
