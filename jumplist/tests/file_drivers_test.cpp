// The automatic road end to end on written jump lists: records in DestList
// order reported from the highest position down, missing streams costing
// only their entry, and files that are refused.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

#include "jumplist/compound_file.h"
#include "jumplist/destlist.h"
#include "jumplist/file_drivers.h"
#include "jumplist/vesk_main.h"
#include "jumplist_samples.h"
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

TEST(FileDrivers, StreamNamesShortListsAndStreamCopies) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const auto link = fixture_link();

  // Entry 255 names stream "ff".
  {
    destlist_test_entry e;
    e.entry_num = 255;
    cfb_writer w;
    w.stream(u"ff", link).stream(u"DestList", build_destlist(4, {e}));
    const run_result r = run(tree, w.build(), "n/x.automaticDestinations-ms");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(values(r.text, "stream #:"), std::vector<std::string>{"255"});
  }
  // A version-3 DestList of 40 bytes holds no entry: the file is done,
  // with nothing to report.
  {
    std::vector<uint8_t> destlist(40, 0);
    destlist[0] = 3;
    cfb_writer w;
    w.stream(u"1", link).stream(u"DestList", destlist);
    const run_result r = run(tree, w.build(), "s/x.automaticDestinations-ms");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.text, "");
  }
  // Links that start only off 512-byte boundaries: not an automatic list
  // the road takes, and not scanned instead.
  {
    std::vector<destlist_test_entry> entries(2);
    entries[1].entry_num = 2;
    cfb_writer w;
    w.mini_gap().stream(u"1", link).stream(u"2", link).stream(u"DestList",
                                                             build_destlist(4, entries));
    const auto bytes = w.build();
    for (const auto* name : {u"1", u"2"}) ASSERT_NE(w.info(name).first_offset % 512, 0u);
    const run_result r = run(tree, bytes, "u/x.automaticDestinations-ms");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.text, "");
  }
  // With a dump folder, each LNK stream is copied there under its directory
  // entry and file offset.
  {
    std::vector<destlist_test_entry> entries(2);
    entries[0].entry_num = 10;
    cfb_writer w;
    w.stream(u"a", link).stream(u"1", link).stream(u"DestList", build_destlist(4, entries));
    const auto bytes = w.build();
    tree.dir("dump");
    tree.file("c/x.automaticDestinations-ms", std::string(bytes.begin(), bytes.end()));
    vesk_options options;
    options.lnk_dump_dir = tree.path("dump");
    std::ostringstream out;
    ASSERT_TRUE(process_jumplist_file(out, tree.path("c/x.automaticDestinations-ms"), options));
    for (const auto* name : {u"a", u"1"}) {
      const auto& info = w.info(name);
      char file[32];
      std::snprintf(file, sizeof file, "dump/%03x_%08llx.bin", info.entry_num,
                    static_cast<unsigned long long>(info.first_offset));
      std::ifstream in(tree.path(file), std::ios::binary);
      const std::vector<uint8_t> copy{std::istreambuf_iterator<char>(in), {}};
      EXPECT_EQ(copy, link) << file;
    }
  }
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

TEST(FileDriversSamples, OneBlockPerLinkStreamInDestListOrder) {
  const auto samples = automatic_jumplist_samples();
  if (samples.empty()) GTEST_SKIP() << "sample folder absent";
  size_t blocks = 0;
  for (const auto& s : samples) {
    SCOPED_TRACE(s.relpath);
    vesk_options options;
    std::ostringstream out;
    const bool ok = process_jumplist_file(out, s.path.string(), options);
    const std::string ok_streams = s.detail("lnk_streams_ok");
    const size_t expected = std::stoul(ok_streams.substr(0, ok_streams.find('/')));
    const auto indices = values(out.str(), "MRU/MFU index:");
    const auto streams = values(out.str(), "stream #:");
    ASSERT_EQ(indices.size(), expected);
    EXPECT_EQ(ok, expected > 0);
    if (expected == 0) {
      EXPECT_EQ(out.str(), "");
      continue;
    }
    // Index k (printed from N down) is the k-th DestList entry.
    compound_file_reader reader;
    ASSERT_TRUE(parse_compound_image(&reader, s.bytes.data(), s.bytes.size()));
    std::vector<uint8_t> destlist;
    uint32_t dir_entry = 0, version = 0;
    uint64_t offset = 0;
    ASSERT_TRUE(read_stream(reader, destlist, dir_entry, offset, "destlist", s.bytes.data(),
                            s.bytes.size()));
    std::vector<destlist_entry> entries;
    ASSERT_TRUE(load_destlist_entries(destlist.data(), destlist.size(), version, entries));
    ASSERT_EQ(entries.size(), expected);
    for (size_t i = 0; i < expected; ++i) {
      const size_t k = expected - i;
      EXPECT_EQ(indices[i], std::to_string(k));
      EXPECT_EQ(streams[i], std::to_string(entries[k - 1].m_entry_num));
    }
    blocks += expected;
  }
  EXPECT_EQ(blocks, 165u);
}

}  // namespace
}  // namespace vk
