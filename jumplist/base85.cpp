#include "jumplist/base85.h"

#include "foundation/vk_bytes.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_guid.h"
#include "foundation/vk_unicode.h"

namespace vk {

namespace {

constexpr uint8_t kNoDigit = 0xFF;

constexpr std::array<uint8_t, 128> make_digit_table() {
  std::array<uint8_t, 128> t{};
  for (auto& v : t) v = kNoDigit;
  for (size_t i = 0; i < darwin_alphabet.size(); ++i)
    t[static_cast<uint8_t>(darwin_alphabet[i])] = static_cast<uint8_t>(i);
  return t;
}
constexpr auto kDigits = make_digit_table();

// Appends the characters to a string or a stream alike.
template <class Sink>
void encode_to(Sink&& put, const uint8_t* data, size_t size, bool open_marker) {
  size_t column = 0;
  auto emit = [&](char c) {
    if (column == 72) {
      put('\n');
      column = 0;
    }
    put(c);
    ++column;
  };
  if (open_marker) {
    emit('<');
    emit('~');
  }
  for (size_t i = 0; data && i < size; i += 4) {
    const size_t n = size - i < 4 ? size - i : 4;
    uint32_t group = 0;
    for (size_t k = 0; k < 4; ++k) group = (group << 8) | (k < n ? data[i + k] : 0u);
    if (n == 4 && group == 0) {
      emit('z');
      continue;
    }
    char digits[5];
    for (int k = 4; k >= 0; --k) {
      digits[k] = static_cast<char>('!' + group % 85);
      group /= 85;
    }
    for (size_t k = 0; k < n + 1; ++k) emit(digits[k]);
  }
}

bool skipped(unsigned char c) {
  return c == 0 || c == 8 || c == 9 || c == 10 || c == 12 || c == 13 || c == 32 || c == 127;
}

template <class Sink>
bool decode_to(Sink&& put, std::string_view text) {
  size_t i = 0;
  if (text.substr(0, 2) == "<~") i = 2;
  uint64_t group = 0;
  size_t count = 0;
  auto flush = [&](size_t bytes) {
    for (size_t k = 0; k < bytes; ++k) put(static_cast<uint8_t>(group >> (24 - 8 * k)));
  };
  for (; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (skipped(c)) continue;
    if (c == '~' && i + 1 < text.size() && text[i + 1] == '>') break;
    if (c == 'z') {
      if (count != 0) return false;
      group = 0;
      flush(4);
      continue;
    }
    if (c < '!' || c > 'u') return false;
    group = group * 85 + (c - '!');
    if (++count == 5) {
      if (group > 0xFFFFFFFFull) return false;
      flush(4);
      group = 0;
      count = 0;
    }
  }
  if (count == 0) return true;
  if (count == 1) return false;
  const size_t bytes = count - 1;
  for (; count < 5; ++count) group = group * 85 + 84;  // pad with 'u'
  if (group > 0xFFFFFFFFull) return false;
  flush(bytes);
  return true;
}

}  // namespace

bool darwin_guid_decode(std::string_view text, std::array<uint32_t, 4>& words) {
  uint32_t value = 0, weight = 1;
  for (size_t i = 0; i < 20; ++i) {
    if (i % 5 == 0) {
      value = 0;
      weight = 1;
    }
    if (i >= text.size()) return false;
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c > 0x7F || kDigits[c] == kNoDigit) return false;
    value += kDigits[c] * weight;
    if (i % 5 == 4) words[i / 5] = value;
    weight *= 85;
  }
  return true;
}

std::string darwin_guid_encode(const std::array<uint32_t, 4>& words) {
  return guarded([&] {
    std::string out;
    for (uint32_t w : words)
      for (int k = 0; k < 5; ++k, w /= 85) out += darwin_alphabet[w % 85];
    return out;
  });
}

std::string darwin_words_text(const std::array<uint32_t, 4>& words) {
  guid g;
  for (size_t i = 0; i < 4; ++i) store_le32(g.m_bytes + 4 * i, words[i]);
  return guarded([&] { return guid_to_string(g); });
}

std::string ascii85_encode(const uint8_t* data, size_t size, bool open_marker) {
  return guarded([&] {
    std::string out;
    encode_to([&](char c) { out += c; }, data, size, open_marker);
    return out;
  });
}

void ascii85_encode(std::ostream& out, const uint8_t* data, size_t size, bool open_marker) {
  guarded([&] { encode_to([&](char c) { out.put(c); }, data, size, open_marker); });
}

bool ascii85_decode(std::string_view text, std::vector<uint8_t>& out) {
  out.clear();
  return guarded([&] { return decode_to([&](uint8_t b) { out.push_back(b); }, text); });
}

bool ascii85_decode(std::string_view text, std::ostream& out) {
  return guarded(
      [&] { return decode_to([&](uint8_t b) { out.put(static_cast<char>(b)); }, text); });
}

}  // namespace vk
