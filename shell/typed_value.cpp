#include "shell/typed_value.h"

#include "foundation/vk_bytes.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_unicode.h"
#include "shell/property_value.h"
#include "shell/propstore_layout.h"

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

// The typed values of the nesting levels in use, and those kept for reuse.
struct typed_value_stack {
  std::vector<std::unique_ptr<typed_value>> values;
  size_t used = 0;
};

template <>
void scratch_drop<typed_value_stack>::operator()(typed_value_stack* part) const noexcept {
  delete part;
}

typed_value_scratch::typed_value_scratch(shell_scratch& scratch)
    : m_stack(made_part(scratch.typed_values)) {
  if (m_stack.used == m_stack.values.size())
    m_stack.values.push_back(std::make_unique<typed_value>());
  m_value = m_stack.values[m_stack.used++].get();
}

typed_value_scratch::~typed_value_scratch() {
  m_value->reset();
  --m_stack.used;
}

namespace {

using propstore::typed::count_size;

// The window being read: every take advances the context's offset and the
// value's consumed count together with the cursor.
struct value_cursor {
  typed_value& out;
  parse_ctx& ctx;
  byte_view window;
  size_t pos = 0;

  int64_t left() const { return static_cast<int64_t>(window.remaining(pos)); }
  uint16_t u16() const { return window.u16_or_zero(pos); }
  uint32_t u32() const { return window.u32_or_zero(pos); }
  uint64_t u64() const { return window.u64_or_zero(pos); }
  std::string_view bytes(int64_t n) const {
    return {reinterpret_cast<const char*>(window.data() + pos), static_cast<size_t>(n)};
  }
  const uint8_t* at() const { return window.data() + pos; }
  void take(int64_t n) {
    pos += static_cast<size_t>(n);
    ctx.offset += static_cast<uint64_t>(n);
    out.consumed += static_cast<uint32_t>(n);
  }
  void skip_zeros() {
    // Counted first, taken at once.
    size_t end = pos;
    while (end < window.size() && window.u8_or_zero(end) == 0) ++end;
    take(static_cast<int64_t>(end - pos));
  }
  uint32_t done_at(uint64_t i) { return out.count = static_cast<uint32_t>(i); }
};

// Element decoders shared by the vector walk and the one-value path; each
// takes a cursor over the value's window. False when the element does not
// fit (or, for a text, decodes to nothing): the walk stops there.

// One boolean: 2 bytes, or 4 with 2 of padding.
template <class Cursor>
bool one_boolean(Cursor& c, uint32_t& value, uint64_t& at) {
  const int64_t width = boolean_width(c.window.tail(c.pos));
  if (width == 0) return false;
  value = width == 4 ? c.window.u32_or_zero(c.pos) : c.window.u16_or_zero(c.pos);
  at = c.ctx.offset;
  c.take(width);
  return true;
}

// A BSTR: a byte count, then UTF-16; at is where its text starts.
template <class Cursor>
bool one_bstr(Cursor& c, std::string& text, uint64_t& at) {
  if (c.left() < static_cast<int64_t>(count_size)) return false;
  const int64_t len = c.window.u32_or_zero(c.pos);
  c.take(count_size);
  if (len > c.left()) return false;
  utf16_to_utf8(c.at(), static_cast<size_t>(len), text, true);
  at = c.ctx.offset;
  c.take(len);
  c.skip_zeros();
  return true;
}

// An LPWSTR: a count of characters (or of bytes, when the characters would
// not fit), then UTF-16 to its terminator.
template <class Cursor>
bool one_lpwstr(Cursor& c, std::string& text, uint64_t& at) {
  if (c.left() < static_cast<int64_t>(count_size)) return false;
  const int64_t chars = c.window.u32_or_zero(c.pos);
  int64_t span = 2 * chars;
  if (span > c.left()) {
    if (chars > c.left()) return false;
    span = chars;  // a count written in bytes
  }
  c.take(count_size);
  if (span > c.left()) return false;
  const uint32_t r = utf16_to_utf8(c.at(), static_cast<size_t>(span), text, true);
  if (text.empty()) return false;
  at = c.ctx.offset;
  if (r < span) span /= 2;
  c.take(span);
  c.skip_zeros();
  return true;
}

// An LPSTR: a byte count, then 8-bit text (Windows-1252) to its NUL.
template <class Cursor>
bool one_lpstr(Cursor& c, std::string& text, uint64_t& at) {
  if (c.left() < static_cast<int64_t>(count_size)) return false;
  const int64_t len = c.window.u32_or_zero(c.pos);
  c.take(count_size);
  if (len > c.left()) return false;
  read_ansi(c.window, static_cast<int64_t>(c.pos), static_cast<int64_t>(c.pos) + len, text);
  at = c.ctx.offset;
  c.take(len);
  c.skip_zeros();
  return true;
}

bool fixed_elements(value_cursor& c, uint64_t n, int64_t width, uint16_t kind) {
  if (n * static_cast<uint64_t>(width) > static_cast<uint64_t>(c.left())) return false;
  typed_value& out = c.out;
  out.kind = kind;
  out.count = static_cast<uint32_t>(n);
  out.offsets.reserve(n);
  for (uint64_t i = 0; i < n; ++i) {
    out.offsets.push_back(c.ctx.offset);
    if (width == 4)
      out.dwords.push_back(c.u32());
    else if (width == 8)
      out.qwords.push_back(c.u64());
    else
      out.blobs.push_back(c.bytes(width));
    c.take(width);
  }
  return true;
}

bool booleans(value_cursor& c, uint64_t n) {
  if (n * 2 > static_cast<uint64_t>(c.left())) return false;
  c.out.kind = tv_dword;
  c.out.count = static_cast<uint32_t>(n);
  for (uint64_t i = 0; i < n; ++i) {
    uint32_t v = 0;
    uint64_t at = 0;
    if (!one_boolean(c, v, at)) {
      c.done_at(i);
      break;
    }
    c.out.dwords.push_back(v);
    c.out.offsets.push_back(at);
  }
  return true;
}

void store_text(value_cursor& c, std::string&& text) {
  c.out.offsets.push_back(c.ctx.offset);
  c.out.texts.push_back(std::move(text));
}

// The vector walk of n texts, each read by one (one_bstr or one_lpwstr).
template <bool (*one)(value_cursor&, std::string&, uint64_t&)>
bool texts_of(value_cursor& c, uint64_t n) {
  c.out.kind = tv_text;
  c.out.count = static_cast<uint32_t>(n);
  for (uint64_t i = 0; i < n; ++i) {
    std::string text;
    uint64_t at = 0;
    if (!one(c, text, at)) return c.done_at(i), true;
    c.out.offsets.push_back(at);
    c.out.texts.push_back(std::move(text));
  }
  return true;
}

bool stream(value_cursor& c) {
  c.out.count = 1;
  c.out.kind = tv_stream;
  if (c.left() < static_cast<int64_t>(count_size)) return true;
  const uint64_t name_size = c.u32();
  if (name_size + count_size > static_cast<uint64_t>(c.left())) return true;
  c.take(count_size);
  std::string name;
  const uint32_t r = utf16_to_utf8(c.at(), static_cast<size_t>(name_size), name, false);
  if (name.empty()) return true;
  store_text(c, std::move(name));
  c.take(r);
  c.skip_zeros();
  // The stream data is the rest of the window; the offset stays before it.
  c.out.offsets.push_back(c.ctx.offset);
  c.out.blobs.push_back(c.bytes(c.left()));
  c.out.consumed += static_cast<uint32_t>(c.left());
  return true;
}

// The width of one array element of the type (low byte); 0 for the kinds of
// their own size (BSTR, VARIANT), -1 for a type no array holds.
int64_t array_element_width(unsigned low) {
  switch (low) {
    case 0x10:
    case 0x11:
      return 1;
    case 0x02:
    case 0x0B:
    case 0x12:
      return 2;
    case 0x03:
    case 0x04:
    case 0x0A:
    case 0x13:
    case 0x16:
    case 0x17:
      return 4;
    case 0x05:
    case 0x06:
    case 0x07:
      return 8;
    case 0x0E:
      return 16;
    case 0x08:
    case 0x0C:
      return 0;
    default:
      return -1;
  }
}

constexpr int64_t pad4(int64_t n) {
  return (n + 3) & ~int64_t{3};
}

// One element of its own size at `at`: a BSTR (its size and bytes) or a
// VARIANT holding a scalar (its type, padding and value), padded to 4; -1
// when it does not fit or holds what no array element may.
int64_t sized_element(byte_view v, int64_t at, unsigned low) {
  const int64_t left = static_cast<int64_t>(v.size()) - at;
  if (left < static_cast<int64_t>(count_size)) return -1;
  int64_t n = -1;
  // A text's size, then its bytes; size_at: where the size lies.
  const auto text = [&](int64_t size_at) {
    return size_at + int64_t{count_size} + pad4(v.u32_or_zero(static_cast<size_t>(at + size_at)));
  };
  if (low == 0x08) {
    n = text(0);
  } else {
    const uint16_t type = v.u16_or_zero(static_cast<size_t>(at));
    const int64_t width = (type >> 8) ? -1 : array_element_width(type);
    if (width > 0)
      n = 4 + pad4(width);
    else if (type == 0x08)
      n = text(4);
    else if (type == 0x00 || type == 0x01)
      n = 4;
  }
  return n >= 0 && n <= left ? n : -1;
}

}  // namespace

