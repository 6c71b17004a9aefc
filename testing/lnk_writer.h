// Test-only writer of shell links (LNK): every header field, an ID list with
// any declared size, LinkInfo (8-bit or Unicode-form label, local base path,
// network link, suffix, any offsets), Unicode or 8-bit StringData, any
// extra-data block with any declared size, the terminal block and trailing
// bytes; so that tests, fixtures and fuzz seeds make their own links.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "byte_builder.h"
#include "idlist_writer.h"
#include "jumplist/lnk_layout.h"
#include "propstore_writer.h"

namespace vesk_test {

namespace lnk_l = vk::lnk_layout;

using lnk_bytes_t = std::vector<uint8_t>;
using guid_bytes_t = std::array<uint8_t, 16>;

inline constexpr guid_bytes_t lnk_clsid_bytes = lnk_l::clsid;

struct lnk_network_link {
  std::string net_name;
  std::string device_name;  // none when empty
  uint32_t provider_type = 0x00020000;
  int64_t device_name_offset = -1;  // -1: where the writer puts it
};

struct lnk_link_info {
  uint32_t header_size = lnk_l::link_info::fixed_size;  // 36 adds the two Unicode offsets
  bool has_volume = true;
  uint32_t drive_type = 3;
  uint32_t serial = 0;
  std::string label;
  bool unicode_label = false;    // label offset 20, the label in UTF-16 at 20
  std::u16string label_unicode;  // that label; label's bytes when empty
  std::optional<std::string> local_base_path;
  std::optional<lnk_network_link> network;
  // Its names' UTF-16 forms: their offsets follow the network link's fixed
  // part (then 28 bytes) when either is set.
  std::optional<std::u16string> net_name_unicode, device_name_unicode;
  std::optional<std::string> suffix;  // no suffix offset when absent
  // The UTF-16 forms, after the suffix; their offsets are written (0 when
  // absent) when header_size is 36 or more.
  std::optional<std::u16string> local_base_path_unicode, suffix_unicode;
  int64_t declared_size = -1;     // -1: the real size
  std::optional<uint32_t> flags;  // LinkInfoFlags; by default those of the parts written
  // Overrides of the four offsets of the header (-1: the writer's own).
  int64_t volume_id_offset = -1, local_path_offset = -1, network_offset = -1, suffix_offset = -1;
};

// The five StringData items in their stored order.
enum lnk_string_slot {
  lnk_name = 0,
  lnk_relative_path,
  lnk_working_dir,
  lnk_arguments,
  lnk_icon_location
};

struct lnk_spec {
  // Header. The presence flags and IsUnicode are derived from the parts
  // below; extra_flags adds bits, flags_override replaces the whole word.
  uint32_t extra_flags = 0;
  std::optional<uint32_t> flags_override;
  uint32_t attributes = 0;
  uint64_t create_time = 0, access_time = 0, write_time = 0;
  uint32_t file_size = 0;
  int32_t icon_index = 0;
  uint32_t show_cmd = 1;
  uint16_t hotkey = 0;
  uint16_t reserved1 = 0;
  uint32_t reserved2 = 0, reserved3 = 0;

  std::optional<lnk_bytes_t> idlist;  // items with their terminator
  int64_t idlist_declared = -1;       // IDListSize; -1: the real size

  std::optional<lnk_link_info> link_info;
  std::optional<lnk_bytes_t> link_info_raw;  // written as is instead of link_info

  bool unicode = true;
  std::array<std::optional<std::u16string>, 5> strings;
  std::array<int64_t, 5> string_counts = {-1, -1, -1, -1, -1};  // -1: the real count

