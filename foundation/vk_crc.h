// Table-driven CRC-32 and CRC-64 routines, and the CRC-64 behind jump-list
// AppIDs.
//
// Every routine returns 0 for a null pointer or an empty buffer; the register
// forms then leave their register unchanged. The register forms restart
// their register on every call, so calls do not chain.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace vk {

// AppID hash: CRC-64 reflected, polynomial 0x92C64265D32139A4 (reflected form),
// register starting all ones, no final XOR. Callers pass the upper-cased
// application path as UTF-16LE bytes without a terminator.
uint64_t appid_crc64(const uint8_t* data, size_t len);
uint64_t appid_crc64(const std::vector<uint8_t>& data);

// CRC-64 reflected over the ECMA-182 polynomial (0xC96C5795D7870F42 reflected),
// register starting all ones, no final XOR.
uint64_t crc64_ecma(const uint8_t* data, size_t len);
uint64_t crc64_ecma(const std::vector<uint8_t>& data);
// The same with a caller-owned table (built when it does not hold 256 entries).
uint64_t crc64_ecma_with_table(uint64_t& reg, const uint8_t* data, size_t len,
                               std::vector<uint64_t>& table);
uint64_t crc64_ecma_with_table(uint64_t& reg, const std::vector<uint8_t>& data,
                               std::vector<uint64_t>& table);
uint64_t crc64_ecma_with_table(uint64_t& reg, const std::string& data,
                               std::vector<uint64_t>& table);

// CRC-64/ECMA-182: MSB first, polynomial 0x42F0E1EBA9EA3693, register
// starting 0 (set to 0 first on every call), no final XOR; caller-owned table.
uint64_t crc64_ecma182_msb(uint64_t& reg, const uint8_t* data, size_t len,
                           std::vector<uint64_t>& table);
uint64_t crc64_ecma182_msb(uint64_t& reg, const std::vector<uint8_t>& data,
                           std::vector<uint64_t>& table);
uint64_t crc64_ecma182_msb(uint64_t& reg, const std::string& data, std::vector<uint64_t>& table);

// CRC-32/JAMCRC: reflected 0xEDB88320, register starting 0xFFFFFFFF, no final XOR.
uint32_t crc32_table_hash(const uint8_t* data, size_t len);
// Stores the value in out; true when it is not zero (false, out 0, when empty).
bool crc32_table_hash(const std::vector<uint8_t>& data, uint32_t& out);
// Runs a CRC-32 register (reflected 0xEDB88320) over more bytes and returns
// it; the caller starts it at all ones and inverts it at the end, so calls
// chain.
uint32_t crc32_update_register(uint32_t reg, const uint8_t* data, size_t len);
// CRC-32C (Castagnoli, reflected 0x82F63B78) run over more bytes: the
// caller chooses the start and any final inversion, so calls chain (ext4
// starts its metadata checksums at all ones and never inverts them).
uint32_t crc32c_update_register(uint32_t reg, const uint8_t* data, size_t len);
// The same with a caller-owned table; the register receives the value.
uint32_t crc32_with_table(uint32_t& reg, const uint8_t* data, size_t len,
                          std::vector<uint32_t>& table);
bool crc32_with_table(uint32_t& reg, const std::vector<uint8_t>& data,
                      std::vector<uint32_t>& table);
bool crc32_with_table(uint32_t& reg, const std::string& data, std::vector<uint32_t>& table);

// Register helpers.
void crc64_init_register(uint64_t& reg, bool zero);  // all ones, or 0 with zero set
uint32_t crc32_init_register(uint32_t& reg);         // 0xFFFFFFFF
uint32_t crc32_finish(uint32_t& reg);                // inverts every bit

// Table builders. The reflected builders leave a table that already holds 256
// entries untouched; the MSB-first builder reuses one whose entry 1 is poly.
void crc32_build_table(std::vector<uint32_t>& table, uint32_t poly);
void crc64_build_table_reflected(std::vector<uint64_t>& table, uint64_t poly);
void crc64_build_table_msb(std::vector<uint64_t>& table, uint64_t poly);

// A 256-entry table as "0x<digits> " entries, five to a line; any other size
// prints nothing. The stream is left set to hexadecimal, right-aligned, with
// fill '0'.
void crc64_table_text(std::ostream& os, const std::vector<uint64_t>& table);
void crc32_table_text(std::ostream& os, const std::vector<uint32_t>& table);

}  // namespace vk
