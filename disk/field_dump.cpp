#include "disk/field_dump.h"

#include <iomanip>
#include <sstream>

#include "foundation/vk_numtext.h"
#include "foundation/vk_unicode.h"

namespace vk {

namespace {

// Lower-case hexadecimal digits without prefix, at least width of them.
std::string hex_digits(uint64_t value, unsigned width) {
  return hex_number_text(value, true, width).substr(2);
}

// Products of two medium values can pass 64 bits; they are printed whole.
std::string hex_u128(unsigned __int128 value) {
  const uint64_t high = static_cast<uint64_t>(value >> 64);
  const uint64_t low = static_cast<uint64_t>(value);
  if (!high) return hex_digits(low, 1);
  return hex_digits(high, 1) + hex_digits(low, 16);
}

std::string product_text(uint64_t a, uint64_t b) {
  return hex_u128(static_cast<unsigned __int128>(a) * b);
}

void field_head(std::ostream& out, const std::string& name, uint64_t offset, size_t width) {
  if (offset == no_field_offset)
    out << "        ";
  else
    out << "0x" << hex_digits(offset, 6);
  out << " : " << name;
  if (name.size() < width) out << std::string(width - name.size(), ' ');
}

size_t number_field(std::ostream& out, const std::string& name, uint64_t value,
                    const std::string& comment, uint64_t offset, size_t width, size_t bytes) {
  std::ostringstream line;
  field_head(line, name, offset, width);
  line << " : 0x" << hex_digits(value, static_cast<unsigned>(bytes * 2));
  if (bytes == 1) {
    if (!comment.empty()) line << " [" << comment << "]";
  } else {
    line << " [" << (comment.empty() ? std::to_string(value) : comment) << "]";
  }
  out << line.str() << '\n';
  return bytes;
}

std::string three_bytes(const boot_sector& bs, size_t at) {
  std::string s;
  for (size_t i = 0; i < 3; ++i) s += hex_digits(bs.m_raw[at + i], 2) + " ";
  return s;
}

}  // namespace

size_t dump_u8_field(std::ostream& out, const std::string& name, uint8_t value,
                     const std::string& comment, uint64_t offset, size_t name_width) {
  return number_field(out, name, value, comment, offset, name_width, 1);
}

size_t dump_u16_field(std::ostream& out, const std::string& name, uint16_t value,
                      const std::string& comment, uint64_t offset, size_t name_width) {
  return number_field(out, name, value, comment, offset, name_width, 2);
}

size_t dump_u32_field(std::ostream& out, const std::string& name, uint32_t value,
                      const std::string& comment, uint64_t offset, size_t name_width) {
  return number_field(out, name, value, comment, offset, name_width, 4);
}

size_t dump_u64_field(std::ostream& out, const std::string& name, uint64_t value,
                      const std::string& comment, uint64_t offset, size_t name_width) {
  return number_field(out, name, value, comment, offset, name_width, 8);
}

void dump_text_field(std::ostream& out, const std::string& name, const std::string& value,
                     const std::string& comment, uint64_t offset, size_t name_width) {
  std::ostringstream line;
  field_head(line, name, offset, name_width);
  line << " : " << value;
  if (!comment.empty()) line << " [" << comment << "]";
  out << line.str() << '\n';
}

void dump_ntfs_boot_sector(const boot_sector& bs, std::ostream& out, uint64_t sector_offset,
                           size_t w) {
  const uint64_t at = sector_offset;
  const uint32_t cluster = ntfs_cluster_size(bs);
  const uint32_t sector = bs.bytes_per_sector();
  const uint32_t index_bytes = ntfs_index_block_size(bs);
  const std::string start =
      " byte offset from start of partition, partition start: 0x" + hex_digits(sector_offset, 1);

  dump_u32_field(out, "m_drive_num", bs.ntfs_drive_num(), "", at + 36, w);
  dump_u64_field(out, "total_sectors", bs.ntfs_total_sectors(),
                 "0x" + product_text(bs.ntfs_total_sectors(), sector) + " bytes", at + 40, w);
  dump_u64_field(out, "mft_start_lcn", bs.ntfs_mft_lcn(),
                 "0x" + product_text(bs.ntfs_mft_lcn(), cluster) + start, at + 48, w);
  dump_u64_field(out, "mftmirr_start_lcn", bs.ntfs_mftmirr_lcn(),
                 "0x" + product_text(bs.ntfs_mftmirr_lcn(), cluster) + start, at + 56, w);
  dump_u8_field(out, "num_clusters_one_mft_record", bs.m_raw[64],
                "0x" + hex_digits(ntfs_mft_record_size(bs), 1) + " bytes", at + 64, w);
  dump_text_field(out, "unk4", three_bytes(bs, 65), "", at + 65, w);
  dump_u8_field(out, "clusters_per_index_allocated", bs.m_raw[68],
                "0x" + hex_digits(sector ? index_bytes / sector : 0, 1) + " sectors, 0x" +
                    hex_digits(index_bytes, 1) + " bytes",
                at + 68, w);
  dump_text_field(out, "unk5", three_bytes(bs, 69), "", at + 69, w);
  dump_u64_field(out, "volume_serial_number", bs.ntfs_serial(), "", at + 72, w);
  dump_u32_field(out, "checksum", bs.ntfs_checksum(), "", at + 80, w);
}

std::string guid_text_or_hex(const uint8_t* bytes16, bool hex) {
  if (!bytes16) return std::string();
  if (!hex) {
    guid g;
    g.set(bytes16);
    return guid_to_string(g);
  }
  std::string s;
  for (size_t i = 0; i < 16; ++i) s += hex_digits(bytes16[i], 2);
  return s;
}

std::string disk_signature_text(uint32_t signature) {
  return hex_digits(signature >> 16, 4) + "-" + hex_digits(signature & 0xFFFF, 4);
}

std::ostream& write_guid_braced(std::ostream& out, const guid& g) {
  return out << "{ " << guid_to_string(g) << " }";
}

}  // namespace vk
