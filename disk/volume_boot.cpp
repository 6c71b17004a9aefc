#include "disk/volume_boot.h"

#include <cstring>
#include <iomanip>
#include <string>

#include "foundation/vk_string.h"

namespace vk {

namespace {

constexpr size_t kMinVolume = 512;
constexpr size_t kSuperblockArea = 2048;  // the blank-OEM and ext tests read this far
constexpr uint32_t kMaxExtLogBlock = 6;   // 64 KiB blocks

bool bytes_at(const uint8_t* p, size_t length, size_t at, const char* text) {
  const size_t n = std::strlen(text);
  return p && at <= length && n <= length - at && std::memcmp(p + at, text, n) == 0;
}

// NUL-terminated text in a fixed field.
std::string fixed_text(const uint8_t* p, size_t n) {
  size_t len = 0;
  while (len < n && p[len]) ++len;
  return std::string(reinterpret_cast<const char*>(p), len);
}

bool has_ext_magic(const uint8_t* p, size_t length) {
  return length >= kSuperblockArea && load_le16(p + ext_magic_at) == ext_magic;
}

// exFAT sizes come from shifts; out-of-range shifts make the record invalid.
bool identify_exfat(partition_entry& r, const boot_sector& bs) {
  const uint32_t sector = exfat_sector_size(bs);
  const uint32_t per_cluster = exfat_sectors_per_cluster(bs);
  if (!sector || !per_cluster) return false;
  r.m_type = 0x07;
  r.m_type_name = "exfat";
  r.m_sector_size = sector;
  r.m_sectors_per_cluster = static_cast<int32_t>(per_cluster);
  r.m_serial = bs.exfat_serial();
  if (r.m_count == 0) r.m_count = bs.exfat_volume_length();
  r.m_identified = 1;
  return true;
}

bool identify_ntfs(partition_entry& r, const boot_sector& bs, const char* name) {
  if (!ntfs_cluster_size(bs)) return false;
  r.m_type = 0x07;
  r.m_type_name = name;
  r.m_sector_size = bs.bytes_per_sector();
  r.m_sectors_per_cluster =
      static_cast<int32_t>(ntfs_sectors_per_cluster(bs.sectors_per_cluster()));
  r.m_serial = static_cast<uint32_t>(bs.ntfs_serial());
  if (r.m_count == 0) r.m_count = bs.ntfs_total_sectors();
  r.m_identified = 1;
  return true;
}

void identify_fat(partition_entry& r, const boot_sector& bs, uint32_t bits) {
  r.m_type = bits == 32 ? 0x0C : bits == 12 ? 0x01 : 0x04;
  r.m_type_name = bits == 32 ? "fat32" : bits == 12 ? "fat12" : "fat16";
  r.m_sector_size = bs.bytes_per_sector();
  r.m_sectors_per_cluster = bs.sectors_per_cluster();
  r.m_serial = bits == 32 ? bs.fat32_serial() : bs.fat16_serial();
  // In their own member: the flags member holds a GPT entry's attributes.
  if (bits == 32) r.m_fat32_flags = bs.fat32_ext_flags();
  if (r.m_count == 0) r.m_count = fat_total_sectors(bs);
  r.m_identified = 1;
}

// "FAT12" or "FAT16" at 54: the type text of a FAT12/16 boot sector, which
// only names the kind; the cluster count decides it.
bool has_fat1x_text(const uint8_t* p, size_t length) {
  return bytes_at(p, length, 54, "FAT12") || bytes_at(p, length, 54, "FAT16");
}

// ext behind an OEM id this library does not know. The start is kept and
// the count given in 512-byte sectors, like every other count of the list.
bool identify_ext_behind_oem(partition_entry& r, const uint8_t* p) {
  const uint8_t* sb = p + ext_superblock_at;
  const uint32_t log_block = load_le32(sb + 24);
  if (log_block > kMaxExtLogBlock) return false;
  const uint32_t block = 1024u << log_block;
  r.m_type = 0x83;
  r.m_type_name = "ext2/3";
  r.m_description = "ext2/3";
  r.m_identified = 1;
  r.m_serial = load_le32(sb + 104);
  r.m_sector_size = 512;
  r.m_sectors_per_cluster = static_cast<int32_t>(block / 512);
  r.m_count = uint64_t{block} * load_le32(sb + 4) / 512;
  return true;
}

bool oem_is_blank(const uint8_t* p) {
  for (size_t i = 3; i <= 10; ++i)
    if (p[i]) return false;
  return true;
}

}  // namespace

bool parse_volume_boot_record(partition_entry& r, const uint8_t* p, size_t length) {
  if (!p || length < kMinVolume) return false;
  if (p[13]) r.m_sectors_per_cluster = p[13];

  // A blank OEM id is ext's or HFS's first sector, or a FAT boot sector
  // whose formatter left the id empty: only the first two end here.
  if (oem_is_blank(p) && length >= kSuperblockArea) {
    if (has_ext_magic(p, length)) {
      const uint8_t* sb = p + ext_superblock_at;
      r.m_type = 0x83;
      r.m_type_name = "ext";
      r.m_volume_name = fixed_text(sb + 120, 16);
      r.m_volume_letter = fixed_text(sb + 136, 64);
      return true;
    }
    const uint16_t sig = load_le16(p + hfs_header_at);
    if (sig == hfsplus_signature || sig == hfsx_signature) {
      r.m_type = 0xAF;
      r.m_type_name = sig == hfsplus_signature ? "hfs+" : "hfsx";
      return true;
    }
  }

  const boot_sector bs = boot_sector_from(p, length);
  // The OEM name is free text: a sector that names exFAT or NTFS but does not
  // hold their geometry is still tried as FAT, so no FAT volume is lost.
  if (bytes_at(p, length, 3, "EXFAT   ") && identify_exfat(r, bs)) return true;
  if (bytes_at(p, length, 3, "NTFS    ") && identify_ntfs(r, bs, "ntfs")) return true;
  if (bytes_at(p, length, 3, "-FVE-FS-") && identify_ntfs(r, bs, "bitlocker container"))
    return true;
  if (is_fat32_vbr(p, length)) {
    identify_fat(r, bs, 32);
    return true;
  }
  if (has_fat1x_text(p, length)) {
    // Without a cluster size the text is all there is to go by.
    const uint32_t bits = fat_entry_bits(bs);
    identify_fat(r, bs, bits == 12 || (bits == 0 && !is_fat16_vbr(p, length)) ? 12 : 16);
    return true;
  }
  if (has_ext_magic(p, length)) return identify_ext_behind_oem(r, p);
  return false;
}

bool identify_volume(partition_entry& record, const uint8_t* bytes, size_t length) {
  return parse_volume_boot_record(record, bytes, length);
}

bool is_vbr_oem_id(const uint8_t* s, size_t length) {
  return bytes_at(s, length, 3, "EXFA") || bytes_at(s, length, 3, "MSDO") ||
         bytes_at(s, length, 3, "NTFS");
}

bool is_mbr_sector(const uint8_t* s, size_t length) {
  return s && length >= 512 && load_le16(s + boot_signature_at) == boot_signature &&
         !is_vbr_oem_id(s, length) && !is_fat_boot_sector(s, length);
}

bool is_fat_boot_sector(const uint8_t* s, size_t length) {
  if (!s || length < 512 || load_le16(s + boot_signature_at) != boot_signature) return false;
  const boot_sector bs = boot_sector_from(s, length);
  const uint8_t per_cluster = bs.sectors_per_cluster();
  if (!valid_sector_size(bs.bytes_per_sector()) || per_cluster == 0 ||
      (per_cluster & (per_cluster - 1)) != 0 || bs.reserved_sectors() == 0 || bs.num_fats() == 0)
    return false;
  if (bs.sectors_per_fat_16() == 0) return is_fat32_vbr(s, length) && bs.sectors_per_fat_32() != 0;
  return has_fat1x_text(s, length);
}

bool is_fat32_vbr(const uint8_t* s, size_t length) {
  return bytes_at(s, length, 82, "FAT32");
}
bool is_fat16_vbr(const uint8_t* s, size_t length) {
  return bytes_at(s, length, 54, "FAT16");
}

bool is_exfat_vbr_valid(const boot_sector& bs) {
  return exfat_sector_size(bs) && exfat_sectors_per_cluster(bs) && bs.signature() == boot_signature;
}

bool is_ntfs_vbr_valid(const boot_sector& bs) {
  const uint32_t per_cluster = ntfs_sectors_per_cluster(bs.sectors_per_cluster());
  if (!valid_sector_size(bs.bytes_per_sector()) || !per_cluster) return false;
  const uint64_t total = bs.ntfs_total_sectors();
  if (total <= 255) return false;
  const uint64_t clusters = total / per_cluster;
  return bs.ntfs_mft_lcn() < clusters && bs.ntfs_mftmirr_lcn() < clusters;
}

bool is_ntfs_at(RAW_DISK_IO& disk, uint64_t offset) {
  if (!disk.is_open()) return false;
  uint8_t head[36] = {};
  uint32_t length = sizeof(head);
  if (!disk.read(head, length, offset, false)) return false;
  return has_ntfs_oem_id(head, length, true);
}

bool dump_bpb(std::ostream& out, const uint8_t* p, size_t length) {
  if (!p || length < bpb_head_size) return false;
  const std::ios_base::fmtflags flags = out.flags();
  const char fill = out.fill();
  std::string oem(reinterpret_cast<const char*>(p + 3), 8);
  std::string key = oem;
  trim_ws(str_to_lower(key));
  const bool ntfs = key == "ntfs";

  auto hexw = [&](uint64_t v, int digits) -> std::ostream& {
    return out << std::setw(digits) << v;
  };
  auto dec = [&](uint64_t v) { out << std::dec << v << std::hex; };
  auto zero_note = [&](uint64_t v, const char* note) {
    if (v == 0 && ntfs) out << note;
  };
  const boot_sector bs = boot_sector_from(p, length);

  out << std::hex << std::right << std::setfill('0');
  out << "boot loader routine:        ";
  for (int i = 0; i < 3; ++i) hexw(p[i], 2) << " ";
  out << '\n';
  out << "keyword:                    \"" << oem << "\"\n";
  out << "bytes/sector:               0x";
  hexw(bs.bytes_per_sector(), 4) << " [";
  dec(bs.bytes_per_sector());
  out << "]\n";
  out << "sectors/cluster:            0x";
  hexw(bs.sectors_per_cluster(), 2) << "   [";
  dec(bs.sectors_per_cluster());
  out << "]\n";
  out << "reserved sectors:           0x";
  hexw(bs.reserved_sectors(), 4);
  zero_note(bs.reserved_sectors(), " [zero for ntfs]");
  out << "\nnum fat copies (fat):       0x";
  hexw(bs.num_fats(), 2);
  zero_note(bs.num_fats(), "   [zero for ntfs]");
  out << "\nroot dir entries (fat):     0x";
  hexw(bs.root_entries(), 4);
  zero_note(bs.root_entries(), " [zero for ntfs]");
  out << "\nnum sectors (0 for FAT32):  0x";
  hexw(bs.total_sectors_16(), 4);
  zero_note(bs.total_sectors_16(), " [zero for ntfs]");
  out << "\nmedia descriptor:           0x";
  hexw(bs.media_descriptor(), 2);
  if (bs.media_descriptor() == 0xF8) out << "   [hard disk]";
  if (bs.media_descriptor() == 0xF0) out << "   [3.5 floppy]";
  out << "\nsectors/fat (for FAT16):    0x";
  hexw(bs.sectors_per_fat_16(), 4);
  zero_note(bs.sectors_per_fat_16(), " [zero for ntfs]");
  out << "\nsectors/track:              0x";
  hexw(bs.sectors_per_track(), 4) << " [";
  dec(bs.sectors_per_track());
  out << "]\nnumber heads:               0x";
  hexw(bs.num_heads(), 4) << " [";
  dec(bs.num_heads());
  out << "]\nhidden sectors:             0x";
  hexw(bs.hidden_sectors(), 8);
  out << "\ntotal sectors:              0x";
  hexw(bs.total_sectors_32(), 8);
  zero_note(bs.total_sectors_32(), " [zero for ntfs]");
  out << '\n';

  out.flags(flags);
  out.fill(fill);
  return true;
}

}  // namespace vk
