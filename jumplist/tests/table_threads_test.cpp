// The shared constant tables looked up from several threads at once. Run
// alone (tools/tsan-tables.sh, under ThreadSanitizer) the threads also make
// the first lookups, which build the tables.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "disk/gpt_type_names.h"
#include "foundation/vk_unicode.h"
#include "shell/guid_names.h"
#include "shell/property_keys.h"

namespace vk {
namespace {

struct key_case {
  guid fmtid;
  uint32_t pid;
  std::string name;  // "" when the table lacks the key
  bool known;        // in the table, or of the string-named set
  uint32_t flags;
};

struct cases {
  std::vector<std::pair<guid, std::string>> clsids;  // with the table's name ("" for none)
  std::vector<key_case> keys;
};

guid guid_of(uint8_t fill) {
  guid g;
  for (uint8_t& b : g.m_bytes) b = fill;
  return g;
}

// Every key of the tables, as their own maps give them, and keys they lack.
cases make_cases() {
  cases c;
  clsid_map clsids;
  EXPECT_TRUE(clsid_name_table(clsids));
  for (const auto& [g, name] : clsids) c.clsids.emplace_back(g, name);
  for (uint8_t fill : {0x11, 0x5A, 0xEE}) c.clsids.emplace_back(guid_of(fill), "");

  property_key_map keys;
  EXPECT_TRUE(property_key_table(keys));
  for (const auto& [fmtid, set] : keys) {
    for (const windows_propid& p : set) c.keys.push_back({fmtid, p.pid, p.name, true, p.flags});
    const bool named = guid_equals(fmtid, string_named_set());
    c.keys.push_back({fmtid, 0x7FFFFFF0u, "", named, 0});
  }
  c.keys.push_back({string_named_set(), 3, "", true, 0});
  c.keys.push_back({guid_of(0x42), 2, "", false, 0});
  return c;
}

// The answers of every lookup, one line per case, starting at case `first`
// so that threads reach different entries first.
std::vector<std::string> answers(const cases& c, size_t first) {
  std::vector<std::string> out(c.clsids.size() + c.keys.size() + 1);
  for (size_t n = 0; n < c.clsids.size(); ++n) {
    const size_t i = (n + first) % c.clsids.size();
    std::string text;
    const bool known = clsid_name(text, &c.clsids[i].first);
    out[i] =
        text + (known ? " known " : " unknown ") + std::string(clsid_known_name(c.clsids[i].first));
  }
  for (size_t n = 0; n < c.keys.size(); ++n) {
    const size_t i = (n + first) % c.keys.size();
    const key_case& k = c.keys[i];
    uint32_t flags = 0xFFFFFFFF;
    const bool known = property_key_flags(k.fmtid, k.pid, flags);
    std::string& line = out[c.clsids.size() + i];
    append_property_key_text(line, k.fmtid, k.pid);
    line += ' ';
    line += property_key_name(k.fmtid, k.pid);
    line += ' ' + std::to_string(flags) + (known ? " known" : " unknown");
  }
  gpt_type_name_map gpt;
  build_gpt_type_names(gpt);
  std::string& line = out.back();
  for (const auto& [g, name] : gpt) line += guid_to_string(g) + '=' + name + ';';
  return out;
}

TEST(TableThreads, EveryThreadGetsTheTablesAnswers) {
  const cases c = make_cases();
  ASSERT_GT(c.clsids.size(), 100u);
  ASSERT_GT(c.keys.size(), 100u);

  constexpr size_t k_threads = 8;
  std::vector<std::vector<std::string>> got(k_threads);
  std::atomic<size_t> waiting{k_threads};
  std::vector<std::thread> threads;
  for (size_t t = 0; t < k_threads; ++t) {
    threads.emplace_back([&, t] {
      // All start together, so that the first lookups meet.
      waiting.fetch_sub(1);
      while (waiting.load() != 0) std::this_thread::yield();
      for (int pass = 0; pass < 3; ++pass) got[t] = answers(c, t * 37 + pass);
    });
  }
  for (std::thread& th : threads) th.join();

  const std::vector<std::string> alone = answers(c, 0);
  for (size_t t = 0; t < k_threads; ++t) EXPECT_EQ(got[t], alone) << "thread " << t;

  // And the answers are the maps' own.
  for (size_t i = 0; i < c.clsids.size(); ++i) {
    const std::string& name = c.clsids[i].second;
    const std::string want = name.empty() ? guid_to_string(c.clsids[i].first) + " unknown "
                                          : "{CLSID_" + name + "} known " + name;
    EXPECT_EQ(alone[i], want);
  }
  for (size_t i = 0; i < c.keys.size(); ++i) {
    const key_case& k = c.keys[i];
    const std::string& line = alone[c.clsids.size() + i];
    const std::string tail =
        ' ' + k.name + ' ' + std::to_string(k.flags) + (k.known ? " known" : " unknown");
    ASSERT_GE(line.size(), tail.size());
    EXPECT_EQ(line.substr(line.size() - tail.size()), tail) << line;
    if (!k.name.empty()) {
      EXPECT_EQ(line.substr(36, k.name.size() + 1), '/' + k.name) << line;
    }
  }
  gpt_type_name_map gpt;
  ASSERT_TRUE(build_gpt_type_names(gpt));
  EXPECT_EQ(gpt.size(), gpt_type_name_count);
}

}  // namespace
}  // namespace vk
