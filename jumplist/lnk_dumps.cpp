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
#include "jumplist/lnk_names.h"
#include "jumplist/lnk_parser.h"
#include "jumplist/lnk_record.h"
#include "shell/file_attributes.h"

namespace vk {

namespace {

constexpr size_t kLabelWidth = 29;
constexpr size_t kLinkInfoHeader = 28;
constexpr size_t kVolumeIdFixed = 16;
constexpr size_t kNetworkLinkFixed = 20;
constexpr size_t kTrackerSize = 96;

// Tracker fields, from the block's first byte.
constexpr size_t kTrackerLength = 8;
constexpr size_t kTrackerVersion = 12;
constexpr size_t kTrackerMachineId = 16;
constexpr size_t kDroidVolume = 32;
constexpr size_t kDroidObject = 48;
constexpr size_t kBirthVolume = 64;
constexpr size_t kBirthObject = 80;

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

void hex16(std::string& s, const uint8_t* p) { append_format(s, "%04" PRIx64, load_le16(p)); }
void hex32(std::string& s, const uint8_t* p) { append_format(s, "%08" PRIx64, load_le32(p)); }
void hex64(std::string& s, const uint8_t* p) { append_format(s, "%016" PRIx64, load_le64(p)); }

// A field line whose value is the 32-bit number at that position.
void hex32_line(std::string& s, uint64_t base, size_t at, const char* member, const uint8_t* p,
                const char* suffix = "") {
  field(s, base, at, member);
  hex32(s, p + at);
  s += suffix;
  s += '\n';
}

void guid_text(std::string& s, const uint8_t* p) {
  guid g;
  g.set(p);
  s += guid_to_string(g);
}

bool all_zero(const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (p[i]) return false;
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
    case 1: return " [no root directory]";
    case 2: return " [removable]";
    case 3: return " [fixed]";
    case 4: return " [remote]";
    case 5: return " [cdrom]";
    case 6: return " [RAM drive]";
    default: return " [unk]";
  }
}

void filetime_field(std::string& s, uint64_t base, size_t at, const char* member,
                    const uint8_t* header) {
  field(s, base, at, member);
  hex64(s, header + at);
  const time t(load_le64(header + at), type_time::filetime);
  if (t.valid()) {
    s += " -- ";
    append_date_time(s, t);
    s += " [UTC]";
  }
  s += '\n';
}

// Bytes of a VolumeID, a network link or a tracker block that its own size
// field and the bytes available both cover; 0 when it does not fit.
size_t structure_bytes(const uint8_t* p, size_t available, size_t fixed) {
  if (!p || available < fixed) return 0;
  const uint32_t declared = load_le32(p);
  return declared >= fixed && declared <= available ? declared : 0;
}

size_t volume_bytes(const uint8_t* volume, size_t available) {
  return structure_bytes(volume, available, kVolumeIdFixed);
}
size_t network_bytes(const uint8_t* link, size_t available) {
  return structure_bytes(link, available, kNetworkLinkFixed);
}
// The tracker's fields are read from the first 96 bytes whatever size the
// block declares beyond them.
bool tracker_fits(const uint8_t* block, size_t available) {
  return block && available >= kTrackerSize && load_le32(block) >= kTrackerSize;
}

bool locate(const uint8_t* info, size_t available, size_t field_at, size_t fixed, size_t& at,
            size_t& size) {
  if (!info || available < kLinkInfoHeader) return false;
  const uint32_t declared = load_le32(info);
  const size_t limit = declared < available ? declared : available;
  const uint32_t offset = load_le32(info + field_at);
  if (offset == 0 || offset >= limit) return false;
  const size_t n = structure_bytes(info + offset, limit - offset, fixed);
  if (n == 0) return false;
  at = offset;
  size = n;
  return true;
}

}  // namespace

