#include "foundation/vk_variant.h"

#include <limits>

#include "foundation/vk_bytes.h"
#include "foundation/vk_guard.h"

namespace vk {

namespace {

// Every record is at least this long, so that a reader can tell a record from
// stray trailing bytes; the two shortest forms are padded up to it.
constexpr uint32_t k_min_record = 8;
constexpr uint32_t k_header = 6;

enum class payload_kind { none, pad2, u8_pad, u16, u32, u64, text, guid, bytes };

payload_kind payload_of(uint16_t type) {
  switch (type) {
    case 0:
      return payload_kind::pad2;
    case 1:
      return payload_kind::u8_pad;
    case 2:
      return payload_kind::u16;
    case 3:
    case 4:
    case 15:
    case 16:
    case 25:
    case 26:
      return payload_kind::u32;
    case 8:
    case 12:
    case 13:
    case 17:
    case 18:
    case 21:
    case 22:
    case 23:
    case 24:
      return payload_kind::u64;
    case 11:
    case 30:
    case 31:
      return payload_kind::text;
    case 27:
      return payload_kind::guid;
    case 28:
    case 29:
      return payload_kind::bytes;
    default:
      return payload_kind::none;
  }
}

// Time types that print m_list when the flag word is exactly vf_list.
bool carries_list(uint16_t type, uint32_t flags) {
  if (flags != vf_list) return false;
  return type == 12 || type == 13 || (type >= 17 && type <= 24);
}

void put16(byte_array& out, uint16_t v) {
  uint8_t b[2];
  store_le16(b, v);
  out.insert(out.end(), b, b + 2);
}
void put32(byte_array& out, uint32_t v) {
  uint8_t b[4];
  store_le32(b, v);
  out.insert(out.end(), b, b + 4);
}
void put64(byte_array& out, uint64_t v) {
  uint8_t b[8];
  store_le64(b, v);
  out.insert(out.end(), b, b + 8);
}

}  // namespace

vk_variant_lite::vk_variant_lite(const std::string& text) {
  clear();
  m_type = vt_text;
  m_text = text;
}

vk_variant_lite::vk_variant_lite(const std::string& title, uint64_t width, uint16_t type,
                                 uint32_t flags) {
  init_typed_column(*this, title, width, type, flags);
}

vk_variant_lite::vk_variant_lite(const std::string& title, uint64_t width) {
  init_column(*this, title, width);
}

void vk_variant_lite::clear() {
  m_type = 0;
  m_max_len = 20;
  m_flags = 0;
  m_width = 0;
  m_spare = 0;
  m_bytes.clear();
  m_text.clear();
  m_number = 0;
  m_list.clear();
}

void init_typed_column(vk_variant_lite& cell, const std::string& title, uint64_t width,
                       uint16_t type, uint32_t flags) {
  cell.clear();
  cell.m_text = title;
  cell.m_width = width;
  cell.m_type = type;
  cell.m_flags = flags | vf_descriptor;
}

void init_column(vk_variant_lite& cell, const std::string& title, uint64_t width) {
  init_typed_column(cell, title, width, 0, 0);
}

bool vk_variant_lite::pack_bytes(byte_array& out) const {
  return vk::guarded([&] {
    byte_array rec;
    put16(rec, m_type);
    put32(rec, m_flags);
    if (m_flags & vf_descriptor) {
      // A descriptor carries its width only; widths beyond 32 bits are no width.
      if (m_width > std::numeric_limits<uint32_t>::max()) return false;
      put32(rec, static_cast<uint32_t>(m_width));
    } else {
      switch (payload_of(m_type)) {
        case payload_kind::none:
          return false;
        case payload_kind::pad2:
          put16(rec, 0);
          break;
        case payload_kind::u8_pad:
          rec.push_back(static_cast<uint8_t>(m_number));
          rec.push_back(0);
          break;
        case payload_kind::u16:
          put16(rec, static_cast<uint16_t>(m_number));
          break;
        case payload_kind::u32:
          put32(rec, static_cast<uint32_t>(m_number));
          break;
        case payload_kind::u64:
          put64(rec, m_number);
          if (carries_list(m_type, m_flags)) {
            if (m_list.size() > std::numeric_limits<uint32_t>::max()) return false;
            put32(rec, static_cast<uint32_t>(m_list.size()));
            for (uint64_t v : m_list) put64(rec, v);
          }
          break;
        case payload_kind::text:
          if (m_text.size() > std::numeric_limits<uint32_t>::max()) return false;
          put32(rec, static_cast<uint32_t>(m_text.size()));
          rec.insert(rec.end(), m_text.begin(), m_text.end());
          break;
        case payload_kind::guid:
          if (m_bytes.size() < 16) return false;
          rec.insert(rec.end(), m_bytes.begin(), m_bytes.begin() + 16);
          break;
        case payload_kind::bytes:
          if (m_bytes.size() > std::numeric_limits<uint32_t>::max()) return false;
          put32(rec, static_cast<uint32_t>(m_bytes.size()));
          rec.insert(rec.end(), m_bytes.begin(), m_bytes.end());
          break;
      }
    }
    out.insert(out.end(), rec.begin(), rec.end());
    return true;
  });
}

uint32_t vk_variant_lite::unpack_bytes(const byte_array& in, uint32_t offset) {
  clear();
  return vk::guarded(
      [&]() -> uint32_t {
        if (offset > in.size() || in.size() - offset < k_min_record) return 0;
        // Records never exceed 32-bit sizes; a longer array is read up to that.
        const uint8_t* p = in.data() + offset;
        const size_t left = in.size() - offset;
        uint16_t type = load_le16(p);
        uint32_t flags = load_le32(p + 2);
        size_t pos = k_header;
        auto have = [&](size_t n) { return n <= left - pos; };

        if (flags & vf_descriptor) {
          if (!have(4)) return 0;
          m_width = load_le32(p + pos);
          pos += 4;
        } else {
          switch (payload_of(type)) {
            case payload_kind::none:
              return 0;
            case payload_kind::pad2:
              pos += 2;
              break;
            case payload_kind::u8_pad:
              m_number = p[pos];
              pos += 2;
              break;
            case payload_kind::u16:
              m_number = load_le16(p + pos);
              pos += 2;
              break;
            case payload_kind::u32:
              if (!have(4)) return 0;
              m_number = load_le32(p + pos);
              pos += 4;
              break;
            case payload_kind::u64:
              if (!have(8)) return 0;
              m_number = load_le64(p + pos);
              pos += 8;
              if (carries_list(type, flags)) {
                if (!have(4)) return 0;
                uint32_t count = load_le32(p + pos);
                pos += 4;
                if (count > (left - pos) / 8) return 0;
                m_list.reserve(count);
                for (uint32_t i = 0; i < count; ++i, pos += 8) m_list.push_back(load_le64(p + pos));
              }
              break;
            case payload_kind::text: {
              if (!have(4)) return 0;
              uint32_t len = load_le32(p + pos);
              pos += 4;
              if (!have(len)) return 0;
              m_text.assign(reinterpret_cast<const char*>(p + pos), len);
              pos += len;
              break;
            }
            case payload_kind::guid:
              if (!have(16)) return 0;
              m_bytes.assign(p + pos, p + pos + 16);
              pos += 16;
              break;
            case payload_kind::bytes: {
              if (!have(4)) return 0;
              uint32_t len = load_le32(p + pos);
              pos += 4;
              if (!have(len)) return 0;
              m_bytes.assign(p + pos, p + pos + len);
              pos += len;
              break;
            }
          }
        }
        if (pos > std::numeric_limits<uint32_t>::max()) {
          clear();
          return 0;
        }
        m_type = type;
        m_flags = flags;
        return static_cast<uint32_t>(pos);
      },
      [&] {
        clear();
        return 0;
      });
}

bool pack_variant_list(byte_array& out, const std::vector<vk_variant_lite>& cells, bool append) {
  if (!append) out.clear();
  for (const auto& c : cells) c.pack_bytes(out);
  return !out.empty();
}

bool unpack_variant_list(std::vector<vk_variant_lite>& out, const byte_array& in, bool append) {
  if (!append) out.clear();
  if (in.empty()) return false;
  vk::guarded([&] {
    size_t offset = 0;
    while (offset < in.size() && offset <= std::numeric_limits<uint32_t>::max()) {
      vk_variant_lite cell;
      uint32_t used = cell.unpack_bytes(in, static_cast<uint32_t>(offset));
      if (used == 0) break;
      out.push_back(std::move(cell));
      offset += used;
    }
  });
  return !out.empty();
}

}  // namespace vk