int64_t array_value_size(byte_view data, uint16_t vartype) {
  namespace A = propstore::typed::array;
  const int64_t size = static_cast<int64_t>(data.size());
  const unsigned low = vartype & 0xFF;
  const uint32_t dimensions = data.u32_or_zero(A::dimensions);
  if (size < static_cast<int64_t>(A::first_dimension) || data.u32_or_zero(A::element_type) != low ||
      dimensions == 0 || dimensions > A::max_dimensions)
    return -1;
  int64_t at = A::first_dimension + int64_t{dimensions} * A::dimension_size;
  if (at > size) return -1;
  // The element count, bounded by the bytes as it grows: each element takes
  // at least one.
  int64_t count = 1;
  for (uint32_t d = 0; d < dimensions; ++d) {
    count *= data.u32_or_zero(A::first_dimension + d * A::dimension_size);
    if (count > size) return -1;
  }
  const int64_t width = array_element_width(low);
  if (width > 0) {
    at += pad4(count * width);
  } else if (width == 0) {
    // Each takes 4 bytes or more: the walk ends within the bytes.
    for (int64_t i = 0; i < count && at <= size; ++i) {
      const int64_t n = sized_element(data, at, low);
      if (n < 0) return -1;
      at += n;
    }
  } else {
    return -1;
  }
  return at <= size ? at : -1;
}

