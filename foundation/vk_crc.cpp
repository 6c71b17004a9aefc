#include "foundation/vk_crc.h"

#include <array>
#include <exception>
#include <iomanip>

#include "foundation/vk_guard.h"

namespace vk {

namespace {

constexpr uint64_t k_appid_poly = 0x92C64265D32139A4ull;  // reflected
constexpr uint64_t k_ecma_poly_reflected = 0xC96C5795D7870F42ull;
constexpr uint64_t k_ecma_poly = 0x42F0E1EBA9EA3693ull;
constexpr uint32_t k_crc32_poly = 0xEDB88320u;   // reflected
constexpr uint32_t k_crc32c_poly = 0x82F63B78u;  // reflected

template <class T>
T reflected_entry(T i, T poly) {
  T c = i;
  for (int k = 0; k < 8; ++k)
    c = (c & 1) ? static_cast<T>((c >> 1) ^ poly) : static_cast<T>(c >> 1);
  return c;
}

uint64_t msb_entry(uint64_t i, uint64_t poly) {
  uint64_t c = i << 56;
  for (int k = 0; k < 8; ++k) c = (c >> 63) ? (c << 1) ^ poly : (c << 1);
  return c;
}

template <class T>
std::array<T, 256> make_reflected_table(T poly) {
  std::array<T, 256> t{};
  for (unsigned i = 0; i < 256; ++i) t[i] = reflected_entry<T>(static_cast<T>(i), poly);
  return t;
}

// Sizes a caller's table to 256 entries and fills it; a table that cannot
// be allocated is left empty.
template <class T, class Entry>
void fill_table(std::vector<T>& table, Entry entry) {
  if (!vk::guarded(
          [&] {
            table.resize(256);
            return true;
          },
          [&] { table.clear(); }))
    return;
  for (unsigned i = 0; i < 256; ++i) table[i] = entry(static_cast<T>(i));
}

template <class T, class Table>
T update_reflected(T reg, const uint8_t* p, size_t len, const Table& table) {
  for (size_t i = 0; i < len; ++i) reg = table[(reg ^ p[i]) & 0xFF] ^ (reg >> 8);
  return reg;
}

const std::array<uint64_t, 256>& appid_table() {
  static const std::array<uint64_t, 256> t = make_reflected_table<uint64_t>(k_appid_poly);
  return t;
}

const std::array<uint64_t, 256>& ecma_table() {
  static const std::array<uint64_t, 256> t = make_reflected_table<uint64_t>(k_ecma_poly_reflected);
  return t;
}

const std::array<uint32_t, 256>& crc32_table() {
  static const std::array<uint32_t, 256> t = make_reflected_table<uint32_t>(k_crc32_poly);
  return t;
}

const std::array<uint32_t, 256>& crc32c_table() {
  static const std::array<uint32_t, 256> t = make_reflected_table<uint32_t>(k_crc32c_poly);
  return t;
}

const uint8_t* bytes_of(const std::string& s) {
  return reinterpret_cast<const uint8_t*>(s.data());
}

template <class T>
void table_text(std::ostream& os, const std::vector<T>& table, int digits) {
  if (table.size() != 256) return;
  os << std::hex << std::right << std::setfill('0');
  for (size_t i = 0; i < table.size(); ++i) {
    os << "0x" << std::setw(digits) << static_cast<uint64_t>(table[i]) << " ";
    if ((i + 1) % 5 == 0) os << "\n";
  }
  os << "\n";
}

}  // namespace

// ---- table builders and registers ----

void crc32_build_table(std::vector<uint32_t>& table, uint32_t poly) {
  if (table.size() == 256) return;
  fill_table(table, [poly](uint32_t i) { return reflected_entry<uint32_t>(i, poly); });
}

void crc64_build_table_reflected(std::vector<uint64_t>& table, uint64_t poly) {
  if (table.size() == 256) return;
  fill_table(table, [poly](uint64_t i) { return reflected_entry<uint64_t>(i, poly); });
}

void crc64_build_table_msb(std::vector<uint64_t>& table, uint64_t poly) {
  if (table.size() == 256 && table[1] == poly) return;
  fill_table(table, [poly](uint64_t i) { return msb_entry(i, poly); });
}

void crc64_init_register(uint64_t& reg, bool zero) {
  reg = zero ? 0 : ~uint64_t{0};
}
uint32_t crc32_init_register(uint32_t& reg) {
  return reg = 0xFFFFFFFFu;
}
uint32_t crc32_finish(uint32_t& reg) {
  return reg = ~reg;
}

// ---- CRC-64 ----

uint64_t appid_crc64(const uint8_t* data, size_t len) {
  if (!data || len == 0) return 0;
  return update_reflected<uint64_t>(~uint64_t{0}, data, len, appid_table());
}
uint64_t appid_crc64(const std::vector<uint8_t>& data) {
  return appid_crc64(data.data(), data.size());
}

uint64_t crc64_ecma(const uint8_t* data, size_t len) {
  if (!data || len == 0) return 0;
  return update_reflected<uint64_t>(~uint64_t{0}, data, len, ecma_table());
}
uint64_t crc64_ecma(const std::vector<uint8_t>& data) {
  return crc64_ecma(data.data(), data.size());
}

uint64_t crc64_ecma_with_table(uint64_t& reg, const uint8_t* data, size_t len,
                               std::vector<uint64_t>& table) {
  if (!data || len == 0) return 0;
  crc64_build_table_reflected(table, k_ecma_poly_reflected);
  if (table.size() != 256) return 0;
  crc64_init_register(reg, false);
  reg = update_reflected<uint64_t>(reg, data, len, table);
  return reg;
}
uint64_t crc64_ecma_with_table(uint64_t& reg, const std::vector<uint8_t>& data,
                               std::vector<uint64_t>& table) {
  return crc64_ecma_with_table(reg, data.data(), data.size(), table);
}
uint64_t crc64_ecma_with_table(uint64_t& reg, const std::string& data,
                               std::vector<uint64_t>& table) {
  return crc64_ecma_with_table(reg, bytes_of(data), data.size(), table);
}

uint64_t crc64_ecma182_msb(uint64_t& reg, const uint8_t* data, size_t len,
                           std::vector<uint64_t>& table) {
  reg = 0;
  if (!data || len == 0) return 0;
  crc64_build_table_msb(table, k_ecma_poly);
  if (table.size() != 256) return 0;
  for (size_t i = 0; i < len; ++i) reg = table[(reg >> 56) ^ data[i]] ^ (reg << 8);
  return reg;
}
uint64_t crc64_ecma182_msb(uint64_t& reg, const std::vector<uint8_t>& data,
                           std::vector<uint64_t>& table) {
  if (data.empty()) return 0;  // the register is left as it was
  return crc64_ecma182_msb(reg, data.data(), data.size(), table);
}
uint64_t crc64_ecma182_msb(uint64_t& reg, const std::string& data, std::vector<uint64_t>& table) {
  if (data.empty()) return 0;
  return crc64_ecma182_msb(reg, bytes_of(data), data.size(), table);
}

// ---- CRC-32 ----

uint32_t crc32_table_hash(const uint8_t* data, size_t len) {
  if (!data || len == 0) return 0;
  return update_reflected<uint32_t>(0xFFFFFFFFu, data, len, crc32_table());
}
uint32_t crc32_update_register(uint32_t reg, const uint8_t* data, size_t len) {
  if (!data) return reg;
  return update_reflected<uint32_t>(reg, data, len, crc32_table());
}
uint32_t crc32c_update_register(uint32_t reg, const uint8_t* data, size_t len) {
  if (!data) return reg;
  return update_reflected<uint32_t>(reg, data, len, crc32c_table());
}
bool crc32_table_hash(const std::vector<uint8_t>& data, uint32_t& out) {
  out = crc32_table_hash(data.data(), data.size());
  return out != 0;
}

uint32_t crc32_with_table(uint32_t& reg, const uint8_t* data, size_t len,
                          std::vector<uint32_t>& table) {
  if (!data || len == 0) return 0;
  crc32_build_table(table, k_crc32_poly);
  if (table.size() != 256) return 0;
  crc32_init_register(reg);
  reg = update_reflected<uint32_t>(reg, data, len, table);
  return reg;
}
bool crc32_with_table(uint32_t& reg, const std::vector<uint8_t>& data,
                      std::vector<uint32_t>& table) {
  if (data.empty()) return false;
  return crc32_with_table(reg, data.data(), data.size(), table) != 0;
}
bool crc32_with_table(uint32_t& reg, const std::string& data, std::vector<uint32_t>& table) {
  if (data.empty()) return false;
  return crc32_with_table(reg, bytes_of(data), data.size(), table) != 0;
}

// ---- table text ----

void crc64_table_text(std::ostream& os, const std::vector<uint64_t>& table) {
  vk::guarded([&] { table_text(os, table, 16); });
}
void crc32_table_text(std::ostream& os, const std::vector<uint32_t>& table) {
  vk::guarded([&] { table_text(os, table, 8); });
}

}  // namespace vk
