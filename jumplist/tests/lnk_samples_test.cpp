// Real links: the sample .lnk files and the LNK streams of the sample
// automatic jump lists parse whole; and where Debian's liblnk binding is
// there, their values agree with it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "default_params.h"
#include "foundation/vk_bytes.h"
#include "jumplist/compound_file.h"
#include "jumplist/lnk_names.h"
#include "jumplist/lnk_parser.h"
#include "jumplist_samples.h"
#include "temp_tree.h"

namespace vk {
namespace {

using namespace vesk_test;

struct sample_link {
  std::string label;
  std::vector<uint8_t> bytes;
  bool expect_whole;  // a well-formed link: parsed to its last byte
};

// The lnk files (the failing ones marked) and every LNK stream of the
// automatic jump lists, cut to its declared size.
std::vector<sample_link> sample_links(size_t& lnk_ok, size_t& streams, size_t& streams_expected) {
  std::vector<sample_link> out;
  lnk_ok = streams = streams_expected = 0;
  auto dir = samples_dir();
  if (dir.empty()) return out;
  std::map<std::string, bool> ok;
  std::ifstream manifest(dir / "MANIFEST.tsv");
  std::string line;
  while (std::getline(manifest, line)) {
    std::vector<std::string> cols;
    std::stringstream ss(line);
    std::string col;
    while (std::getline(ss, col, '\t')) cols.push_back(col);
    if (cols.size() >= 9 && cols[7] == "lnk") ok[cols[0]] = cols[8] == "ok";
  }
  for (auto& s : samples_of_kind("lnk")) {
    lnk_ok += ok[s.relpath];
    out.push_back({s.relpath, std::move(s.bytes), ok[s.relpath]});
  }
  for (const auto& s : automatic_jumplist_samples()) {
    const std::string counted = s.detail("lnk_streams_ok");
    streams_expected += counted.empty() ? 0 : std::stoul(counted);
    compound_file_reader r;
    if (!parse_compound_image(&r, s.bytes.data(), s.bytes.size())) continue;
    for (const auto& [name, entry] : r.m_entries) {
      if (entry.object_type() != 2 || name == "destlist") continue;
      std::vector<uint8_t> stream;
      uint32_t entry_num = 0;
      uint64_t offset = 0;
      if (!read_stream(r, stream, entry_num, offset, name, s.bytes.data(), s.bytes.size()) ||
          !is_lnk_header(stream.data(), stream.size()))
        continue;
      ++streams;
      out.push_back({s.relpath + ":" + name, std::move(stream), true});
    }
  }
  return out;
}

TEST(LnkSamples, RealLinksParseWhole) {
  size_t lnk_ok = 0, streams = 0, expected_streams = 0;
  auto links = sample_links(lnk_ok, streams, expected_streams);
  if (links.empty()) GTEST_SKIP() << "sample folder absent: no real links to parse";
  EXPECT_EQ(lnk_ok, 230u);
  EXPECT_EQ(streams, expected_streams);
  EXPECT_EQ(streams, 165u);
  size_t whole = 0;
  for (const auto& l : links) {
    lnk_record rec;
    const bool parsed = parse_lnk(rec, l.bytes.data(), l.bytes.size(), default_params(),
                                  vesk_test::test_scratch(), false, 0);
    if (parsed) {
      EXPECT_LE(rec.m_lnk_size, l.bytes.size()) << l.label;
    }
    if (!l.expect_whole) continue;
    EXPECT_TRUE(parsed) << l.label;
    EXPECT_EQ(rec.m_lnk_size, l.bytes.size()) << l.label;
    whole += parsed && rec.m_lnk_size == l.bytes.size();
  }
  EXPECT_EQ(whole, lnk_ok + streams);
}

// ---- the liblnk cross-check ----

constexpr const char* k_python = "/usr/bin/python3";

// One block per file: "@@<TAB>name", then "key<TAB>value as UTF-8 hex".
constexpr const char* k_script = R"PY(
import os, sys, pylnk
KEYS = ['file_creation_time_as_integer', 'file_access_time_as_integer',
        'file_modification_time_as_integer', 'file_size', 'data_flags',
        'file_attribute_flags', 'drive_serial_number', 'drive_type', 'local_path',
        'description', 'relative_path', 'working_directory', 'command_line_arguments',
        'icon_location', 'machine_identifier', 'droid_volume_identifier',
        'droid_file_identifier', 'birth_droid_volume_identifier',
        'birth_droid_file_identifier']
for name in sorted(os.listdir(sys.argv[1])):
    if not name.endswith('.lnkbin'):
        continue
    print('@@\t' + name)
    f = pylnk.file()
    try:
        f.open(os.path.join(sys.argv[1], name))
    except Exception:
        print('REFUSED\t')
        continue
    for k in KEYS:
        try:
            v = getattr(f, 'get_' + k)()
        except Exception:
            continue
        if v is None:
            continue
        print(k + '\t' + str(v).encode('utf-8', 'surrogatepass').hex())
)PY";

std::string unhex(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

bool ascii_text(const std::string& s) {
  for (unsigned char c : s)
    if (c >= 0x80) return false;
  return true;
}

bool outside_bmp(const std::string& s) {
  for (unsigned char c : s)
    if (c >= 0xF0) return true;
  return false;
}

std::string droid_or_empty(const std::string& text) {
  return text == "00000000-0000-0000-0000-000000000000" ? std::string() : text;
}

TEST(LnkSamples, AgreesWithLiblnk) {
  size_t lnk_ok = 0, streams = 0, expected = 0;
  auto links = sample_links(lnk_ok, streams, expected);
  if (links.empty()) GTEST_SKIP() << "sample folder absent: no real links to compare";
  std::string probe = std::string(k_python) + " -c 'import pylnk' >/dev/null 2>&1";
  if (std::system(probe.c_str()) != 0)
    GTEST_SKIP() << "Python's pylnk (Debian package python3-liblnk) does not import";
  temp_tree dir;
  ASSERT_TRUE(dir.ok());
  std::map<std::string, const sample_link*> by_name;
  for (size_t i = 0; i < links.size(); ++i) {
    if (!links[i].expect_whole) continue;
    const std::string name = std::to_string(i) + ".lnkbin";
    by_name[name] = &links[i];
    dir.file("in/" + name, std::string(links[i].bytes.begin(), links[i].bytes.end()));
  }
  dir.file("check.py", k_script);
  const std::string out_path = dir.path("out.txt");
  const std::string cmd = std::string(k_python) + " " + dir.path("check.py") + " " +
                          dir.path("in") + " > " + out_path + " 2>/dev/null";
  ASSERT_EQ(std::system(cmd.c_str()), 0);

  std::map<std::string, std::map<std::string, std::string>> theirs;
  std::ifstream in(out_path);
  std::string line, current;
  while (std::getline(in, line)) {
    const auto tab = line.find('\t');
    if (tab == std::string::npos) continue;
    const std::string key = line.substr(0, tab), value = line.substr(tab + 1);
    if (key == "@@") {
      current = value;
      theirs[current];
    } else if (key == "REFUSED") {
      theirs.erase(current);
      current.clear();
    } else if (!current.empty()) {
      theirs[current][key] = unhex(value);
    }
  }
  ASSERT_GE(theirs.size() * 10, by_name.size() * 9);

  size_t compared = 0, texts = 0, local_paths = 0, droids = 0;
  for (const auto& [name, values] : theirs) {
    const sample_link& link = *by_name.at(name);
    SCOPED_TRACE(link.label);
    lnk_record rec;
    ASSERT_TRUE(parse_lnk(rec, link.bytes.data(), link.bytes.size(), default_params(),
                          vesk_test::test_scratch(), false, 0));
    auto their = [&values = values](const char* key) {
      auto it = values.find(key);
      return it == values.end() ? std::string() : it->second;
    };
    const lnk_header& h = rec.m_header;
    EXPECT_EQ(their("file_creation_time_as_integer"), std::to_string(h.m_create_time));
    EXPECT_EQ(their("file_access_time_as_integer"), std::to_string(h.m_access_time));
    EXPECT_EQ(their("file_modification_time_as_integer"), std::to_string(h.m_write_time));
    EXPECT_EQ(their("file_size"), std::to_string(h.m_file_size));
    EXPECT_EQ(their("data_flags"), std::to_string(h.m_lnk_flags));
    EXPECT_EQ(their("file_attribute_flags"), std::to_string(h.m_file_attributes));
    if (rec.m_volume_id_offset) {
      const uint32_t serial = static_cast<uint32_t>(std::stoul(their("drive_serial_number")));
      EXPECT_EQ(rec.m_volume_serial, volume_serial_text(serial));
      EXPECT_EQ(rec.m_drive_type,
                drive_type_text(static_cast<uint32_t>(std::stoul(their("drive_type")))));
    }
    const size_t info =
        76 + (h.m_lnk_flags & 1 ? 2 + size_t{load_le16(link.bytes.data() + 76)} : 0);
    const std::string local = rec.m_local_base_path + rec.m_common_path_suffix;
    // A header of 36 bytes or more holds the paths in UTF-16 too, which
    // both read (pylnk's characters outside the BMP aside, as for the
    // texts below); from a 28-byte header only plain ASCII reads alike.
    const uint32_t info_header =
        info + 8 <= link.bytes.size() ? load_le32(link.bytes.data() + info + 4) : 0;
    const bool unicode_paths = info_header >= 36 && !outside_bmp(local);
    if (rec.m_local_path_offset && ((info_header == 28 && ascii_text(local)) || unicode_paths)) {
      EXPECT_EQ(local, their("local_path"));
      ++local_paths;
    }
    if (h.m_lnk_flags & lnk_is_unicode) {
      const std::pair<const std::string*, const char*> strings[] = {
          {&rec.m_name, "description"},
          {&rec.m_relative_path, "relative_path"},
          {&rec.m_working_dir, "working_directory"},
          {&rec.m_arguments, "command_line_arguments"},
          {&rec.m_icon_location, "icon_location"}};
      for (const auto& [ours, key] : strings) {
        if (outside_bmp(*ours) || outside_bmp(their(key))) continue;
        if (ours == &rec.m_icon_location && rec.m_icon_environment_offset) continue;
        EXPECT_EQ(*ours, their(key)) << key;
        texts += !ours->empty();
      }
    }
    if (rec.m_tracker_offset) {
      if (ascii_text(rec.m_machine_id)) {  // liblnk gives 8-bit text as code page 1252
        EXPECT_EQ(rec.m_machine_id, their("machine_identifier"));
      }
      EXPECT_EQ(rec.m_volume_droid, droid_or_empty(their("droid_volume_identifier")));
      EXPECT_EQ(rec.m_object_droid, droid_or_empty(their("droid_file_identifier")));
      EXPECT_EQ(rec.m_birth_volume_droid, droid_or_empty(their("birth_droid_volume_identifier")));
      EXPECT_EQ(rec.m_birth_object_droid, droid_or_empty(their("birth_droid_file_identifier")));
      ++droids;
    }
    ++compared;
  }
  EXPECT_GT(compared, 300u);
  EXPECT_GT(texts, 100u);
  EXPECT_GT(local_paths, 50u);
  EXPECT_GT(droids, 100u);
}

}  // namespace
}  // namespace vk
