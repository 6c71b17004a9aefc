// The body of the shell_item fuzz target: every shell reader that takes a
// byte range of its own rather than a whole ID list (the item tests, one
// item and its 0xBEEF run, the version-5 and recycle-bin blocks, the bounded
// text readers, the carving readers, the embedded-structure scans and the
// special property streams). Shell code only, so that the shell test program
// runs the same routine over its truncations.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "shell/embedded_scan.h"
#include "shell/idlist.h"
#include "shell/item_carving.h"
#include "shell/property_store.h"
#include "shell/shell_item.h"

namespace vesk_fuzz {

inline constexpr size_t k_max_shell_input = 16 * 1024;

inline int run_shell_item(const uint8_t* data, size_t size) {
  if (size > k_max_shell_input) size = k_max_shell_input;
  // An exact copy, so that a read past the last byte is caught.
  const std::vector<uint8_t> in(data, data + size);
  const uint8_t* p = in.empty() ? nullptr : in.data();
  const int64_t n = static_cast<int64_t>(in.size());
  const vk::cmd_params settings;
  bool (*tests[])(const uint8_t*, int64_t) = {vk::is_type_2e_item,
                                              vk::is_type_73_77_item,
                                              vk::is_type_2c_item,
                                              vk::is_type_61_67_item,
                                              vk::is_type_61_item,
                                              vk::is_property_list_header,
                                              vk::is_sized_record_with_offsets,
                                              vk::is_cfsf_header,
                                              vk::is_45177777_block};
  for (auto test : tests) test(p, n);
  vk::variable_header_length(p, n);
  {
    std::string name, s1, s2, s3;
    uint64_t a = 0, b = 0;
    vk::parse_beef_v5_id11(p, n, name, s1, s2, s3, a, b);
    vk::parse_ctx ctx;
    ctx.debug = 1;
    vk::recycle_block_debug_length(p, n, ctx);
    vk::shell_item_record rec;
    vk::parse_45177777_block(p, ctx, rec, p, n);
  }
  {
    std::string s;
    const vk::byte_view v(p, in.size());
    for (int64_t start : {int64_t{0}, int64_t{1}, n / 2, n - 1, n})
      for (int64_t end : {int64_t{0}, n / 2, n - 1, n, n + 7}) {
        vk::read_utf16(v, start, end, s);
        vk::read_ansi(v, start, end, s);
      }
  }
  if (p == nullptr) return 0;
  {
    vk::shell_item_record rec;
    vk::parse_ctx ctx;
    vk::parse_shell_item(rec, p, n, true, false, 0, ctx, settings);
    vk::parse_beef_block_list(rec, p, n, ctx, settings);
  }
  {
    std::vector<vk::shell_item_record> carved;
    vk::carve_file_entry_items(carved, p, static_cast<uint32_t>(size), settings);
    vk::parse_ctx ctx;
    vk::shell_item_record rec;
    vk::parse_cfsf_item(p, ctx, rec, p, static_cast<uint32_t>(size), settings);
  }
  {
    vk::parse_ctx ctx;
    vk::shell_item_record rec;
    vk::scan_extension_blocks(ctx, rec, p, n, settings);
    vk::property_value_map found;
    vk::scan_string_properties(p, n, found, nullptr, ctx);
  }
  for (bool autolist : {false, true}) {
    vk::parse_ctx ctx;
    vk::shell_item_record rec;
    if (autolist)
      vk::parse_autolist_stream(rec, ctx, p, n, settings);
    else
      vk::parse_condition_stream(rec, ctx, p, n, settings);
  }
  return 0;
}

}  // namespace vesk_fuzz
