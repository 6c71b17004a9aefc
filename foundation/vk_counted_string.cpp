#include "foundation/vk_counted_string.h"

#include <cstring>
#include <cwchar>
#include <exception>
#include <new>

#include "foundation/vk_guard.h"
#include "foundation/vk_text.h"
#include "foundation/vk_unicode.h"

namespace vk {

namespace {

// A byte's signed value, as the wide and UTF-16 forms of byte text hold it.
inline uint16_t unit_of(char c) {
  return static_cast<uint16_t>(static_cast<int16_t>(static_cast<signed char>(c)));
}
inline uint16_t unit_of(wchar_t c) {
  return static_cast<uint16_t>(c);
}
inline wchar_t wide_of(char c) {
  return static_cast<wchar_t>(static_cast<signed char>(c));
}

size_t text_length(const char* s) {
  return std::strlen(s);
}
size_t text_length(const wchar_t* s) {
  return std::wcslen(s);
}

}  // namespace

_UNICODE_STRING_EX::_UNICODE_STRING_EX(uint16_t* buffer, uint16_t max_length)
    : MaximumLength(max_length), Buffer(buffer) {
  // Only a buffer with room for one unit gets the terminator.
  if (Buffer != nullptr && MaximumLength >= 2) Buffer[0] = 0;
}

_UNICODE_STRING_EX::_UNICODE_STRING_EX(uint16_t* buffer, uint16_t length, uint16_t max_length)
    : Length(length), MaximumLength(max_length), Buffer(buffer) {}

_UNICODE_STRING_EX::_UNICODE_STRING_EX(uint32_t capacity) {
  if (capacity == 0) return;
  uint16_t* p = new (std::nothrow) uint16_t[capacity];
  if (p == nullptr) return;
  p[0] = 0;
  Buffer = p;
  MaximumLength = static_cast<uint16_t>(2u * capacity);  // never more than was allocated
  owns_buffer = true;
}

_UNICODE_STRING_EX::~_UNICODE_STRING_EX() {
  if (owns_buffer) delete[] Buffer;
}

void _UNICODE_STRING_EX::clear() {
  Length = 0;
  if (owns_buffer) {
    if (Buffer != nullptr) std::memset(Buffer, 0, MaximumLength);
    return;
  }
  MaximumLength = 0;
  Buffer = nullptr;
  m_owner_word = 0;
}

template <typename Ch>
bool _UNICODE_STRING_EX::append_units(const Ch* text) {
  if (text == nullptr) return false;
  const uint64_t n = text_length(text);
  // Text plus terminator, in bytes; computed wide so nothing wraps.
  const uint64_t needed = 2 * (n + 1);
  const uint64_t room = Length < MaximumLength ? uint64_t{MaximumLength} - Length : 0;
  if (Buffer == nullptr || room < needed) {
    if (!owns_buffer) return false;
    const uint64_t new_size = uint64_t{Length} + needed;
    if (new_size > 0xFFFF) return false;
    const size_t units = static_cast<size_t>((new_size + 1) / 2);
    uint16_t* p = new (std::nothrow) uint16_t[units];
    if (p == nullptr) return false;
    std::memset(p, 0, units * 2);
    // The old buffer holds MaximumLength bytes; Length is a public field and
    // may claim more.
    const size_t keep = Length < MaximumLength ? Length : MaximumLength;
    if (Buffer != nullptr && keep != 0) std::memcpy(p, Buffer, keep);
    delete[] Buffer;
    Buffer = p;
    MaximumLength = static_cast<uint16_t>(new_size);
  }
  uint16_t* out = Buffer + Length / 2;
  for (uint64_t i = 0; i < n; ++i) out[i] = unit_of(text[i]);
  out[n] = 0;
  Length = static_cast<uint16_t>(Length + 2 * n);
  return true;
}

bool _UNICODE_STRING_EX::append(const char* text) {
  return append_units(text);
}
bool _UNICODE_STRING_EX::append(const wchar_t* text) {
  return append_units(text);
}

uint32_t utf16_len_capped(const uint16_t* units) {
  if (units == nullptr) return 0;
  for (uint32_t i = 0; i < 513; ++i)
    if (units[i] == 0) return i;
  return 0;
}

size_t utf16_vector_length(const std::vector<uint16_t>& units) {
  if (units.empty()) return 0;
  return units.back() == 0 ? units.size() - 1 : units.size();
}

const uint16_t* ascii_to_utf16_crlf(std::vector<uint16_t>& out, const char* text) {
  out.clear();
  if (text == nullptr || *text == '\0') return nullptr;
  if (!vk::guarded(
          [&] {
            for (const char* p = text; *p != '\0'; ++p) {
              if (*p == '\n') out.push_back('\r');
              out.push_back(unit_of(*p));
            }
            out.push_back(0);
            return true;
          },
          [&] { out.clear(); }))
    return nullptr;
  return out.data();
}

const uint16_t* wide_to_utf16_crlf(std::vector<uint16_t>& out, const wchar_t* text) {
  out.clear();
  if (text == nullptr) return nullptr;
  vk::guarded(
      [&] {
        for (const wchar_t* p = text; *p != L'\0'; ++p) {
          if (*p == L'\n') out.push_back('\r');
          out.push_back(unit_of(*p));
        }
      },
      [&] { out.clear(); });
  return out.empty() ? nullptr : out.data();
}

void widen_ascii(const char* text, std::wstring& out) {
  if (text == nullptr || *text == '\0') return;
  vk::guarded([&] {
    std::wstring w;
    for (const char* p = text; *p != '\0'; ++p) w.push_back(wide_of(*p));
    out.swap(w);
  });
}

void widen_bytes(const std::string& text, std::wstring& out) {
  out.clear();
  vk::guarded(
      [&] {
        out.reserve(text.size());
        for (char c : text) out.push_back(wide_of(c));
      },
      [&] { out.clear(); });
}

wchar_t* widen_to_buffer(const std::string& text, wchar_t* buffer, size_t capacity) {
  if (buffer == nullptr || capacity == 0) return nullptr;
  // The terminator needs a place of its own.
  if (text.size() >= capacity) {
    buffer[0] = 0;
    return nullptr;
  }
  for (size_t i = 0; i < text.size(); ++i) buffer[i] = wide_of(text[i]);
  buffer[text.size()] = 0;
  return buffer;
}

void narrow_wstring(const std::wstring& text, std::string& out) {
  out.clear();
  vk::guarded(
      [&] {
        out.reserve(text.size());
        for (wchar_t c : text) out.push_back(static_cast<char>(static_cast<uint8_t>(c & 0xFF)));
      },
      [&] { out.clear(); });
}

std::string latin1_to_utf8(const char* text) {
  std::string out;
  if (text == nullptr) return out;
  vk::guarded([&] { latin1_string_to_utf8(text, out); }, [&] { out.clear(); });
  return out;
}

std::string to_utf8_copy(const wchar_t* text) {
  if (text == nullptr) return std::string();
  return vk::guarded([&] { return to_utf8(std::wstring(text)); });
}

void to_utf8_assign(const wchar_t* text, std::string& out) {
  out.clear();
  if (text == nullptr) return;
  vk::guarded([&] { out = to_utf8(std::wstring(text)); }, [&] { out.clear(); });
}

bool widen_arg_array(int count, const char* const* args, std::vector<std::wstring>& out) {
  if (args != nullptr) {
    vk::guarded([&] {
      for (int i = 0; i < count; ++i)
        out.push_back(args[i] != nullptr ? from_utf8(args[i]) : std::wstring());
    });
  }
  return !out.empty();
}

void widen_string_list(const std::vector<std::string>& in, std::vector<std::wstring>& out) {
  utf8_list_to_wide(in, out);
}

std::vector<std::wstring> widen_string_list(const std::vector<std::string>& in) {
  std::vector<std::wstring> out;
  widen_string_list(in, out);
  return out;
}

// The shared list converters build the whole list or, when memory runs out,
// report false; the filling forms then leave an empty list.
void widen_string_list_fill(std::vector<std::wstring>& out, const std::vector<std::string>& in) {
  if (!utf8_list_to_wide(in, out)) out.clear();
}

void wide_list_to_utf8(std::vector<std::string>& out, const std::vector<std::wstring>& in) {
  if (!wide_to_utf8_list(in, out)) out.clear();
}

void narrow_string_list(const std::vector<std::wstring>& in, std::vector<std::string>& out) {
  wide_to_utf8_list(in, out);
}

bool printable_text(std::string& out, const uint8_t* data, size_t length, bool keep_crlf,
                    char replacement) {
  out.clear();
  if (data == nullptr || length == 0) return false;
  if (!vk::guarded(
          [&] {
            for (size_t i = 0; i < length && data[i] != 0; ++i) {
              const uint8_t b = data[i];
              if ((b >= 32 && b <= 126) || (keep_crlf && (b == '\r' || b == '\n')))
                out.push_back(static_cast<char>(b));
              else if (replacement != 0)
                out.push_back(replacement);
            }
            return true;
          },
          [&] { out.clear(); }))
    return false;
  return true;
}

size_t printable_prefix(const uint8_t* data, std::string& out, size_t length) {
  out.clear();
  if (data == nullptr || length == 0) return 0;
  size_t n = 0;
  while (n < length && data[n] >= 32 && data[n] <= 126) ++n;
  if (!vk::guarded(
          [&] {
            out.assign(reinterpret_cast<const char*>(data), n);
            return true;
          },
          [&] { out.clear(); }))
    return 0;
  return n;
}

bool lf_to_crlf(const uint8_t* data, size_t length, std::string& out) {
  out.clear();
  if (data == nullptr || length == 0) return false;
  const uint32_t judged = length > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(length);
  if (newline_style(data, judged) != nl_lf) return false;
  if (!vk::guarded(
          [&] {
            out.reserve(length + length / 8);
            for (size_t i = 0; i < length; ++i) {
              if (data[i] == '\n') out.push_back('\r');
              out.push_back(static_cast<char>(data[i]));
            }
            return true;
          },
          [&] { out.clear(); }))
    return false;
  return true;
}

void fill_blanks(std::string& text, size_t count) {
  vk::guarded([&] { text.assign(count, ' '); }, [&] { text.clear(); });
}

bool netbios_name_decode(const char* letters, std::string& name, uint8_t& suffix) {
  name.clear();
  suffix = 0;
  if (letters == nullptr) return false;
  uint8_t bytes[16];
  for (int i = 0; i < 16; ++i) {
    const unsigned hi = static_cast<unsigned>(static_cast<uint8_t>(letters[2 * i]) - 'A');
    const unsigned lo = static_cast<unsigned>(static_cast<uint8_t>(letters[2 * i + 1]) - 'A');
    bytes[i] = static_cast<uint8_t>((hi << 4) | (lo & 0x0F));
  }
  name.assign(reinterpret_cast<const char*>(bytes), 15);
  suffix = bytes[15];
  return true;
}

size_t read_counted_string(std::string& out, const uint8_t* data, size_t length) {
  out.clear();
  if (data == nullptr || length == 0) return 0;
  size_t header = 1;
  size_t n = data[0];
  if (data[0] & 0x80) {
    if (length < 2) return 0;
    header = 2;
    n = (static_cast<size_t>(data[0] & 0x7F) << 8) | data[1];
  }
  if (length == header || n > length - header) return header;
  if (!vk::guarded(
          [&] {
            out.assign(reinterpret_cast<const char*>(data + header), n);
            return true;
          },
          [&] { out.clear(); }))
    return header;
  return header + n;
}

namespace {
constexpr size_t kMaxCounted = 32767;

void put_count(std::vector<uint8_t>& out, size_t n) {
  if (n < 128) {
    out.push_back(static_cast<uint8_t>(n));
  } else {
    out.push_back(static_cast<uint8_t>(0x80 | (n >> 8)));
    out.push_back(static_cast<uint8_t>(n & 0xFF));
  }
}
}  // namespace

bool write_counted_string(std::vector<uint8_t>& out, const std::string& text, bool append) {
  if (!append) out.clear();
  if (text.size() > kMaxCounted) return false;
  const size_t old = out.size();
  if (!vk::guarded(
          [&] {
            put_count(out, text.size());
            out.insert(out.end(), text.begin(), text.end());
            return true;
          },
          [&] { out.resize(old); }))
    return false;
  return true;
}

bool write_counted_string_list(std::vector<uint8_t>& out, const std::vector<std::string>& list,
                               bool append) {
  if (!append) out.clear();
  if (list.size() > kMaxCounted) return false;
  // An element that cannot be written would leave a count that lies about
  // what follows; refuse the whole list instead.
  for (const std::string& s : list)
    if (s.size() > kMaxCounted) return false;
  const size_t old = out.size();
  if (!vk::guarded(
          [&] {
            put_count(out, list.size());
            return true;
          },
          [&] { out.resize(old); }))
    return false;
  for (const std::string& s : list) {
    if (!write_counted_string(out, s, true)) {
      out.resize(old);
      return false;
    }
  }
  return true;
}

}  // namespace vk
