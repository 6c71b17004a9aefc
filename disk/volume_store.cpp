#include "disk/volume_store.h"

#include <cctype>
#include <cstring>

#include "disk/platform_volumes.h"
#include "foundation/vk_env.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_numtext.h"
#include "foundation/vk_string.h"
#include "foundation/vk_unicode.h"

namespace vk {

namespace {

constexpr size_t kNumberDigits = 8;

const partition_entry* record_at(const volume_store& store,
                                 const std::map<std::string, uint64_t>& names,
                                 const std::string& key) {
  const auto it = names.find(key);
  if (it == names.end() || it->second >= store.m_volumes.size()) return nullptr;
  return &store.m_volumes[static_cast<size_t>(it->second)];
}

// The path up to its last '/' (all of it without one), lower-cased: where
// the prefixes are looked for, so that a file name never passes for one.
std::string lowered_directory(const std::string& path) {
  const size_t slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? path : path.substr(0, slash);
  return str_to_lower(dir);
}

// The rest of the path from the first '/' at or after from; nothing when
// there is none (the whole path was a directory part).
std::string rest_from(const std::string& path, size_t from) {
  const size_t slash = path.find('/', from);
  return slash == std::string::npos ? std::string() : path.substr(slash);
}

bool hex_digits_at(const std::string& text, size_t at, size_t count) {
  if (at > text.size() || text.size() - at < count) return false;
  for (size_t i = 0; i < count; ++i)
    if (!std::isxdigit(static_cast<unsigned char>(text[at + i]))) return false;
  return true;
}

// Behind a volume name prefix found at `at`: the volume number after the
// first '-', looked up in the number map.
bool translate_volume_name(const volume_store& store, std::string& out, const std::string& path,
                           const std::string& dir, size_t at) {
  const size_t after = at + std::strlen(volume_name_prefix);
  const size_t dash = dir.find('-', after);
  if (dash == std::string::npos || !hex_digits_at(dir, dash + 1, kNumberDigits)) return false;
  uint32_t number = 0;
  if (!parse_uint("0x" + dir.substr(dash + 1, kNumberDigits), number)) return false;
  const auto it = store.m_by_number.find(number);
  if (it == store.m_by_number.end() || it->second >= store.m_volumes.size()) return false;
  out = store.m_volumes[static_cast<size_t>(it->second)].m_text3 + rest_from(path, after);
  return true;
}

// Behind a device prefix found at `at`: the path component that holds it,
// in its backslash form, looked up in the device-name map.
bool translate_device_name(const volume_store& store, std::string& out, const std::string& path,
                           const std::string& dir, size_t at, size_t prefix_length) {
  const size_t after = at + prefix_length;
  const size_t slash = path.find('/', after);
  std::string key = dir.substr(at, (slash == std::string::npos ? dir.size() : slash) - at);
  for (char& c : key)
    if (c == '/') c = '\\';
  const partition_entry* r = record_at(store, store.m_by_device_name, key);
  if (!r) return false;
  out = r->m_text3 + rest_from(path, after);
  return true;
}

// UTF-16LE bytes of the text; a text that is not UTF-8 counts each of its
// bytes as one code unit, so that distinct texts keep distinct values.
uint32_t utf16_hash(std::string text) {
  str_to_upper(text);
  std::vector<uint16_t> units;
  if (!utf8_to_utf16_vector(text, units)) {
    units.clear();
    for (unsigned char c : text) units.push_back(c);
  }
  std::vector<uint8_t> bytes;
  bytes.reserve(units.size() * 2);
  for (uint16_t u : units) {
    bytes.push_back(static_cast<uint8_t>(u));
    bytes.push_back(static_cast<uint8_t>(u >> 8));
  }
  return static_cast<uint32_t>(string_hash37(bytes.data(), bytes.size()));
}

uint32_t path_hash(const volume_store& store, const std::string& path) {
  std::string translated;
  if (!store_translate_volume_path(store, translated, path) &&
      !store_translate_drive_path(store, translated, path))
    translated = path;
  return utf16_hash(translated);
}

}  // namespace

bool store_translate_volume_path(const volume_store& store, std::string& out,
                                 const std::string& path) {
  out.clear();
  if (path.empty()) return false;
  return guarded(
      [&] {
        const std::string dir = lowered_directory(path);
        const size_t at = dir.find(volume_name_prefix);
        return at != std::string::npos && translate_volume_name(store, out, path, dir, at);
      },
      [&] { out.clear(); });
}

bool store_translate_drive_path(const volume_store& store, std::string& out,
                                const std::string& path) {
  out.clear();
  if (path.empty()) return false;
  return guarded(
      [&] {
        const std::string expanded = expand_env_vars(path, false);
        const size_t colon = expanded.find(':');
        if (colon == std::string::npos) return false;
        std::string drive = expanded.substr(0, 2);
        const partition_entry* r = record_at(store, store.m_by_drive, str_to_lower(drive));
        if (!r) return false;
        out = r->m_text3 + expanded.substr(colon + 1);
        return true;
      },
      [&] { out.clear(); });
}

bool store_translate_path(const volume_store& store, std::string& out, const std::string& path) {
  out.clear();
  if (path.empty()) return false;
  return guarded(
      [&] {
        const std::string dir = lowered_directory(path);
        size_t at = dir.find(volume_name_prefix);
        if (at != std::string::npos) return translate_volume_name(store, out, path, dir, at);
        at = dir.find(device_name_prefix);
        return at != std::string::npos &&
               translate_device_name(store, out, path, dir, at, std::strlen(device_name_prefix));
      },
      [&] { out.clear(); });
}

bool store_translate_path_b(const volume_store& store, std::string& out, const std::string& path) {
  out.clear();
  if (path.empty()) return false;
  return guarded(
      [&] {
        const std::string dir = lowered_directory(path);
        const size_t at = dir.find(device_path_prefix);
        return at != std::string::npos &&
               translate_device_name(store, out, path, dir, at, std::strlen(device_path_prefix));
      },
      [&] { out.clear(); });
}

uint32_t store_path_hash(volume_store& store, const std::string& path, const std::string& second) {
  if (path.empty()) return 0;
  index_platform_volumes(store);
  return guarded([&] {
    uint32_t hash = path_hash(store, path);
    if (!second.empty()) hash += path_hash(store, second);
    return hash;
  });
}

bool store_attach_volume_names(drive_stats& d) {
  if (d.m_partitions.empty()) return false;
  guarded([&] {
    platform_volume_map volumes;
    if (!query_platform_volumes(volumes)) return;
    for (auto& p : d.m_partitions) {
      const auto it =
          volumes.find(std::to_string(d.m_drive_number) + "_" + std::to_string(p.m_start));
      if (it != volumes.end()) p.m_volume_name = it->second.m_volume_name;
    }
  });
  return false;
}

}  // namespace vk
