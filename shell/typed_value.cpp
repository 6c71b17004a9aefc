#include "shell/typed_value.h"

#include "foundation/vk_bytes.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_unicode.h"

namespace vk {

void typed_value::reset() {
  kind = tv_none;
  vartype = 0;
  consumed = 0;
  count = 0;
  offsets.clear();
  dwords.clear();
  qwords.clear();
  blobs.clear();
  texts.clear();
}

bool is_valid_vartype(int16_t vartype) {
  if (vartype < 0) return false;
  return (vartype & 0xFFF) <= 73;
}

namespace {

// The window being read: p[pos, end). Every take advances the context's
// offset and the value's consumed count together.
struct value_cursor {
  typed_value& out;
  parse_ctx& ctx;
  const uint8_t* p;
  int64_t pos;
  int64_t end;

  int64_t left() const { return end - pos; }
  const uint8_t* at() const { return p + pos; }
  void take(int64_t n) {
    pos += n;
    ctx.offset += static_cast<uint64_t>(n);
    out.consumed += static_cast<uint32_t>(n);
  }
  void skip_zeros() {
    while (pos < end && p[pos] == 0) take(1);
  }
};

bool fixed_elements(value_cursor& c, uint64_t n, int64_t width, uint16_t kind) {
  if (n * static_cast<uint64_t>(width) > static_cast<uint64_t>(c.left())) return false;
  c.out.kind = kind;
  c.out.count = static_cast<uint32_t>(n);
  for (uint64_t i = 0; i < n; ++i) {
    c.out.offsets.push_back(c.ctx.offset);
    if (width == 4)
      c.out.dwords.push_back(load_le32(c.at()));
    else if (width == 8)
      c.out.qwords.push_back(load_le64(c.at()));
    else
      c.out.blobs.emplace_back(reinterpret_cast<const char*>(c.at()), 16);
    c.take(width);
  }
  return true;
}

bool parse_body(typed_value& out, parse_ctx& ctx, const uint8_t* data, int64_t available,
                uint16_t vartype) {
  out.reset();
  if (!data || available <= 0) return false;
  value_cursor c{out, ctx, data, 0, available};
  uint64_t n = 1;
  if ((vartype >> 8) == 0x10) {
    if (c.left() < 4) return false;
    n = load_le32(data);
    c.take(4);
    if (n > static_cast<uint64_t>(c.left())) return false;
  }
  const uint8_t low = static_cast<uint8_t>(vartype & 0xFF);
  out.vartype = low;
  switch (low) {
    case 3: case 10: case 19: case 22:
      return fixed_elements(c, n, 4, tv_dword);
    case 5: case 20: case 21:
      return fixed_elements(c, n, 8, tv_qword);
    case 64:
      return fixed_elements(c, n, 8, tv_filetime);
    case 7:
      return fixed_elements(c, n, 8, tv_date);
    case 72:
      return fixed_elements(c, n, 16, tv_guid);
    case 11: {
      if (n * 2 > static_cast<uint64_t>(c.left())) return false;
      out.kind = tv_dword;
      out.count = static_cast<uint32_t>(n);
      for (uint64_t i = 0; i < n; ++i) {
        // A boolean may take 4 bytes (2 of padding), so each one is tested.
        if (c.left() < 2) {
          out.count = static_cast<uint32_t>(i);
          break;
        }
        uint32_t v = c.left() >= 4 ? load_le32(c.at()) : 0x10000;
        int64_t width = 4;
        if (v != 0 && v != 0xFFFF) {
          v = load_le16(c.at());
          width = 2;
        }
        out.dwords.push_back(v);
        out.offsets.push_back(ctx.offset);
        c.take(width);
      }
      return true;
    }
    case 16: case 17:
      if (n > static_cast<uint64_t>(c.left())) return false;
      out.kind = tv_bytes;
      out.count = static_cast<uint32_t>(n);
      out.blobs.emplace_back(reinterpret_cast<const char*>(c.at()), n);
      out.offsets.push_back(ctx.offset);
      c.take(static_cast<int64_t>(n));
      return true;
    case 65: {
      if (c.left() < 4) return false;
      uint64_t s = load_le32(c.at());
      if (s + 4 > static_cast<uint64_t>(c.left())) return false;
      out.kind = tv_bytes;
      out.count = static_cast<uint32_t>(s);
      c.take(4);
      out.blobs.emplace_back(reinterpret_cast<const char*>(c.at()), s);
      out.offsets.push_back(ctx.offset);
      c.take(static_cast<int64_t>(s));
      return true;
    }
    case 8: {
      out.kind = tv_text;
      out.count = static_cast<uint32_t>(n);
      for (uint64_t i = 0; i < n; ++i) {
        if (c.left() < 4) return out.count = static_cast<uint32_t>(i), true;
        int64_t len = load_le32(c.at());
        c.take(4);
        if (len > c.left()) return out.count = static_cast<uint32_t>(i), true;
        std::string text;
        utf16_to_utf8(c.at(), static_cast<size_t>(len), text, true);
        out.offsets.push_back(ctx.offset);
        out.texts.push_back(std::move(text));
        c.take(len);
        c.skip_zeros();
      }
      return true;
    }
    case 31: {
      out.kind = tv_text;
      out.count = static_cast<uint32_t>(n);
      for (uint64_t i = 0; i < n; ++i) {
        if (c.left() < 4) return out.count = static_cast<uint32_t>(i), true;
        int64_t chars = load_le32(c.at());
        int64_t span = 2 * chars;
        if (span > c.left()) {
          if (chars > c.left()) return out.count = static_cast<uint32_t>(i), true;
          span = chars;  // a count written in bytes
        }
        c.take(4);
        if (span > c.left()) return out.count = static_cast<uint32_t>(i), true;
        std::string text;
        uint32_t r = utf16_to_utf8(c.at(), static_cast<size_t>(span), text, true);
        if (text.empty()) return out.count = static_cast<uint32_t>(i), true;
        out.offsets.push_back(ctx.offset);
        out.texts.push_back(std::move(text));
        if (r < span) span /= 2;
        c.take(span);
        c.skip_zeros();
      }
      return true;
    }
    case 66: {
      out.count = 1;
      out.kind = tv_stream;
      if (c.left() < 4) return true;
      uint64_t z = load_le32(c.at());
      if (z + 4 > static_cast<uint64_t>(c.left())) return true;
      c.take(4);
      std::string name;
      uint32_t r = utf16_to_utf8(c.at(), static_cast<size_t>(z), name, false);
      if (name.empty()) return true;
      out.offsets.push_back(ctx.offset);
      out.texts.push_back(std::move(name));
      c.take(r);
      c.skip_zeros();
      // The stream data is the rest of the window.
      out.offsets.push_back(ctx.offset);
      out.blobs.emplace_back(reinterpret_cast<const char*>(c.at()), c.left());
      out.consumed += static_cast<uint32_t>(c.left());
      return true;
    }
    case 1:
      out.kind = tv_null;
      return false;
    default:
      return false;
  }
}

}  // namespace

bool parse_typed_value(typed_value& out, parse_ctx& ctx, const uint8_t* data, int64_t available,
                       uint16_t vartype) {
  return guarded([&] { return parse_body(out, ctx, data, available, vartype); },
                 [&] { out.reset(); });
}

}  // namespace vk
