// Inputs for checking a word-at-a-time or vector kernel against a plain loop.
//
// Every length from 0 to 100 units at every alignment from 0 to 15, filled
// at random from a background alphabet (the values a kernel passes over) with
// now and then a deciding value (one a kernel must stop at or look at); then,
// for every length, each position given each deciding value in turn. Each
// input sits at the end of a buffer of its exact size, so that a sanitized
// build reports any read past it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

namespace vk::testing {

constexpr size_t k_kernel_max_units = 100;

// check(const uint8_t* data, size_t bytes) for each input; units of `unit`
// bytes (1 or 2, stored little-endian).
template <class Check>
void for_each_kernel_input(size_t unit, const std::vector<uint16_t>& background,
                           const std::vector<uint16_t>& deciding, Check&& check,
                           uint32_t seed = 0x5EED) {
  std::mt19937 rng(seed);
  auto pick = [&](const std::vector<uint16_t>& from) {
    return from[std::uniform_int_distribution<size_t>(0, from.size() - 1)(rng)];
  };
  auto put = [&](uint8_t* p, size_t at, uint16_t value) {
    p[unit * at] = static_cast<uint8_t>(value);
    if (unit == 2) p[unit * at + 1] = static_cast<uint8_t>(value >> 8);
  };
  auto run = [&](size_t units, size_t align, auto&& fill) {
    const size_t bytes = units * unit;
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[align + bytes]);
    uint8_t* p = buffer.get() + align;
    fill(p);
    check(static_cast<const uint8_t*>(p), bytes);
  };
  for (size_t units = 0; units <= k_kernel_max_units; ++units) {
    for (size_t align = 0; align < 16; ++align) {
      for (int round = 0; round < 4; ++round) {
        run(units, align, [&](uint8_t* p) {
          for (size_t i = 0; i < units; ++i)
            put(p, i, round != 0 && rng() % (4u << round) == 0 ? pick(deciding) : pick(background));
        });
      }
    }
    for (size_t at = 0; at < units; ++at) {
      for (uint16_t value : deciding) {
        run(units, (units + at) % 16, [&](uint8_t* p) {
          for (size_t i = 0; i < units; ++i) put(p, i, i == at ? value : pick(background));
        });
      }
    }
  }
}

// Every byte value, the deciding set of a kernel over bytes.
inline std::vector<uint16_t> every_byte() {
  std::vector<uint16_t> all(256);
  for (uint16_t i = 0; i < 256; ++i) all[i] = i;
  return all;
}

// Byte values from first to last.
inline std::vector<uint16_t> byte_range(uint16_t first, uint16_t last) {
  std::vector<uint16_t> out;
  for (uint32_t i = first; i <= last; ++i) out.push_back(static_cast<uint16_t>(i));
  return out;
}

}  // namespace vk::testing