bool dump_lnk_header(std::ostream& out, const uint8_t* h, size_t available,
                     uint64_t file_offset) {
  if (!h || available < lnk_header_size) return false;
  return write_built(out, [&](std::string& s) {
    const uint64_t base = file_offset;
    field(s, base, 0, "m_lnk_header_size");
    for (size_t i = 0; i < 4; ++i) append_format(s, "%02" PRIx64 " ", h[i]);
    s += '\n';
    field(s, base, 4, "m_lnk_clsid");
    guid_text(s, h + 4);
    s += '\n';

    field(s, base, 20, "m_lnk_flags");
    hex32(s, h + 20);
    const std::string flags = link_flags_names(load_le32(h + 20));
    if (!flags.empty()) s += " -- " + flags;
    s += '\n';
    field(s, base, 24, "m_file_attributes");
    hex32(s, h + 24);
    const std::string attributes = file_attributes_text(load_le32(h + 24), ", ");
    if (!attributes.empty()) s += " -- " + attributes;
    s += '\n';

    filetime_field(s, base, 28, "m_create_time", h);
    filetime_field(s, base, 36, "m_access_time", h);
    filetime_field(s, base, 44, "m_write_time", h);

    field(s, base, 52, "m_file_size");
    s += "0x";
    hex32(s, h + 52);
    append_format(s, " [%" PRIu64 " bytes]\n", load_le32(h + 52));
    hex32_line(s, base, 56, "m_icon_index", h);
    field(s, base, 60, "m_show_cmd");
    hex32(s, h + 60);
    s += " [";
    s += show_command_name(load_le32(h + 60));
    s += "]\n";
    field(s, base, 64, "m_hotkey");
    hex16(s, h + 64);
    s += '\n';
    field(s, base, 66, "m_reserved1");
    hex16(s, h + 66);
    s += "     [should be zero]\n";
    hex32_line(s, base, 68, "m_reserved2", h, " [should be zero]");
    hex32_line(s, base, 72, "m_reserved3", h, " [should be zero]");
    return true;
  });
}

bool dump_link_info(std::ostream& out, const uint8_t* info, size_t available,
                    uint64_t file_offset) {
  if (!info || available < kLinkInfoHeader) return false;
  return write_built(out, [&](std::string& s) {
    static constexpr const char* kMembers[] = {
        "m_size",          "m_LinkInfoHeaderSize",   "m_LinkInfoFlags",
        "m_VolumeIDOffset", "m_LocalBasePathOffset", "m_NetworkReleLinkOffset",
        "m_CommonPathSuffixOffset"};
    for (size_t i = 0; i < 7; ++i) {
      const size_t at = 4 * i;
      field(s, file_offset, at, kMembers[i]);
      hex32(s, info + at);
      const uint32_t value = load_le32(info + at);
      if (at == 4 && value == kLinkInfoHeader) s += " [no optional fields]";
      if (at == 8 && value == 1) s += " [VolumeIDAndLocalBasePath] ";
      if (at == 8 && value == 2) s += " [CommonNetworkRelativeLinkAndPathSuffix] ";
      s += '\n';
    }
    return true;
  });
}

bool write_link_info_flags(std::ostream& out, const uint8_t* info, size_t available) {
  if (!info || available < kLinkInfoHeader) return false;
  return write_built(out, [&](std::string& s) {
    const uint32_t flags = load_le32(info + 8);
    std::string names;
    if (flags & 1) names += "VolumeIDAndLocalBasePath, ";
    if (flags & 2) names += "CommonNetworkRelativeLinkAndPathSuffix, ";
    if (names.empty())
      names = "unk";
    else
      names.resize(names.size() - 2);
    line(s, "LinkInfoFlags:         ", names);
    return true;
  });
}

bool link_info_volume_id(const uint8_t* info, size_t available, size_t& at, size_t& size) {
  return locate(info, available, 12, kVolumeIdFixed, at, size);
}

bool link_info_network_link(const uint8_t* info, size_t available, size_t& at, size_t& size) {
  return locate(info, available, 20, kNetworkLinkFixed, at, size);
}

bool dump_volume_id(std::ostream& out, const uint8_t* volume, size_t available,
                    uint64_t file_offset) {
  const size_t n = volume_bytes(volume, available);
  if (n == 0) return false;
  return write_built(out, [&](std::string& s) {
    hex32_line(s, file_offset, 0, "m_size", volume);
    hex32_line(s, file_offset, 4, "m_DriveType", volume, dump_drive_type(load_le32(volume + 4)));
    hex32_line(s, file_offset, 8, "m_volume_serial_num", volume);
    hex32_line(s, file_offset, 12, "m_volume_name_offset", volume);
    if (n > kVolumeIdFixed) {
      field(s, file_offset, 16, "m_volume_label");
      s += one_line(volume_label_text(volume, n));
      s += '\n';
    }
    return true;
  });
}

bool write_volume_id_lines(std::ostream& out, const uint8_t* volume, size_t available) {
  const size_t n = volume_bytes(volume, available);
  if (n == 0) return false;
  return write_built(out, [&](std::string& s) {
    line(s, "DriveType:             ", drive_type_text(load_le32(volume + 4)));
    line(s, "volume serial num:     ", volume_serial_text(load_le32(volume + 8)));
    const std::string label = one_line(volume_label_text(volume, n));
    if (!label.empty()) line(s, "volume label:          ", label);
    return true;
  });
}

