#include "jumplist/lnk_dumps.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "foundation/vk_bytes.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_guid.h"
#include "foundation/vk_time.h"
#include "foundation/vk_unicode.h"
#include "jumplist/extra_data.h"
#include "jumplist/lnk_layout.h"
#include "jumplist/lnk_names.h"
#include "jumplist/lnk_parser.h"
#include "jumplist/lnk_record.h"
#include "shell/file_attributes.h"

namespace vk {

namespace {

namespace L = lnk_layout;
namespace H = lnk_layout::header;
namespace T = lnk_layout::tracker;

constexpr size_t kLabelWidth = 29;
constexpr size_t kLinkInfoHeader = L::link_info::fixed_size;
constexpr size_t kVolumeIdFixed = L::volume_id::fixed_size;
constexpr size_t kNetworkLinkFixed = L::network_link::fixed_size;
constexpr size_t kTrackerSize = T::size;

// The text is written at once, so that a writer that stops leaves nothing.
bool emit(std::ostream& out, const std::string& text) {
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  return true;
}

template <class Build>
bool write_built(std::ostream& out, Build&& build) {
  return guarded([&] {
    std::string text;
    if (!build(text)) return false;
    return emit(out, text);
  });
}

void append_format(std::string& s, const char* format, uint64_t value) {
  char buf[32];
  const int n = std::snprintf(buf, sizeof buf, format, value);
  if (n > 0) s.append(buf, static_cast<size_t>(n) < sizeof buf ? static_cast<size_t>(n) : 0);
}

// "00000014 : m_lnk_flags:                 ": the field's absolute position
// and its member name, padded to the value column.
void field(std::string& s, uint64_t base, size_t at, const char* member) {
  append_format(s, "%08" PRIx64 " : ", base + at);
  const size_t start = s.size();
  s += member;
  s += ':';
  const size_t width = s.size() - start;
  if (width < kLabelWidth) s.append(kLabelWidth - width, ' ');
}

// Every writer has checked that its fields lie inside v before it runs, so
// the reads below take their values whole.
void hex16(std::string& s, byte_view v, size_t at) {
  append_format(s, "%04" PRIx64, v.u16(at).value_or(0));
}
void hex32(std::string& s, byte_view v, size_t at) {
  append_format(s, "%08" PRIx64, v.u32(at).value_or(0));
}
void hex64(std::string& s, byte_view v, size_t at) {
  append_format(s, "%016" PRIx64, v.u64(at).value_or(0));
}
uint32_t u32_at(byte_view v, size_t at) {
  return v.u32(at).value_or(0);
}

// A field line whose value is the 32-bit number at that position.
void hex32_line(std::string& s, uint64_t base, size_t at, const char* member, byte_view v,
                const char* suffix = "") {
  field(s, base, at, member);
  hex32(s, v, at);
  s += suffix;
  s += '\n';
}

void guid_text(std::string& s, byte_view v, size_t at) {
  guid g;
  if (auto bytes = v.guid_bytes(at)) g.set(bytes->data());
  s += guid_to_string(g);
}

bool all_zero(byte_view v, size_t at, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (v.u8(at + i).value_or(0)) return false;
  return true;
}

// Texts that hold a line feed are dropped, as the parser drops them, so
// that no text of the input can fake a line of the dump.
std::string one_line(std::string text) {
  if (text.find('\n') != std::string::npos) text.clear();
  return text;
}

void line(std::string& s, const char* label, const std::string& value) {
  s += label;
  s += value;
  s += '\n';
}

void column(std::string& s, const std::string& value) {
  s += value.empty() ? "-" : value;
  s += ", ";
}

// The dump's own drive-type names, which differ from the report's.
const char* dump_drive_type(uint32_t type) {
  switch (type) {
    case 1:
      return " [no root directory]";
    case 2:
      return " [removable]";
    case 3:
      return " [fixed]";
    case 4:
      return " [remote]";
    case 5:
      return " [cdrom]";
    case 6:
      return " [RAM drive]";
    default:
      return " [unk]";
  }
}

void filetime_field(std::string& s, uint64_t base, size_t at, const char* member,
                    byte_view header) {
  field(s, base, at, member);
  hex64(s, header, at);
  const time t(header.u64(at).value_or(0), type_time::filetime);
  if (t.valid()) {
    s += " -- ";
    append_date_time(s, t);
    s += " [UTC]";
  }
  s += '\n';
}

// Bytes of a VolumeID, a network link or a tracker block that its own size
// field and the bytes available both cover; 0 when it does not fit.
// The size field at 0 of a VolumeID, a network link and a tracker block.
constexpr size_t kSizeField = 0;

size_t structure_bytes(byte_view v, size_t fixed) {
  if (v.size() < fixed) return 0;
  const uint32_t declared = u32_at(v, kSizeField);
  return declared >= fixed && declared <= v.size() ? declared : 0;
}

size_t volume_bytes(const uint8_t* volume, size_t available) {
  return structure_bytes(byte_view(volume, available), kVolumeIdFixed);
}
size_t network_bytes(const uint8_t* link, size_t available) {
  return structure_bytes(byte_view(link, available), kNetworkLinkFixed);
}
// The tracker's fields are read from the first 96 bytes whatever size the
// block declares beyond them.
bool tracker_fits(const uint8_t* block, size_t available) {
  const byte_view v(block, available);
  return v.size() >= kTrackerSize && u32_at(v, L::block::size) >= kTrackerSize;
}

bool locate(const uint8_t* p, size_t available, size_t field_at, size_t fixed, size_t& at,
            size_t& size) {
  const byte_view info(p, available);
  if (info.size() < kLinkInfoHeader) return false;
  const uint32_t declared = u32_at(info, L::link_info::size);
  const size_t limit = declared < available ? declared : available;
  const uint32_t offset = u32_at(info, field_at);
  if (offset == 0 || offset >= limit) return false;
  const size_t n = structure_bytes(info.clamp(offset, limit - offset), fixed);
  if (n == 0) return false;
  at = offset;
  size = n;
  return true;
}

}  // namespace

bool dump_lnk_header(std::ostream& out, const uint8_t* p, size_t available, uint64_t file_offset) {
  if (!p || available < lnk_header_size) return false;
  const byte_view h(p, H::size);
  return write_built(out, [&](std::string& s) {
    const uint64_t base = file_offset;
    field(s, base, H::header_size, "m_lnk_header_size");
    for (size_t i = 0; i < 4; ++i)
      append_format(s, "%02" PRIx64 " ", h.u8(H::header_size + i).value_or(0));
    s += '\n';
    field(s, base, H::clsid, "m_lnk_clsid");
    guid_text(s, h, H::clsid);
    s += '\n';

    field(s, base, H::flags, "m_lnk_flags");
    hex32(s, h, H::flags);
    const std::string flags = link_flags_names(u32_at(h, H::flags));
    if (!flags.empty()) s += " -- " + flags;
    s += '\n';
    field(s, base, H::file_attributes, "m_file_attributes");
    hex32(s, h, H::file_attributes);
    const std::string attributes = file_attributes_text(u32_at(h, H::file_attributes), ", ");
    if (!attributes.empty()) s += " -- " + attributes;
    s += '\n';

    filetime_field(s, base, H::create_time, "m_create_time", h);
    filetime_field(s, base, H::access_time, "m_access_time", h);
    filetime_field(s, base, H::write_time, "m_write_time", h);

    field(s, base, H::file_size, "m_file_size");
    s += "0x";
    hex32(s, h, H::file_size);
    append_format(s, " [%" PRIu64 " bytes]\n", u32_at(h, H::file_size));
    hex32_line(s, base, H::icon_index, "m_icon_index", h);
    field(s, base, H::show_cmd, "m_show_cmd");
    hex32(s, h, H::show_cmd);
    s += " [";
    s += show_command_name(u32_at(h, H::show_cmd));
    s += "]\n";
    field(s, base, H::hotkey, "m_hotkey");
    hex16(s, h, H::hotkey);
    s += '\n';
    field(s, base, H::reserved1, "m_reserved1");
    hex16(s, h, H::reserved1);
    s += "     [should be zero]\n";
    hex32_line(s, base, H::reserved2, "m_reserved2", h, " [should be zero]");
    hex32_line(s, base, H::reserved3, "m_reserved3", h, " [should be zero]");
    return true;
  });
}

bool dump_link_info(std::ostream& out, const uint8_t* p, size_t available, uint64_t file_offset) {
  if (!p || available < kLinkInfoHeader) return false;
  const byte_view info(p, kLinkInfoHeader);
  return write_built(out, [&](std::string& s) {
    namespace I = L::link_info;
    static constexpr struct {
      size_t at;
      const char* member;
    } kFields[] = {{I::size, "m_size"},
                   {I::header_size, "m_LinkInfoHeaderSize"},
                   {I::flags, "m_LinkInfoFlags"},
                   {I::volume_id_offset, "m_VolumeIDOffset"},
                   {I::local_base_path_offset, "m_LocalBasePathOffset"},
                   {I::network_link_offset, "m_NetworkReleLinkOffset"},
                   {I::common_path_suffix_offset, "m_CommonPathSuffixOffset"}};
    for (const auto& f : kFields) {
      field(s, file_offset, f.at, f.member);
      hex32(s, info, f.at);
      const uint32_t value = u32_at(info, f.at);
      if (f.at == I::header_size && value == kLinkInfoHeader) s += " [no optional fields]";
      if (f.at == I::flags && value == I::flag_volume_and_local_path)
        s += " [VolumeIDAndLocalBasePath] ";
      if (f.at == I::flags && value == I::flag_network_and_suffix)
        s += " [CommonNetworkRelativeLinkAndPathSuffix] ";
      s += '\n';
    }
    return true;
  });
}

bool write_link_info_flags(std::ostream& out, const uint8_t* info, size_t available) {
  if (!info || available < kLinkInfoHeader) return false;
  return write_built(out, [&](std::string& s) {
    const uint32_t flags = u32_at(byte_view(info, available), L::link_info::flags);
    std::string names;
    if (flags & L::link_info::flag_volume_and_local_path) names += "VolumeIDAndLocalBasePath, ";
    if (flags & L::link_info::flag_network_and_suffix)
      names += "CommonNetworkRelativeLinkAndPathSuffix, ";
    if (names.empty())
      names = "unk";
    else
      names.resize(names.size() - 2);
    line(s, "LinkInfoFlags:         ", names);
    return true;
  });
}

bool link_info_volume_id(const uint8_t* info, size_t available, size_t& at, size_t& size) {
  return locate(info, available, L::link_info::volume_id_offset, kVolumeIdFixed, at, size);
}

bool link_info_network_link(const uint8_t* info, size_t available, size_t& at, size_t& size) {
  return locate(info, available, L::link_info::network_link_offset, kNetworkLinkFixed, at, size);
}

bool dump_volume_id(std::ostream& out, const uint8_t* volume, size_t available,
                    uint64_t file_offset) {
  namespace V = L::volume_id;
  const size_t n = volume_bytes(volume, available);
  if (n == 0) return false;
  const byte_view v(volume, n);
  return write_built(out, [&](std::string& s) {
    hex32_line(s, file_offset, V::size, "m_size", v);
    hex32_line(s, file_offset, V::drive_type, "m_DriveType", v,
               dump_drive_type(u32_at(v, V::drive_type)));
    hex32_line(s, file_offset, V::serial, "m_volume_serial_num", v);
    hex32_line(s, file_offset, V::label_offset, "m_volume_name_offset", v);
    if (n > kVolumeIdFixed) {
      field(s, file_offset, V::label, "m_volume_label");
      s += one_line(volume_label_text(v));
      s += '\n';
    }
    return true;
  });
}

bool write_volume_id_lines(std::ostream& out, const uint8_t* volume, size_t available) {
  const size_t n = volume_bytes(volume, available);
  if (n == 0) return false;
  const byte_view v(volume, n);
  return write_built(out, [&](std::string& s) {
    line(s, "DriveType:             ", drive_type_text(u32_at(v, L::volume_id::drive_type)));
    line(s, "volume serial num:     ", volume_serial_text(u32_at(v, L::volume_id::serial)));
    const std::string label = one_line(volume_label_text(v));
    if (!label.empty()) line(s, "volume label:          ", label);
    return true;
  });
}

bool write_volume_id_columns(std::ostream& out, const uint8_t* volume, size_t available) {
  const size_t n = volume_bytes(volume, available);
  if (n == 0) return false;
  const byte_view v(volume, n);
  return write_built(out, [&](std::string& s) {
    column(s, drive_type_text(u32_at(v, L::volume_id::drive_type)));
    column(s, volume_serial_text(u32_at(v, L::volume_id::serial)));
    column(s, one_line(volume_label_text(v)));
    return true;
  });
}

bool dump_network_link(std::ostream& out, const uint8_t* link, size_t available,
                       uint64_t file_offset) {
  namespace N = L::network_link;
  const size_t n = network_bytes(link, available);
  if (n == 0) return false;
  const byte_view v(link, n);
  return write_built(out, [&](std::string& s) {
    static constexpr struct {
      size_t at;
      const char* member;
    } kFields[] = {{N::size, "m_size"},
                   {N::flags, "m_flags"},
                   {N::net_name_offset, "m_net_name_offset"},
                   {N::device_name_offset, "m_device_name_offset"},
                   {N::provider_type, "m_provider_type"}};
    for (const auto& f : kFields) hex32_line(s, file_offset, f.at, f.member, v);
    // The names at the positions their offsets give.
    field(s, file_offset, u32_at(v, N::net_name_offset), "net name");
    s += one_line(network_net_name(v));
    s += '\n';
    field(s, file_offset, u32_at(v, N::device_name_offset), "device name");
    s += one_line(network_device_name(v));
    s += '\n';
    return true;
  });
}

bool write_network_link_lines(std::ostream& out, const uint8_t* link, size_t available) {
  const size_t n = network_bytes(link, available);
  if (n == 0) return false;
  const byte_view v(link, n);
  return write_built(out, [&](std::string& s) {
    const std::string net = one_line(network_net_name(v));
    const std::string device = one_line(network_device_name(v));
    if (!net.empty()) line(s, "network link:          ", net + "\\");
    if (!device.empty()) line(s, "device name:           ", device);
    return true;
  });
}

bool write_network_link_column(std::ostream& out, const uint8_t* link, size_t available) {
  const size_t n = network_bytes(link, available);
  if (n == 0) return false;
  const byte_view v(link, n);
  return write_built(out, [&](std::string& s) {
    const std::string net = one_line(network_net_name(v));
    column(s, net.empty() ? net : net + "\\");
    return true;
  });
}

bool dump_tracker_block(std::ostream& out, const uint8_t* block, size_t available,
                        uint64_t file_offset) {
  if (!tracker_fits(block, available)) return false;
  const byte_view v(block, kTrackerSize);
  return write_built(out, [&](std::string& s) {
    s += "TrackerDataBlock\n";
    hex32_line(s, file_offset, T::length, "m_length", v);
    hex32_line(s, file_offset, T::version, "m_version", v);
    field(s, file_offset, T::machine_id, "m_machine_id");
    s += one_line(tracker_machine_id(block));
    s += '\n';
    static constexpr struct {
      size_t at;
      const char* member;
    } kDroids[] = {{T::volume_droid, "m_droid_vol"},
                   {T::object_droid, "m_droid_obj"},
                   {T::birth_volume_droid, "m_droid_birth_vol"},
                   {T::birth_object_droid, "m_droid_birth_obj"}};
    for (const auto& d : kDroids) {
      field(s, file_offset, d.at, d.member);
      guid_text(s, v, d.at);
      s += '\n';
    }
    line(s, "MAC address:\t                        ", tracker_mac_address(block, false));
    return true;
  });
}

bool write_tracker_lines(std::ostream& out, const uint8_t* block, size_t available) {
  if (!tracker_fits(block, available)) return false;
  const byte_view v(block, kTrackerSize);
  return write_built(out, [&](std::string& s) {
    const std::string machine = one_line(tracker_machine_id(block));
    if (!machine.empty()) line(s, "NETBIOS name:          ", machine);
    if (!all_zero(v, T::volume_droid, T::droid_size))
      line(s, "Volume ID:             ", tracker_volume_id(block, false));
    if (!all_zero(v, T::object_droid, T::droid_size)) {
      line(s, "Object ID:             ", tracker_object_id(block, false));
      line(s, "MAC address:\t       ", tracker_mac_address(block, false));
    }
    // A birth droid is news only where the link has moved since.
    const auto moved = [&](size_t birth, size_t now) {
      return !all_zero(v, birth, T::droid_size) &&
             std::memcmp(block + birth, block + now, T::droid_size) != 0;
    };
    if (moved(T::birth_volume_droid, T::volume_droid))
      line(s, "Volume ID (original):  ", tracker_volume_id(block, true));
    if (moved(T::birth_object_droid, T::object_droid))
      line(s, "Object ID (original):  ", tracker_object_id(block, true));
    return true;
  });
}

bool write_tracker_columns(std::ostream& out, const uint8_t* block, size_t available) {
  if (!tracker_fits(block, available)) return false;
  return write_built(out, [&](std::string& s) {
    column(s, one_line(tracker_machine_id(block)));
    column(s, tracker_volume_id(block, false));
    column(s, tracker_object_id(block, false));
    column(s, tracker_mac_address(block, false));
    return true;
  });
}

}  // namespace vk
