// The texts an application path may have been hashed from, as the bytes the
// hash sees, and their AppIDs against jump lists named by them.
#include "jumplist/appid_candidates.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <filesystem>

#include "byte_builder.h"
#include "foundation/vk_crc.h"
#include "foundation/vk_unicode.h"

namespace vk {
namespace {

std::vector<uint8_t> utf16le(const std::u16string& text) {
  std::vector<uint8_t> out;
  for (char16_t c : text) {
    out.push_back(static_cast<uint8_t>(c & 0xFF));
    out.push_back(static_cast<uint8_t>(c >> 8));
  }
  return out;
}

std::string hex(uint64_t v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%" PRIx64, v);
  return buf;
}

struct expected_candidate {
  std::u16string text;
  std::string label;
  std::string hash;  // "" when not checked
};

TEST(AppIdCandidates, KnownFoldersThenThePath) {
  const struct {
    std::string path;
    std::vector<expected_candidate> want;
  } cases[] = {
      {"E:\\Windows\\System32\\notepad.exe",
       {{u"{1AC14E77-02E7-4E5D-B744-2EB1AE5198B7}\\NOTEPAD.EXE", "def-n", "9b9cdc69c1c24e2b"},
        {u"E:\\WINDOWS\\SYSTEM32\\NOTEPAD.EXE", "raw", "48369e257cab8920"}}},
      {"C:\\Windows\\explorer.exe",
       {{u"{F38BF404-1D43-42F2-9305-67DE0B28FC23}\\EXPLORER.EXE", "def-n", "1b4dd67f29cb1962"},
        {u"C:\\WINDOWS\\EXPLORER.EXE", "raw", ""}}},
      {"C:\\Windows\\System32\\mspaint.exe",
       {{u"{1AC14E77-02E7-4E5D-B744-2EB1AE5198B7}\\MSPAINT.EXE", "def-n", "12dc1ea8e34b5a6"},
        {u"C:\\WINDOWS\\SYSTEM32\\MSPAINT.EXE", "raw", ""}}},
      // The first table's x86 key needs Common Files too.
      {"E:\\Program Files (x86)\\App\\app.exe",
       {{u"{7C5A40EF-A0FB-4BFC-874A-C0F2E0B9FA8E}\\APP\\APP.EXE", "x86-n", ""},
        {u"E:\\PROGRAM FILES (X86)\\APP\\APP.EXE", "raw", ""}}},
      // A first-table hit keeps the second table's Program Files out.
      {"E:\\Program Files\\Common Files\\x.exe",
       {{u"{F7F1ED05-9F6D-47A2-AAAE-29D317C6F066}\\X.EXE", "def-n", ""},
        {u"E:\\PROGRAM FILES\\COMMON FILES\\X.EXE", "raw", ""}}},
      // The first entry of a key holds: no 64-bit Program Files candidate.
      {"c:\\program files\\app\\a.exe",
       {{u"{905E63B6-C1BF-494E-B29C-65B732D3D21A}\\APP\\A.EXE", "def-n", ""},
        {u"C:\\PROGRAM FILES\\APP\\A.EXE", "raw", ""}}},
      {"X:\\wINDOWS\\SysWOW64\\Common Files\\b.exe",
       {{u"{D65231B0-B2F1-4857-A4CE-A8E7C6EA7D27}\\COMMON FILES\\B.EXE", "x86-n", ""},
        {u"X:\\WINDOWS\\SYSWOW64\\COMMON FILES\\B.EXE", "raw", ""}}},
      // Two keys of the first table: each candidate from its own match, in
      // key order.
      {"C:\\Windows\\System32\\Program Files\\Common Files\\y.exe",
       {{u"{F7F1ED05-9F6D-47A2-AAAE-29D317C6F066}\\Y.EXE", "def-n", ""},
        {u"{1AC14E77-02E7-4E5D-B744-2EB1AE5198B7}\\PROGRAM FILES\\COMMON FILES\\Y.EXE", "def-n",
         ""},
        {u"C:\\WINDOWS\\SYSTEM32\\PROGRAM FILES\\COMMON FILES\\Y.EXE", "raw", ""}}},
      // Two keys of the second table.
      {"D:\\Program Files (x86)\\Windows\\c.exe",
       {{u"{7C5A40EF-A0FB-4BFC-874A-C0F2E0B9FA8E}\\WINDOWS\\C.EXE", "x86-n", ""},
        {u"{F38BF404-1D43-42F2-9305-67DE0B28FC23}\\C.EXE", "def-n", ""},
        {u"D:\\PROGRAM FILES (X86)\\WINDOWS\\C.EXE", "raw", ""}}},
      {"E:/Windows/System32/notepad.exe", {{u"E:/WINDOWS/SYSTEM32/NOTEPAD.EXE", "raw", ""}}},
      {"D:\\tools\\a.exe", {{u"D:\\TOOLS\\A.EXE", "raw", "e20c5311135f2dc5"}}},
      // Only ASCII letters change case; other text reaches the hash as
      // UTF-16, pairs included.
      {"C:\\Windows\\\xC3\xA4\xF0\x9F\x98\x80.exe",
       {{u"{F38BF404-1D43-42F2-9305-67DE0B28FC23}\\\u00E4\U0001F600.EXE", "def-n", ""},
        {u"C:\\WINDOWS\\\u00E4\U0001F600.EXE", "raw", ""}}},
      // No text to hash: none at all rather than an empty or cut one.
      {"", {}},
      {"C:\\Windows\\\xFF.exe", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    std::vector<std::vector<uint8_t>> got{{1}};
    std::vector<std::string> names{"stale"};
    EXPECT_EQ(appid_candidates(got, names, c.path, false), !c.want.empty());
    ASSERT_EQ(got.size(), c.want.size());
    ASSERT_EQ(names.size(), c.want.size());
    std::vector<std::vector<uint8_t>> again;
    std::vector<std::string> texts;
    appid_candidates(again, texts, c.path, true);
    ASSERT_EQ(again, got);
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i], utf16le(c.want[i].text)) << i;
      EXPECT_EQ(names[i], c.want[i].label) << i;
      // Named by text, a candidate's name is the candidate itself.
      std::string want_text;
      utf16_vector_to_utf8({c.want[i].text.begin(), c.want[i].text.end()}, want_text);
      EXPECT_EQ(texts[i], want_text) << i;
      if (!c.want[i].hash.empty()) {
        EXPECT_EQ(hex(appid_crc64(got[i])), c.want[i].hash) << i;
      }
    }
  }
}

TEST(AppIdCandidates, FolderPairAndSampleNames) {
  folder_guid_pair pair{"x", "y"};
  ASSERT_TRUE(make_folder_guid_pair(pair, "f38bf404-1d43-42f2-9305-67de0b28fc23", "def-n"));
  EXPECT_EQ(pair, folder_guid_pair("{f38bf404-1d43-42f2-9305-67de0b28fc23}", "def-n"));

  const auto dir = vesk_test::samples_dir();
  if (dir.empty()) GTEST_SKIP() << "no sample folder: the AppIDs of real lists not checked";
  // Jump lists written by Windows itself carry the known-folder AppIDs.
  for (const char* path : {"C:\\Windows\\System32\\notepad.exe", "C:\\Windows\\explorer.exe"}) {
    std::vector<std::vector<uint8_t>> got;
    std::vector<std::string> names;
    ASSERT_TRUE(appid_candidates(got, names, path, true));
    const std::string name = hex(appid_crc64(got.front())) + ".automaticDestinations-ms";
    bool found = false;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir))
      found = found || e.path().filename() == name;
    EXPECT_TRUE(found) << name;
  }
}

}  // namespace
}  // namespace vk
