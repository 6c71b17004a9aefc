// What the tests that compare the disk library with the real tools share:
// the runs as (first cluster, count) pairs, a command that must succeed,
// whether the tools are there, and the bytes written into the images.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "disk/cluster_runs.h"
#include "disk_images.h"

namespace vesk_test {

using run_pair = std::pair<uint64_t, uint64_t>;

// A sparse run's first cluster shows as 0.
inline std::vector<run_pair> pairs_of(const vk::cluster_runs& runs) {
  std::vector<run_pair> out;
  for (const auto& r : runs.m_runs) out.emplace_back(r.sparse() ? 0 : r.m_first, r.count());
  return out;
}

inline std::string run_ok(const std::string& command) {
  bool ok = false;
  std::string out = run_command("sh -c " + shell_quote(command), ok);
  EXPECT_TRUE(ok) << command << ": " << out;
  return out;
}

// False, with why, when one of the tools is not installed.
inline bool have(std::initializer_list<const char*> tools, std::string& why) {
  for (const char* t : tools)
    if (find_tool(t).empty()) {
      why = std::string(t) + " is not installed";
      return false;
    }
  return true;
}

inline std::vector<uint8_t> bytes_of(const std::string& text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

// Bytes that differ from cluster to cluster, so that a read from the wrong
// place shows.
inline std::vector<uint8_t> pattern(size_t n, unsigned seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>((i * 131 + seed * 17) ^ (i >> 7));
  return v;
}

}  // namespace vesk_test