namespace {

bool parse_body(typed_value& out, parse_ctx& ctx, const uint8_t* data, int64_t available,
                uint16_t vartype) {
  out.reset();
  if (!data || available <= 0) return false;
  value_cursor c{out, ctx, byte_view(data, static_cast<size_t>(available))};
  if (is_array_vartype(vartype)) {
    // An array is measured by its dimensions and stepped over, not decoded:
    // no form shows one.
    const int64_t n = array_value_size(c.window, vartype);
    if (n > 0) c.take(n);
    return false;
  }
  uint64_t n = 1;
  if ((vartype >> 8) == propstore::typed::vector_flag_byte) {
    if (c.left() < static_cast<int64_t>(count_size)) return false;
    n = c.u32();
    c.take(count_size);
    if (n > static_cast<uint64_t>(c.left())) return false;
  }
  const uint8_t low = static_cast<uint8_t>(vartype & 0xFF);
  out.vartype = low;
  switch (low) {
    case 3:
    case 10:
    case 19:
    case 22:
      return fixed_elements(c, n, 4, tv_dword);
    case 5:
    case 20:
    case 21:
      return fixed_elements(c, n, 8, tv_qword);
    case 64:
      return fixed_elements(c, n, 8, tv_filetime);
    case 7:
      return fixed_elements(c, n, 8, tv_date);
    case 72:
      return fixed_elements(c, n, propstore::typed::guid_size, tv_guid);
    case 11:
      return booleans(c, n);
    case 16:
    case 17:
      if (n > static_cast<uint64_t>(c.left())) return false;
      out.kind = tv_bytes;
      out.count = static_cast<uint32_t>(n);
      out.blobs.push_back(c.bytes(static_cast<int64_t>(n)));
      out.offsets.push_back(ctx.offset);
      c.take(static_cast<int64_t>(n));
      return true;
    case 65: {
      // One blob, whatever a vector count said.
      if (c.left() < static_cast<int64_t>(count_size)) return false;
      const uint64_t s = c.u32();
      if (s + count_size > static_cast<uint64_t>(c.left())) return false;
      out.kind = tv_bytes;
      out.count = static_cast<uint32_t>(s);
      c.take(count_size);
      out.blobs.push_back(c.bytes(static_cast<int64_t>(s)));
      out.offsets.push_back(ctx.offset);
      c.take(static_cast<int64_t>(s));
      return true;
    }
    case 8:
      return texts_of<one_bstr<value_cursor>>(c, n);
    case 31:
      return texts_of<one_lpwstr<value_cursor>>(c, n);
    case 30:
      return texts_of<one_lpstr<value_cursor>>(c, n);
    case 66:
      return stream(c);
    case 1:
      out.kind = tv_null;
      return false;
    default:
      return false;
  }
}

static_assert(propstore::typed::vector_flag_byte == 0x10);

// The window of a single value; every take advances the context's offset.
struct single_cursor {
  parse_ctx& ctx;
  byte_view window;
  size_t pos = 0;