bool write_volume_id_columns(std::ostream& out, const uint8_t* volume, size_t available) {
  const size_t n = volume_bytes(volume, available);
  if (n == 0) return false;
  return write_built(out, [&](std::string& s) {
    column(s, drive_type_text(load_le32(volume + 4)));
    column(s, volume_serial_text(load_le32(volume + 8)));
    column(s, one_line(volume_label_text(volume, n)));
    return true;
  });
}

bool dump_network_link(std::ostream& out, const uint8_t* link, size_t available,
                       uint64_t file_offset) {
  const size_t n = network_bytes(link, available);
  if (n == 0) return false;
  return write_built(out, [&](std::string& s) {
    static constexpr const char* kMembers[] = {"m_size", "m_flags", "m_net_name_offset",
                                               "m_device_name_offset", "m_provider_type"};
    for (size_t i = 0; i < 5; ++i) hex32_line(s, file_offset, 4 * i, kMembers[i], link);
    // The names at the positions their offsets give.
    field(s, file_offset, load_le32(link + 8), "net name");
    s += one_line(network_net_name(link, n));
    s += '\n';
    field(s, file_offset, load_le32(link + 12), "device name");
    s += one_line(network_device_name(link, n));
    s += '\n';
    return true;
  });
}

bool write_network_link_lines(std::ostream& out, const uint8_t* link, size_t available) {
  const size_t n = network_bytes(link, available);
  if (n == 0) return false;
  return write_built(out, [&](std::string& s) {
    const std::string net = one_line(network_net_name(link, n));
    const std::string device = one_line(network_device_name(link, n));
    if (!net.empty()) line(s, "network link:          ", net + "\\");
    if (!device.empty()) line(s, "device name:           ", device);
    return true;
  });
}

bool write_network_link_column(std::ostream& out, const uint8_t* link, size_t available) {
  const size_t n = network_bytes(link, available);
  if (n == 0) return false;
  return write_built(out, [&](std::string& s) {
    const std::string net = one_line(network_net_name(link, n));
    column(s, net.empty() ? net : net + "\\");
    return true;
  });
}

bool dump_tracker_block(std::ostream& out, const uint8_t* block, size_t available,
                        uint64_t file_offset) {
  if (!tracker_fits(block, available)) return false;
  return write_built(out, [&](std::string& s) {
    s += "TrackerDataBlock\n";
    hex32_line(s, file_offset, kTrackerLength, "m_length", block);
    hex32_line(s, file_offset, kTrackerVersion, "m_version", block);
    field(s, file_offset, kTrackerMachineId, "m_machine_id");
    s += one_line(tracker_machine_id(block));
    s += '\n';
    static constexpr struct {
      size_t at;
      const char* member;
    } kDroids[] = {{kDroidVolume, "m_droid_vol"},
                   {kDroidObject, "m_droid_obj"},
                   {kBirthVolume, "m_droid_birth_vol"},
                   {kBirthObject, "m_droid_birth_obj"}};
    for (const auto& d : kDroids) {
      field(s, file_offset, d.at, d.member);
      guid_text(s, block + d.at);
      s += '\n';
    }
    line(s, "MAC address:\t                        ", tracker_mac_address(block, false));
    return true;
  });
}

bool write_tracker_lines(std::ostream& out, const uint8_t* block, size_t available) {
  if (!tracker_fits(block, available)) return false;
  return write_built(out, [&](std::string& s) {
    const std::string machine = one_line(tracker_machine_id(block));
    if (!machine.empty()) line(s, "NETBIOS name:          ", machine);
    if (!all_zero(block + kDroidVolume, 16))
      line(s, "Volume ID:             ", tracker_volume_id(block, false));
    if (!all_zero(block + kDroidObject, 16)) {
      line(s, "Object ID:             ", tracker_object_id(block, false));
      line(s, "MAC address:\t       ", tracker_mac_address(block, false));
    }
    // A birth droid is news only where the link has moved since.
    const auto moved = [&](size_t birth, size_t now) {
      return !all_zero(block + birth, 16) && std::memcmp(block + birth, block + now, 16) != 0;
    };
    if (moved(kBirthVolume, kDroidVolume))
      line(s, "Volume ID (original):  ", tracker_volume_id(block, true));
    if (moved(kBirthObject, kDroidObject))
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
