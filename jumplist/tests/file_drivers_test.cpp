// The automatic road end to end on written jump lists: records in DestList
// order reported from the highest position down, missing streams costing
// only their entry, and files that are refused.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "jumplist/file_drivers.h"
#include "jumplist/vesk_main.h"
#include "report_fixture.h"
#include "temp_tree.h"

namespace vk {
namespace {

using namespace vesk_test;

struct run_result {
  bool ok;
  std::string text;
};

run_result run(const temp_tree& tree, const std::vector<uint8_t>& bytes,
               const std::string& name = "5f7b5f1e01b83767.automaticDestinations-ms",
               bool show_offset = false) {
  tree.file(name, std::string(bytes.begin(), bytes.end()));
  vesk_options options;
  options.m_show_offset = show_offset;
  options.m_source_path = tree.path(name);
  const source_appid id = appid_from_path(options.m_source_path);
  options.m_appid_text = id.text;
  options.m_appid = id.value;
  std::ostringstream out;
  const bool ok = process_jumplist_file(out, options.m_source_path, options);
  return {ok, out.str()};
}

std::vector<std::string> values(const std::string& text, const std::string& label) {
  std::vector<std::string> found;
  for (size_t at = text.find(label); at != std::string::npos; at = text.find(label, at + 1))
    found.push_back(text.substr(at + 26, text.find('\n', at) - at - 26));
  return found;
}

TEST(FileDrivers, AutomaticListReportsEntriesFromTheHighestPositionDown) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const run_result r = run(tree, fixture_jumplist());
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(values(r.text, "MRU/MFU index:"), (std::vector<std::string>{"3", "2", "1"}));
  EXPECT_EQ(values(r.text, "stream #:"), (std::vector<std::string>{"1", "2", "10"}));
  EXPECT_EQ(values(r.text, "AppID:"), std::vector<std::string>(3, "5f7b5f1e01b83767"));
  EXPECT_EQ(values(r.text, "Interaction count:").back(), "5");
  EXPECT_EQ(values(r.text, "MRU time:").back(), "2024-03-05 07:08:09.123 [UTC]");
  EXPECT_EQ(values(r.text, "Description:").size(), 3u);
  EXPECT_TRUE(values(r.text, "File offset:").empty());

  const run_result offsets = run(tree, fixture_jumplist(), "o/x.automaticDestinations-ms", true);
  EXPECT_EQ(values(offsets.text, "File offset:").size(), 3u);
  EXPECT_EQ(values(offsets.text, "AppID:"), std::vector<std::string>(3, ""));

  // A missing stream costs only its entry; the next kept one takes its place.
  const run_result missing = run(tree, fixture_jumplist(4, {u"2"}), "m/1.automaticDestinations-ms");
  ASSERT_TRUE(missing.ok);
  EXPECT_EQ(values(missing.text, "MRU/MFU index:"), (std::vector<std::string>{"2", "1"}));
  EXPECT_EQ(values(missing.text, "stream #:"), (std::vector<std::string>{"1", "10"}));

  // Version 1 entries carry no interaction count.
  const run_result v1 = run(tree, fixture_jumplist(1), "v/1.automaticDestinations-ms");
  ASSERT_TRUE(v1.ok);
  EXPECT_EQ(values(v1.text, "stream #:").size(), 3u);
  EXPECT_TRUE(values(v1.text, "Interaction count:").empty());
}

TEST(FileDrivers, RefusedFilesReportNothing) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  std::vector<uint8_t> tiny(75, 0);
  const auto link = fixture_link();
  std::vector<uint8_t> far(40000, 0);
  far.insert(far.end(), link.begin(), link.end());
  auto zeroed = fixture_jumplist();
  for (size_t i = 512; i < zeroed.size(); ++i) zeroed[i] = 0;
  for (const auto& bytes : {tiny, far, zeroed}) {
    const run_result r = run(tree, bytes, "r/x.bin");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.text, "");
  }
  EXPECT_FALSE(run(tree, {}, "r/missing").ok);
}

}  // namespace
}  // namespace vk
