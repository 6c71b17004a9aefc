#include "jumplist/appid_candidates.h"

#include <map>

#include "foundation/vk_guard.h"
#include "foundation/vk_string.h"
#include "foundation/vk_unicode.h"
#include "shell/guid_names.h"

namespace vk {

namespace {

// Lower-case folder text ending in '\' -> (identifier text, label).
using folder_table = std::map<std::string, folder_guid_pair>;

struct folder_entry {
  std::string key;
  guid_parts id;
  const char* label;
};

// The first insertion of a key wins, so the 64-bit Program Files folders,
// inserted after their plain counterparts, never give a candidate.
folder_table build_table(const std::vector<folder_entry>& entries) {
  folder_table table;
  for (const auto& e : entries) {
    folder_guid_pair pair;
    if (make_folder_guid_pair(pair, guid_to_string(guid_from_parts(e.id)), e.label))
      table.emplace(e.key, std::move(pair));
  }
  return table;
}

struct folder_tables {
  folder_table specific;  // tried first
  folder_table general;   // tried when the first gave nothing
};

const folder_tables& tables() {
  static const folder_tables built = [] {
    const std::string x86 = " (x86)";
    const std::string windows = "windows\\";
    const std::string program_files = "program files";
    const std::string common_files = "common files\\";
    folder_tables t;
    t.specific = build_table({
        {windows + "system32\\",
         {0x1AC14E77, 0x02E7, 0x4E5D, {0xB7, 0x44, 0x2E, 0xB1, 0xAE, 0x51, 0x98, 0xB7}},
         "def-n"},
        {windows + "syswow64\\",
         {0xD65231B0, 0xB2F1, 0x4857, {0xA4, 0xCE, 0xA8, 0xE7, 0xC6, 0xEA, 0x7D, 0x27}},
         "x86-n"},
        {program_files + "\\" + common_files,
         {0xF7F1ED05, 0x9F6D, 0x47A2, {0xAA, 0xAE, 0x29, 0xD3, 0x17, 0xC6, 0xF0, 0x66}},
         "def-n"},
        {program_files + "\\" + common_files,
         {0x6365D5A7, 0x0F0D, 0x45E5, {0x87, 0xF6, 0x0D, 0xA5, 0x6B, 0x6A, 0x4F, 0x7D}},
         "x64-n"},
        {program_files + x86 + "\\" + common_files,
         {0xDE974D24, 0xD9C6, 0x4D3E, {0xBF, 0x91, 0xF4, 0x45, 0x51, 0x20, 0xB9, 0x17}},
         "x86-n"},
    });
    t.general = build_table({
        {windows,
         {0xF38BF404, 0x1D43, 0x42F2, {0x93, 0x05, 0x67, 0xDE, 0x0B, 0x28, 0xFC, 0x23}},
         "def-n"},
        {program_files + "\\",
         {0x905E63B6, 0xC1BF, 0x494E, {0xB2, 0x9C, 0x65, 0xB7, 0x32, 0xD3, 0xD2, 0x1A}},
         "def-n"},
        {program_files + "\\",
         {0x6D809377, 0x6AF0, 0x444B, {0x89, 0x57, 0xA3, 0x77, 0x3F, 0x02, 0x20, 0x0E}},
         "x64-n"},
        {program_files + x86 + "\\",
         {0x7C5A40EF, 0xA0FB, 0x4BFC, {0x87, 0x4A, 0xC0, 0xF2, 0xE0, 0xB9, 0xFA, 0x8E}},
         "x86-n"},
    });
    return t;
  }();
  return built;
}

// Appends text upper-cased as UTF-16LE bytes with its name; a text that does
// not convert names nothing that could have been hashed and is left out.
void add_candidate(std::vector<std::vector<uint8_t>>& candidates, std::vector<std::string>& names,
                   std::string text, const std::string& label, bool texts_as_names) {
  str_to_upper(text);
  std::vector<uint16_t> units;
  if (!utf8_to_utf16_vector(text, units) || units.empty()) return;
  std::vector<uint8_t> bytes;
  bytes.reserve(units.size() * 2);
  for (uint16_t u : units) {
    bytes.push_back(static_cast<uint8_t>(u & 0xFF));
    bytes.push_back(static_cast<uint8_t>(u >> 8));
  }
  candidates.push_back(std::move(bytes));
  names.push_back(texts_as_names ? std::move(text) : label);
}

// One candidate per key found in lower: its identifier, '\' and the rest of
// the path after the key's first occurrence (the drive before it dropped).
void add_folder_candidates(std::vector<std::vector<uint8_t>>& candidates,
                           std::vector<std::string>& names, const std::string& lower,
                           const folder_table& table, bool texts_as_names) {
  for (const auto& [key, pair] : table) {
    const size_t at = lower.find(key);
    if (at == std::string::npos) continue;
    add_candidate(candidates, names, pair.first + "\\" + lower.substr(at + key.size()), pair.second,
                  texts_as_names);
  }
}

}  // namespace

bool make_folder_guid_pair(folder_guid_pair& out, const std::string& guid_text,
                           const std::string& label) {
  return guarded(
      [&] {
        out = {"{" + guid_text + "}", label};
        return true;
      },
      [&] {
        out.first.clear();
        out.second.clear();
      });
}

bool appid_candidates(std::vector<std::vector<uint8_t>>& candidates,
                      std::vector<std::string>& names, const std::string& path,
                      bool texts_as_names) {
  candidates.clear();
  names.clear();
  if (path.empty()) return false;
  return guarded(
      [&] {
        const folder_tables& t = tables();
        std::string lower = path;
        str_to_lower(lower);
        add_folder_candidates(candidates, names, lower, t.specific, texts_as_names);
        if (candidates.empty())
          add_folder_candidates(candidates, names, lower, t.general, texts_as_names);
        add_candidate(candidates, names, lower, "raw", texts_as_names);
        return !candidates.empty();
      },
      [&] {
        candidates.clear();
        names.clear();
      });
}

}  // namespace vk
