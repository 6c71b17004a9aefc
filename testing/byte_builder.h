// Little-endian byte builder for test inputs (LNK records, compound files,
// DestList streams, ...), so that every unit test makes its own bytes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace vesk_test {

class byte_builder {
 public:
  byte_builder() = default;
  // Room for a fixed-size structure up front, so that it is built without regrowing.
  explicit byte_builder(size_t capacity) { m_bytes.reserve(capacity); }
  byte_builder& u8(uint8_t v) {
    m_bytes.push_back(v);
    return *this;
  }
  byte_builder& u16(uint16_t v) { return le(v, 2); }
  byte_builder& u32(uint32_t v) { return le(v, 4); }
  byte_builder& u64(uint64_t v) { return le(v, 8); }
  byte_builder& bytes(const std::vector<uint8_t>& v) {
    m_bytes.insert(m_bytes.end(), v.begin(), v.end());
    return *this;
  }
  byte_builder& bytes(std::initializer_list<uint8_t> v) {
    m_bytes.insert(m_bytes.end(), v.begin(), v.end());
    return *this;
  }
  byte_builder& fill(size_t n, uint8_t v = 0) {
    m_bytes.insert(m_bytes.end(), n, v);
    return *this;
  }
  byte_builder& ascii(std::string_view s, bool terminate = false) {
    m_bytes.insert(m_bytes.end(), s.begin(), s.end());
    if (terminate) m_bytes.push_back(0);
    return *this;
  }
  // ASCII text as UTF-16LE code units.
  byte_builder& utf16(std::u16string_view s, bool terminate = false) {
    for (char16_t c : s) u16(static_cast<uint16_t>(c));
    if (terminate) u16(0);
    return *this;
  }
  byte_builder& pad_to(size_t size, uint8_t v = 0) {
    if (m_bytes.size() < size) m_bytes.resize(size, v);
    return *this;
  }
  // Overwrites at an absolute position, growing the buffer when needed.
  byte_builder& put_u8(size_t at, uint8_t v) { return put(at, v, 1); }
  byte_builder& put_u16(size_t at, uint16_t v) { return put(at, v, 2); }
  byte_builder& put_u32(size_t at, uint32_t v) { return put(at, v, 4); }
  byte_builder& put_u64(size_t at, uint64_t v) { return put(at, v, 8); }

  size_t size() const { return m_bytes.size(); }
  const std::vector<uint8_t>& data() const { return m_bytes; }
  std::vector<uint8_t> take() { return std::move(m_bytes); }

 private:
  byte_builder& le(uint64_t v, int n) {
    for (int i = 0; i < n; ++i) m_bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return *this;
  }
  byte_builder& put(size_t at, uint64_t v, int n) {
    if (m_bytes.size() < at + n) m_bytes.resize(at + n, 0);
    for (int i = 0; i < n; ++i) m_bytes[at + i] = static_cast<uint8_t>(v >> (8 * i));
    return *this;
  }
  std::vector<uint8_t> m_bytes;
};

// Mutations for robustness tests: deterministic for a given seed.
inline std::vector<uint8_t> mutate(const std::vector<uint8_t>& in, std::mt19937& rng,
                                   int flips = 8) {
  std::vector<uint8_t> out = in;
  if (out.empty()) return out;
  std::uniform_int_distribution<size_t> pos(0, out.size() - 1);
  std::uniform_int_distribution<int> byte(0, 255);
  for (int i = 0; i < flips; ++i) out[pos(rng)] = static_cast<uint8_t>(byte(rng));
  return out;
}

inline std::vector<uint8_t> random_bytes(size_t n, std::mt19937& rng) {
  std::vector<uint8_t> out(n);
  std::uniform_int_distribution<int> byte(0, 255);
  for (auto& b : out) b = static_cast<uint8_t>(byte(rng));
  return out;
}

// The folder of real sample files, or an empty path when it is absent. A
// folder reached through a link is named by its real path: tools such as
// find do not enter a link given as their start folder.
inline std::filesystem::path samples_dir() {
#ifdef VESK_SAMPLES_DIR
  std::filesystem::path p(VESK_SAMPLES_DIR);
  std::error_code ec;
  if (std::filesystem::is_directory(p, ec)) {
    std::filesystem::path real = std::filesystem::canonical(p, ec);
    return ec ? p : real;
  }
#endif
  return {};
}

// Writes bytes to a new file at path; false when any step fails.
inline bool write_all(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace vesk_test
