#include "jumplist/destlist.h"

#include <exception>
#include <vector>

#include "foundation/vk_bytes.h"
#include "foundation/vk_unicode.h"

namespace vk {

namespace {

// Field offsets shared by both layouts.
constexpr size_t kChecksum = 0;
constexpr size_t kDroids = 8;
constexpr size_t kHostName = 72;
constexpr size_t kHostNameSize = 16;
constexpr size_t kEntryNum = 88;
constexpr size_t kMruTime = 100;
constexpr size_t kPinStatus = 108;
// Version 1.
constexpr size_t kPathLength114 = 112;
// Later layout.
constexpr size_t kAccessCount130 = 116;
constexpr size_t kPathLength130 = 128;
constexpr size_t kTrailer130 = 4;  // property storage byte count after the path

byte_view view_of(const uint8_t* raw, int64_t available) {
  if (!raw || available <= 0) return byte_view();
  return byte_view(raw, static_cast<size_t>(available));
}

std::string host_name(byte_view v) {
  std::string out;
  if (!v.has(kHostName, kHostNameSize)) return out;
  const uint8_t* p = v.data() + kHostName;
  for (size_t i = 0; i < kHostNameSize && p[i] != 0; ++i) out += static_cast<char>(p[i]);
  return out;
}

bool path_text(byte_view v, size_t length_at, size_t path_at, std::string& out) {
  out.clear();
  auto length = v.u16(length_at);
  if (!length) return false;
  size_t bytes = size_t{*length} * 2;
  if (!v.has(path_at, bytes)) return false;
  utf16_to_utf8(v.data() + path_at, bytes, out, false);
  return true;
}

bool path_of(const uint8_t* raw, std::string& out, int64_t available, bool v1) {
  try {
    return path_text(view_of(raw, available), v1 ? kPathLength114 : kPathLength130,
                     v1 ? destlist_fixed_size_114 : destlist_fixed_size_130, out);
  } catch (const std::exception&) {
    out.clear();
    return false;
  }
}

bool load_entry(destlist_entry& entry, const uint8_t* raw, int64_t available, bool v1) {
  clear_destlist_entry(entry);
  const byte_view v = view_of(raw, available);
  const size_t fixed = v1 ? destlist_fixed_size_114 : destlist_fixed_size_130;
  // The fixed part first: the path length is read only when it is there.
  if (!v.has(0, fixed)) return false;
  const uint16_t length = load_le16(v.data() + (v1 ? kPathLength114 : kPathLength130));
  const uint64_t size = fixed + uint64_t{length} * 2 + (v1 ? 0 : kTrailer130);
  entry.m_entry_size = static_cast<uint32_t>(size);
  if (size > v.size()) return false;

  try {
    entry.m_valid = 1;
    entry.m_checksum = load_le64(v.data() + kChecksum);
    for (size_t i = 0; i < entry.m_droids.size(); ++i)
      entry.m_droids[i].set(v.data() + kDroids + 16 * i);
    entry.m_netbios_name = host_name(v);
    entry.m_entry_num = load_le64(v.data() + kEntryNum);
    entry.m_mru_time = load_le64(v.data() + kMruTime);
    entry.m_pin_status = load_le32(v.data() + kPinStatus);
    if (!v1) {
      entry.m_has_access_count = 1;
      entry.m_access_count = load_le32(v.data() + kAccessCount130);
    }
    entry.m_path_length = length;
    path_text(v, v1 ? kPathLength114 : kPathLength130, fixed, entry.m_path);
  } catch (const std::exception&) {
    clear_destlist_entry(entry);
    entry.m_entry_size = static_cast<uint32_t>(size);
    return false;
  }

  if (!v1) {
    // A property storage that follows the entry belongs to it: the next
    // entry starts after it when it fits in the stream.
    uint32_t storage = load_le32(v.data() + size - kTrailer130);
    if (storage != 0 && storage <= v.size() - size && size + storage <= 0xFFFFFFFFull)
      entry.m_entry_size = static_cast<uint32_t>(size + storage);
  }
  return true;
}

}  // namespace

void init_destlist_entry(destlist_entry& entry) {
  clear_destlist_entry(entry);
}

void clear_destlist_entry(destlist_entry& entry) {
  entry.m_valid = 0;
  entry.m_entry_size = 0;
  entry.m_checksum = 0;
  for (auto& g : entry.m_droids) g.clear();
  entry.m_netbios_name.clear();
  entry.m_entry_num = 0;
  entry.m_mru_time = 0;
  entry.m_pin_status = 0;
  entry.m_has_access_count = 0;
  entry.m_access_count = 0;
  entry.m_path_length = 0;
  entry.m_path.clear();
}

bool load_destlist_entry_114(destlist_entry& entry, const uint8_t* raw, int64_t available) {
  return load_entry(entry, raw, available, true);
}

bool load_destlist_entry_130(destlist_entry& entry, const uint8_t* raw, int64_t available) {
  return load_entry(entry, raw, available, false);
}

bool load_destlist_entry_for_version(destlist_entry& entry, uint32_t version, const uint8_t* raw,
                                     int64_t available) {
  return load_entry(entry, raw, available, version == 1);
}

size_t destlist_min_entry_size(uint32_t version) {
  return version == 1 ? destlist_min_entry_114 : destlist_min_entry_130;
}

bool load_destlist_entries(const uint8_t* stream, size_t size, uint32_t& version,
                           std::vector<destlist_entry>& out) {
  out.clear();
  version = 0;
  const byte_view v(stream, size);
  if (v.size() < destlist_header_size) return false;
  version = load_le32(v.data());
  const size_t m = destlist_min_entry_size(version);
  const size_t first = destlist_header_size;
  if (version == 1) {
    // The first entry must fit; it may end at the very end of the stream.
    auto length = v.u16(first + kPathLength114);
    if (!length || first + destlist_fixed_size_114 + 2 * size_t{*length} > v.size()) return false;
  } else {
    if (v.size() < destlist_min_entry_130) return true;
    auto length = v.u16(first + kPathLength130);
    if (v.size() <= first + destlist_fixed_size_130 || !length ||
        first + destlist_fixed_size_130 + 2 * size_t{*length} >= v.size())
      return false;
  }
  try {
    destlist_entry entry;
    int64_t left = static_cast<int64_t>(v.size() - first);
    if (!load_destlist_entry_for_version(entry, version, v.data() + first, left)) return true;
    for (size_t o = first; o + m <= v.size();) {
      out.push_back(entry);
      o += entry.m_entry_size;
      if (o > v.size() || v.size() - o < m) break;
      left = static_cast<int64_t>(v.size() - o);
      if (!load_destlist_entry_for_version(entry, version, v.data() + o, left)) break;
    }
  } catch (const std::exception&) {
    return !out.empty();
  }
  return true;
}

bool destlist_entry_path_114(const uint8_t* raw, std::string& out, int64_t available) {
  return path_of(raw, out, available, true);
}

bool destlist_entry_path_130(const uint8_t* raw, std::string& out, int64_t available) {
  return path_of(raw, out, available, false);
}

uint32_t destlist_entry_size_114(const uint8_t* raw, int64_t available) {
  auto length = view_of(raw, available).u16(kPathLength114);
  return length ? static_cast<uint32_t>(destlist_fixed_size_114 + 2 * size_t{*length}) : 0;
}

uint32_t destlist_entry_size_130(const uint8_t* raw, int64_t available) {
  auto length = view_of(raw, available).u16(kPathLength130);
  return length ? static_cast<uint32_t>(destlist_fixed_size_130 + 2 * size_t{*length} + kTrailer130)
                : 0;
}

uint64_t destlist_entry_mru_time(const uint8_t* raw, int64_t available) {
  return view_of(raw, available).u64(kMruTime).value_or(0);
}

std::string destlist_entry_droid_text(const uint8_t* raw, int64_t available, int i) {
  const byte_view v = view_of(raw, available);
  if (i < 0 || i > 3 || !v.has(kDroids + 16 * static_cast<size_t>(i), 16)) return std::string();
  try {
    guid g;
    g.set(v.data() + kDroids + 16 * static_cast<size_t>(i));
    return guid_to_string(g);
  } catch (const std::exception&) {
    return std::string();
  }
}

std::string destlist_entry_host_name(const uint8_t* raw, int64_t available) {
  try {
    return host_name(view_of(raw, available));
  } catch (const std::exception&) {
    return std::string();
  }
}

void clear_destlist_header_raw(destlist_header_raw& raw) {
  raw.fill(0);
}
void clear_destlist_entry_114_raw(destlist_entry_114_raw& raw) {
  raw.fill(0);
}
void clear_destlist_entry_130_raw(destlist_entry_130_raw& raw) {
  raw.fill(0);
}

}  // namespace vk