  std::vector<lnk_bytes_t> extra_blocks;
  bool terminate = true;
  lnk_bytes_t trailing;
};

inline lnk_bytes_t lnk_link_info_bytes(const lnk_link_info& li) {
  namespace V = lnk_l::volume_id;
  namespace N = lnk_l::network_link;
  namespace I = lnk_l::link_info;
  byte_builder vol;
  if (li.has_volume) {
    vol.put_u32(V::drive_type, li.drive_type).put_u32(V::serial, li.serial);
    if (li.unicode_label) {
      vol.put_u32(V::label_offset, V::unicode_label_at)
          .put_u32(V::label_offset_unicode, V::unicode_label_at);
      if (li.label_unicode.empty())
        for (char c : li.label) vol.u16(static_cast<uint8_t>(c));
      else
        vol.utf16(li.label_unicode);
      vol.u16(0);
    } else {
      vol.put_u32(V::label_offset, V::ansi_label_at).ascii(li.label, true);
    }
    vol.put_u32(V::size, static_cast<uint32_t>(vol.size()));
  }
  byte_builder net;
  if (li.network) {
    const auto& n = *li.network;
    const bool wide = li.net_name_unicode || li.device_name_unicode;
    const uint32_t net_at = N::fixed_size + (wide ? 8 : 0);
    const uint32_t device_at =
        n.device_name.empty() ? 0 : static_cast<uint32_t>(net_at + n.net_name.size() + 1);
    net.put_u32(N::flags, n.device_name.empty() ? 0 : 1)
        .put_u32(N::net_name_offset, net_at)
        .put_u32(N::device_name_offset, n.device_name_offset >= 0
                                            ? static_cast<uint32_t>(n.device_name_offset)
                                            : device_at)
        .put_u32(N::provider_type, n.provider_type)
        .pad_to(net_at)
        .ascii(n.net_name, true);
    if (!n.device_name.empty()) net.ascii(n.device_name, true);
    for (auto [field, text] : {std::pair{N::net_name_offset_unicode, &li.net_name_unicode},
                               std::pair{N::device_name_offset_unicode, &li.device_name_unicode}}) {
      if (!*text) continue;
      net.put_u32(field, static_cast<uint32_t>(net.size())).utf16(**text, true);
    }
    if (wide && !li.net_name_unicode) net.put_u32(N::net_name_offset_unicode, 0);
    if (wide && !li.device_name_unicode) net.put_u32(N::device_name_offset_unicode, 0);
    net.put_u32(N::size, static_cast<uint32_t>(net.size()));
  }
  const uint32_t header = li.header_size;
  uint32_t at = header;
  const uint32_t vol_at = li.has_volume ? at : 0;
  at += static_cast<uint32_t>(vol.size());
  const uint32_t local_at = li.local_base_path ? at : 0;
  if (li.local_base_path) at += static_cast<uint32_t>(li.local_base_path->size() + 1);
  const uint32_t net_at = li.network ? at : 0;
  at += static_cast<uint32_t>(net.size());
  const uint32_t suffix_at = li.suffix ? at : 0;
  if (li.suffix) at += static_cast<uint32_t>(li.suffix->size() + 1);
  const uint32_t local_unicode_at = li.local_base_path_unicode ? at : 0;
  if (li.local_base_path_unicode)
    at += static_cast<uint32_t>(2 * (li.local_base_path_unicode->size() + 1));
  const uint32_t suffix_unicode_at = li.suffix_unicode ? at : 0;
  if (li.suffix_unicode) at += static_cast<uint32_t>(2 * (li.suffix_unicode->size() + 1));

  auto pick = [](int64_t override_value, uint32_t own) {
    return override_value >= 0 ? static_cast<uint32_t>(override_value) : own;
  };
  byte_builder b;
  b.put_u32(I::size, li.declared_size >= 0 ? static_cast<uint32_t>(li.declared_size) : at)
      .put_u32(I::header_size, header)
      .put_u32(I::flags,
               li.flags
                   ? *li.flags
                   : (li.has_volume || li.local_base_path ? I::flag_volume_and_local_path : 0u) |
                         (li.network ? I::flag_network_and_suffix : 0u))
      .put_u32(I::volume_id_offset, pick(li.volume_id_offset, vol_at))
      .put_u32(I::local_base_path_offset, pick(li.local_path_offset, local_at))
      .put_u32(I::network_link_offset, pick(li.network_offset, net_at))
      .put_u32(I::common_path_suffix_offset, pick(li.suffix_offset, suffix_at));
  if (header >= I::long_header_size)
    b.put_u32(I::local_base_path_offset_unicode, local_unicode_at)
        .put_u32(I::common_path_suffix_offset_unicode, suffix_unicode_at);
  b.pad_to(header);
  b.bytes(vol.data());
  if (li.local_base_path) b.ascii(*li.local_base_path, true);
  b.bytes(net.data());
  if (li.suffix) b.ascii(*li.suffix, true);
  for (const auto& text : {li.local_base_path_unicode, li.suffix_unicode}) {
    if (!text) continue;
    for (char16_t c : *text) b.u16(static_cast<uint16_t>(c));
    b.u16(0);
  }
  return b.take();
}

inline uint32_t lnk_spec_flags(const lnk_spec& s) {
  if (s.flags_override) return *s.flags_override;
  namespace F = lnk_l::flag;
  uint32_t flags = s.extra_flags;
  if (s.idlist) flags |= F::has_idlist;
  if (s.link_info || s.link_info_raw) flags |= F::has_link_info;
  for (size_t i = 0; i < s.strings.size(); ++i)
    if (s.strings[i]) flags |= F::has_name << i;  // the five flags follow one another
  if (s.unicode) flags |= F::is_unicode;
  return flags;
}

inline lnk_bytes_t lnk_header_bytes(const lnk_spec& s) {
  namespace H = lnk_l::header;
  byte_builder b;
  b.put_u32(H::header_size, H::size);
  for (size_t i = 0; i < lnk_clsid_bytes.size(); ++i) b.put_u8(H::clsid + i, lnk_clsid_bytes[i]);
  b.put_u32(H::flags, lnk_spec_flags(s))
      .put_u32(H::file_attributes, s.attributes)
      .put_u64(H::create_time, s.create_time)
      .put_u64(H::access_time, s.access_time)
      .put_u64(H::write_time, s.write_time)
      .put_u32(H::file_size, s.file_size)
      .put_u32(H::icon_index, static_cast<uint32_t>(s.icon_index))
      .put_u32(H::show_cmd, s.show_cmd)
      .put_u16(H::hotkey, s.hotkey)
      .put_u16(H::reserved1, s.reserved1)
      .put_u32(H::reserved2, s.reserved2)
      .put_u32(H::reserved3, s.reserved3)
      .pad_to(H::size);
  return b.take();
}

inline lnk_bytes_t write_lnk(const lnk_spec& s) {
  byte_builder b;
  b.bytes(lnk_header_bytes(s));
  if (s.idlist) {
    b.u16(static_cast<uint16_t>(s.idlist_declared >= 0 ? s.idlist_declared
                                                       : int64_t(s.idlist->size())));
    b.bytes(*s.idlist);
  }
  if (s.link_info_raw)
    b.bytes(*s.link_info_raw);
  else if (s.link_info)
    b.bytes(lnk_link_info_bytes(*s.link_info));
  for (size_t i = 0; i < s.strings.size(); ++i) {
    if (!s.strings[i]) continue;
    const std::u16string& text = *s.strings[i];
    b.u16(
        static_cast<uint16_t>(s.string_counts[i] >= 0 ? s.string_counts[i] : int64_t(text.size())));
    for (char16_t c : text) {
      if (s.unicode)
        b.u16(static_cast<uint16_t>(c));
      else
        b.u8(static_cast<uint8_t>(c));
    }
  }
  for (const auto& block : s.extra_blocks) b.bytes(block);
  if (s.terminate) b.u32(0);
  b.bytes(s.trailing);
  return b.take();
}

// ---- extra-data blocks ----

// BlockSize (the real one unless declared is given), signature, body.
inline lnk_bytes_t extra_block(uint32_t signature, const lnk_bytes_t& body, int64_t declared = -1) {
  namespace B = lnk_l::block;
  byte_builder b;
  b.put_u32(B::size,
            static_cast<uint32_t>(declared >= 0 ? declared : int64_t(body.size() + B::header_size)))
      .put_u32(B::signature, signature)
      .bytes(body);
  return b.take();
}

// The 788-byte layout of the environment, Darwin and icon-environment blocks.
inline lnk_bytes_t text_pair_block(uint32_t signature, const std::string& ansi,
                                   const std::u16string& wide) {
  namespace X = lnk_l::text_block;
  constexpr size_t body_at = lnk_l::block::body;
  byte_builder body;
  body.ascii(ansi).pad_to(X::wide - body_at);
  for (char16_t c : wide) body.u16(static_cast<uint16_t>(c));
  body.pad_to(X::size - body_at);
  lnk_bytes_t bytes = body.take();
  bytes.resize(X::size - body_at);
  return extra_block(signature, bytes);
}
inline lnk_bytes_t environment_block(const std::string& ansi, const std::u16string& wide) {
  return text_pair_block(lnk_l::signature::environment, ansi, wide);
}
inline lnk_bytes_t darwin_block(const std::string& ansi, const std::u16string& wide) {
  return text_pair_block(lnk_l::signature::darwin, ansi, wide);
}
inline lnk_bytes_t icon_environment_block(const std::string& ansi, const std::u16string& wide) {
  return text_pair_block(lnk_l::signature::icon_environment, ansi, wide);
}
inline lnk_bytes_t console_block(uint32_t size = lnk_l::console::size) {
  return extra_block(lnk_l::signature::console, lnk_bytes_t(size - lnk_l::block::header_size, 0));
}
inline lnk_bytes_t tracker_block(const std::string& machine_id, const guid_bytes_t& volume,
                                 const guid_bytes_t& object, const guid_bytes_t& birth_volume,
                                 const guid_bytes_t& birth_object) {
  namespace T = lnk_l::tracker;
  constexpr size_t body_at = lnk_l::block::body;
  byte_builder b;
  b.put_u32(T::length - body_at, T::size - T::length).put_u32(T::version - body_at, 0);
  b.ascii(machine_id).pad_to(T::volume_droid - body_at);
  for (const auto* g : {&volume, &object, &birth_volume, &birth_object})
    b.bytes(lnk_bytes_t(g->begin(), g->end()));
  return extra_block(lnk_l::signature::tracker, b.take());
}
inline lnk_bytes_t console_fe_block(uint32_t code_page) {
  byte_builder b;
  b.u32(code_page);
  return extra_block(lnk_l::signature::console_fe, b.take());
}
inline lnk_bytes_t special_folder_block(uint32_t id, uint32_t offset = 0) {
  byte_builder b;
  b.u32(id).u32(offset);
  return extra_block(lnk_l::signature::special_folder, b.take());
}
inline lnk_bytes_t shim_block(const std::u16string& layer, size_t size = lnk_l::shim::min_size) {
  byte_builder b;
  b.utf16(layer, true).pad_to(size - lnk_l::block::header_size);
  return extra_block(lnk_l::signature::shim, b.take());
}
// Storages one after another and the terminating u32 zero.
inline lnk_bytes_t property_store_block(const std::vector<lnk_bytes_t>& storages) {
  byte_builder b;
  for (const auto& s : storages) b.bytes(s);
  b.u32(0);
  b.pad_to(lnk_l::property_store::min_size - lnk_l::block::header_size);
  return extra_block(lnk_l::signature::property_store, b.take());
}
inline lnk_bytes_t known_folder_block(const guid_bytes_t& id, uint32_t offset = 0) {
  byte_builder b;
  b.bytes(lnk_bytes_t(id.begin(), id.end())).u32(offset);
  return extra_block(lnk_l::signature::known_folder, b.take());
}
// Items with their terminator.
inline lnk_bytes_t vista_idlist_block(const lnk_bytes_t& items) {
  return extra_block(lnk_l::signature::vista_idlist, items);
}

// The object identifier of the written tracker blocks.
inline guid_bytes_t written_object_id() {
  return {0xbb, 0xe3, 0x6e, 0x84, 0x39, 0x70, 0xde, 0x11,
          0x9d, 0x20, 0x00, 0x1d, 0x09, 0xfa, 0x5a, 0x1c};
}

// One block of each kind that needs no other structure: environment,
// console, tracker, console code page, special folder, darwin, icon
// environment and shim.
inline std::vector<lnk_bytes_t> simple_extra_blocks() {
  const guid_bytes_t object = written_object_id();
  return {
      environment_block("%TEMP%\\x", u"%TEMP%\\x"),
      console_block(),
      tracker_block("desktop-01", object, object, object, object),
      console_fe_block(1252),
      special_folder_block(36),
      darwin_block("", u"w_?=5}!!!!!!!!!!!!!!Feature>!!!!!!!!!!!!!!!!!!!!"),
      icon_environment_block("", u"%SystemRoot%\\a.ico"),
      shim_block(u"WinXPSp3"),
  };
}

// A link with every part the parser reads: the seed of the robustness
// tests and the benchmark.
inline lnk_spec full_written_spec() {
  lnk_spec s;
  s.attributes = 0x20;
  s.create_time = 132572616638819438u;
  s.file_size = 4096;
  s.idlist = idlist({shell_item(0x1F, from_hex("50e04fd020ea3a6910a2d808002b30309d")),
                     file_entry_item(0x32, 4096, 0x5865, 0x3904, 0x20, "report.docx",
                                     file_entry_extension(0, 0x5865, 0x3904, 0x5865, 0x3904,
                                                          u"report.docx", 1234, 5))});
  lnk_link_info li;
  li.label = "DATA";
  li.serial = 0x1234ABCD;
  li.local_base_path = "C:\\Temp\\";
  li.network = lnk_network_link{"\\\\server\\share", "Z:"};
  li.suffix = "report.docx";
  s.link_info = li;
  s.strings = {u"Отчёт 2024", u"..\\report.docx", u"C:\\Temp", u"/q", u"%SystemRoot%\\a.ico"};
  const auto store =
      storage(storage_fmtid_b725(), {int_value(10, 0x1F, lpwstr_data(u"report.docx"))});
  s.extra_blocks = simple_extra_blocks();
  s.extra_blocks.insert(
      s.extra_blocks.end(),
      {property_store_block({store}), known_folder_block(written_object_id()),
       vista_idlist_block(idlist({file_entry_item(0x32, 1, 0x5865, 0x3904, 0x20, "v.txt")}))});
  return s;
}
inline lnk_bytes_t full_written_link() {
  return write_lnk(full_written_spec());
}

}  // namespace vesk_test