  int64_t left() const { return static_cast<int64_t>(window.remaining(pos)); }
  const uint8_t* at() const { return window.data() + pos; }
  void take(int64_t n) {
    pos += static_cast<size_t>(n);
    ctx.offset += static_cast<uint64_t>(n);
  }
  void skip_zeros() {
    size_t end = pos;
    while (end < window.size() && window.u8_or_zero(end) == 0) ++end;
    take(static_cast<int64_t>(end - pos));
  }
};

bool single_number(single_value& out, single_cursor& c, int64_t width) {
  if (width > c.left()) return false;
  out.number = width == 4 ? c.window.u32_or_zero(c.pos) : c.window.u64_or_zero(c.pos);
  out.offset = c.ctx.offset;
  out.present = true;
  c.take(width);
  return true;
}

bool single_body(single_value& out, std::string& text, single_cursor& c, uint16_t vartype) {
  const uint8_t low = static_cast<uint8_t>(vartype & 0xFF);
  switch (out.kind) {
    case tv_dword:
      if (low == 11) {
        uint32_t v = 0;
        if (!one_boolean(c, v, out.offset)) return false;
        out.number = v;
        out.present = true;
        return true;
      }
      return single_number(out, c, 4);
    case tv_qword:
    case tv_filetime:
    case tv_date:
      return single_number(out, c, 8);
    case tv_guid:
      if (static_cast<int64_t>(propstore::typed::guid_size) > c.left()) return false;
      out.guid_bytes = c.at();
      out.offset = c.ctx.offset;
      out.present = true;
      c.take(propstore::typed::guid_size);
      return true;
    case tv_text:
      // A text that does not fit is no value, and no failure either.
      out.present = low == 8    ? one_bstr(c, text, out.offset)
                    : low == 30 ? one_lpstr(c, text, out.offset)
                                : one_lpwstr(c, text, out.offset);
      return true;
    default:
      return false;
  }
}

}  // namespace

bool parse_single_value(single_value& out, std::string& text, parse_ctx& ctx, const uint8_t* data,
                        int64_t available, uint16_t vartype) {
  out = single_value{};
  text.clear();
  if (!data || available <= 0) return false;
  out.kind = single_value_kind(vartype);
  single_cursor c{ctx, byte_view(data, static_cast<size_t>(available))};
  return guarded(
      ctx,
      [&] {
        const bool ok = single_body(out, text, c, vartype);
        out.consumed = static_cast<uint32_t>(c.pos);
        return ok;
      },
      [&] {
        out.present = false;
        out.consumed = 0;
        text.clear();
      });
}

bool parse_typed_value(typed_value& out, parse_ctx& ctx, const uint8_t* data, int64_t available,
                       uint16_t vartype) {
  return guarded(
      ctx, [&] { return parse_body(out, ctx, data, available, vartype); }, [&] { out.reset(); });
}

}  // namespace vk
