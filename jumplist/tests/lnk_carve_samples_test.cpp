// Real custom jump lists and link files through the carving roads: every
// link the manifest counts, one record per sound link file, every real link
// found among junk, and the whole sample folder through the program with
// "-slack".
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include "jumplist/compound_file.h"
#include "jumplist/file_drivers.h"
#include "jumplist/lnk_carve.h"
#include "jumplist/lnk_extent.h"
#include "jumplist/lnk_parser.h"
#include "jumplist/lnk_signature.h"
#include "jumplist/vesk_main.h"
#include "jumplist_samples.h"
#include "temp_tree.h"

namespace vk {
namespace {

using namespace vesk_test;

struct manifest_line {
  std::string relpath, kind, check, details;
};

std::vector<manifest_line> manifest() {
  std::vector<manifest_line> out;
  std::ifstream in(samples_dir() / "MANIFEST.tsv");
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) {
    std::vector<std::string> cols;
    std::stringstream ss(line);
    std::string col;
    while (std::getline(ss, col, '\t')) cols.push_back(col);
    if (cols.size() >= 10) out.push_back({cols[0], cols[7], cols[8], cols[9]});
  }
  return out;
}

size_t count_of(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// Records reported for the file, and whether it was processed.
std::pair<bool, size_t> records_of(const std::string& path) {
  vesk_options options;
  options.m_status_messages = 0;
  options.m_source_path = path;
  std::ostringstream out;
  const bool ok = process_jumplist_file(out, path, options);
  return {ok, count_of(out.str(), "source path/filename:")};
}

TEST(LnkCarveSamples, CustomListsAndLinkFiles) {
  if (samples_dir().empty()) GTEST_SKIP() << "sample folder absent";
  size_t custom_total = 0, link_files = 0;
  for (const manifest_line& m : manifest()) {
    const std::string path = (samples_dir() / m.relpath).string();
    if (m.kind == "customDestinations") {
      const size_t at = m.details.find("carved_lnk_ok=");
      ASSERT_NE(at, std::string::npos) << m.relpath;
      const size_t expected = std::stoul(m.details.substr(at + 14));
      const auto [ok, n] = records_of(path);
      EXPECT_EQ(n, expected) << m.relpath;
      // A list of no entries is processed too: it has simply none.
      EXPECT_TRUE(ok) << m.relpath;
      custom_total += n;
    } else if (m.kind == "lnk" && m.check == "ok") {
      const auto [ok, n] = records_of(path);
      EXPECT_TRUE(ok) << m.relpath;
      EXPECT_EQ(n, 1u) << m.relpath;
      ++link_files;
    }
  }
  EXPECT_EQ(custom_total, 55u);
  EXPECT_EQ(link_files, 230u);
  const auto win11 = records_of(
      (samples_dir() /
       "alfaifi-jumplist/win11/CustomDestinations/5d696d521de238c3.customDestinations-ms")
          .string());
  EXPECT_EQ(win11.second, 8u);
}

#ifdef VESK_BINARY

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

int run_shell(const std::string& cmd) {
  const int raw = std::system(cmd.c_str());
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

// Every link of the samples: the link files, the link streams of the
// automatic lists and the links of the custom lists, each to the next.
std::vector<std::vector<uint8_t>> sample_links() {
  std::vector<std::vector<uint8_t>> links;
  for (const sample_jumplist& s : samples_of_kind("lnk"))
    if (is_lnk_header(s.bytes.data(), s.bytes.size())) links.push_back(s.bytes);
  for (const sample_jumplist& s : samples_of_kind("automaticDestinations")) {
    compound_file_reader reader;
    if (!parse_compound_image(&reader, s.bytes.data(), s.bytes.size(), false)) continue;
    for (const auto& [key, entry] : reader.m_entries) {
      if (entry.object_type() != 2) continue;
      std::vector<uint8_t> scratch;
      byte_view stream;
      uint32_t number = 0;
      uint64_t first = 0;
      if (stream_bytes(reader, key, s.bytes.data(), s.bytes.size(), scratch, stream, number, first,
                       reader.m_faults) &&
          is_lnk_header(stream.data(), stream.size()))
        links.emplace_back(stream.data(), stream.data() + stream.size());
    }
  }
  for (const sample_jumplist& s : samples_of_kind("customDestinations")) {
    std::vector<uint32_t> at;
    find_all_lnk_signatures(at, s.bytes.data(), s.bytes.size(), 1);
    for (size_t i = 0; i < at.size(); ++i)
      links.emplace_back(s.bytes.begin() + at[i],
                         i + 1 < at.size() ? s.bytes.begin() + at[i + 1] : s.bytes.end());
  }
  return links;
}

TEST(LnkCarveSamples, EveryRealLinkIsFoundAmongJunk) {
  if (samples_dir().empty()) GTEST_SKIP() << "sample folder absent";
  const std::vector<std::vector<uint8_t>> links = sample_links();
  EXPECT_EQ(links.size(), 452u);
  uint32_t seed = 68;
  auto junk = [&](size_t n) {
    std::vector<uint8_t> b(n);
    for (uint8_t& x : b) {
      seed = seed * 1103515245u + 12345u;
      x = static_cast<uint8_t>(seed >> 16);
    }
    return b;
  };
  size_t found = 0, tried = 0;
  for (const auto& link : links) {
    EXPECT_TRUE(could_be_link_header(byte_view(link.data(), link.size())));
    // A header alone (liblnk's file_header.1) takes the junk after it as
    // its structures.
    if (link.size() <= lnk_header_size) continue;
    for (const size_t offset : {size_t{1}, size_t{4093}, size_t{1} + (seed >> 8) % 30000}) {
      std::vector<uint8_t> b = junk(offset);
      b.insert(b.end(), link.begin(), link.end());
      const std::vector<uint8_t> tail = junk(4096);
      b.insert(b.end(), tail.begin(), tail.end());
      vesk_options options;
      options.m_status_messages = 0;
      options.m_carve_mode = true;
      options.m_scan_step = 1;
      bool at_offset = false;
      carve_and_report(
          std::cout, nullptr, byte_view(b), options, false, k_header_not_searched,
          {[](lnk_record&, std::ostream&, file_notes&) {},
           [&](const carved_report& r) { at_offset = at_offset || r.offset == offset; }});
      ++tried;
      found += at_offset;
    }
  }
  EXPECT_EQ(found, tried);
}

TEST(LnkCarveSamples, WholeFolderThroughTheProgram) {
  if (samples_dir().empty()) GTEST_SKIP() << "sample folder absent";
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const std::string dir = samples_dir().string();
  const std::string out = tree.path("out.txt"), err = tree.path("err.txt");
  for (const std::string form : {"", "-csv", "-csvl2t", "-bodyfile"}) {
    const std::string cmd = "find '" + dir + "' -type f | '" + std::string(VESK_BINARY) +
                            "' -pipe -slack -idltimes -quiet " + form + " >'" + out + "' 2>'" +
                            err + "'";
    // One sample link is cut inside its last block: said, and the status says so.
    EXPECT_EQ(run_shell(cmd), 2) << form;
    const std::string errors = slurp(err);
    EXPECT_EQ(errors.find("Sanitizer"), std::string::npos) << form << errors.substr(0, 2000);
    EXPECT_EQ(errors.find("runtime error"), std::string::npos) << form << errors.substr(0, 2000);
  }
  // A custom list too short for a link: a list of no entries, said so.
  const std::string tiny =
      dir + "/plaso/customDestinations-ms/c98dce577f884ef8.customDestinations-ms";
  EXPECT_EQ(run_shell("'" + std::string(VESK_BINARY) + "' '" + tiny + "' >'" + out + "' 2>&1"), 0);
  EXPECT_NE(slurp(out).find("no entries in file: " + tiny), std::string::npos);
}

#endif

}  // namespace
}  // namespace vk
