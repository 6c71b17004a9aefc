#include "jumplist/raw_scan/raw_scan.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "cmdline/common_options.h"
#include "cmdline/console.h"
#include "cmdline/progress_lines.h"
#include "foundation/vk_args.h"
#include "foundation/vk_bytes.h"
#include "foundation/vk_dir_ops.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_guid.h"
#include "foundation/vk_hex_view.h"
#include "foundation/vk_misc.h"
#include "foundation/vk_text.h"
#include "foundation/vk_text_parse.h"
#include "jumplist/lnk_carve.h"
#include "jumplist/lnk_parser.h"
#include "jumplist/lnk_signature.h"
#include "jumplist/record_report.h"

namespace vk {

namespace {

constexpr uint64_t kSector = 512;
constexpr uint64_t kProgressMinImage = 16384;
constexpr int32_t kProgressWidth = 45;

const std::vector<uint8_t>& mft_record_pattern() {
  static const std::vector<uint8_t> pattern = {'F', 'I', 'L', 'E'};
  return pattern;
}

std::string carved_label(const std::string& name, uint64_t offset) {
  char hex[40];
  std::snprintf(hex, sizeof hex, "0x%08" PRIx64 ")", offset);
  std::string label;
  if (!name.empty()) label = "[" + name + "] ";
  return label + "Shortcut LNK (carved - " + hex;
}

void show_progress(const mft_lnk_candidate& c, int64_t& last_percent) {
  const bool periodic = c.m_image_size > kProgressMinImage && c.m_block_count % 5 == 0;
  const auto offset = static_cast<unsigned long long>(c.m_offset);
  if (!c.m_percent) {
    if (periodic) status_printf_width(kProgressWidth, "offset 0x%llx", offset);
    return;
  }
  const int64_t percent = percent_of(c.m_offset, c.m_image_size);
  if (percent == last_percent && !periodic) return;
  last_percent = percent;
  status_printf_width(kProgressWidth, "percent done: %lld [offset 0x%llx]",
                      static_cast<long long>(percent), offset);
}

// Hits of one block: the aligned search as it is, unless it met a link
// header off a sector start or an MFT record at one; links then lie
// anywhere, and every LNK header of the block is taken.
void block_hits(mft_lnk_candidate& c, uint32_t length) {
  std::vector<uint32_t> indexes;
  find_patterns_aligned(c.m_block.data(), length, c.m_hits, indexes, c.m_patterns, c.m_window,
                        c.m_alignment);
  for (size_t i = 0; i < indexes.size() && i < c.m_hits.size(); ++i) {
    const std::vector<uint8_t>& found = c.m_patterns[indexes[i]];
    const bool aligned = c.m_hits[i] % kSector == 0;
    if ((found == c.m_lnk_pattern && !aligned) || (found == mft_record_pattern() && aligned)) {
      find_pattern_vector_offsets(c.m_block.data(), length, c.m_lnk_pattern, c.m_hits, 0, false);
      return;
    }
  }
}

bool scan_block(mft_lnk_candidate& c, uint32_t length, lnk::useropts& options,
                std::vector<uint8_t>& tail, const lnk_record_sink& sink) {
  block_hits(c, length);
  bool found = false;
  for (size_t i = 0; i < c.m_hits.size(); ++i) {
    const uint64_t at = c.m_hits[i];
    const bool last = i + 1 == c.m_hits.size();
    const uint64_t end = last ? length : c.m_hits[i + 1];
    if (at >= end || end > length) continue;
    const uint8_t* data = c.m_block.data() + at;
    size_t size = static_cast<size_t>(end - at);
    c.m_hit_offset = c.m_offset + at;
    if (last && size < c.m_min_tail) {
      // Read the link again from its own sector so that it is not cut at
      // the block's end; keep the block's bytes when that read fails.
      const uint64_t sector = c.m_hit_offset - c.m_hit_offset % kSector;
      const uint64_t inside = c.m_hit_offset - sector;
      uint32_t got = static_cast<uint32_t>(
          std::min<uint64_t>({c.m_block_size, c.m_image_end - sector, tail.size()}));
      if (got != 0 && c.m_disk->read(tail.data(), got, sector, false) && got > inside) {
        data = tail.data() + inside;
        size = static_cast<size_t>(got - inside);
      }
    }
    reset_lnk_record(c.m_record, options.m_scratch.shell());
    c.m_record.m_source_name = "LNK";
    c.m_record.m_source_type = carved_label(c.m_name, c.m_hit_offset);
    c.m_record.m_file_offset = c.m_hit_offset;
    if (parse_lnk(c.m_record, data, size, options, options.m_scratch.link, false, c.m_hit_offset,
                  &options)) {
      sink(c.m_record);
      found = true;
    }
  }
  return found;
}

bool scan_body(mft_lnk_candidate& c, lnk::useropts& options, const lnk_record_sink& sink) {
  if (!c.m_ready || !c.m_disk || !c.m_disk->is_open() || c.m_block_size == 0) return false;
  if (c.m_block.size() < c.m_block_size) c.m_block.resize(c.m_block_size);
  std::vector<uint8_t> tail(c.m_block_size);
  bool found = false;
  int64_t last_percent = -1;
  while (c.m_offset < c.m_image_end) {
    if (options.m_status_messages) show_progress(c, last_percent);
    const uint64_t left = c.m_image_end - c.m_offset;
    uint32_t length = static_cast<uint32_t>(std::min<uint64_t>(c.m_block_size, left));
    // A block that cannot be read is passed over; the scan still moves on.
    if (c.m_disk->read(c.m_block.data(), length, c.m_offset, false) && length != 0 &&
        length <= c.m_block.size())
      if (scan_block(c, length, options, tail, sink)) found = true;
    ++c.m_block_count;
    if (left <= c.m_block_size) break;
    c.m_offset += c.m_block_size;
  }
  erase_status_line_unless_quiet(options);
  return found;
}

void default_text_form(cmd_params& s) {
  if (s.m_xml || s.m_csv || s.m_csvl2t || s.m_csvgen || s.m_bodyfile) return;
  s.m_multiline = 1;
  s.m_header_pending = 0;
  s.m_separator.clear();
  s.m_replace_char = 0;
  s.m_replacement_char = 0;
}

bool scan_options_body(lnk::useropts& o, std::vector<std::string>& args, const std::string& text1,
                       const std::string& text2) {
  o.clear();
  std::string value;
  if (take_option_value("-outdir", value, args)) {
    replace_char(value, '\\', '/', false);
    o.lnk_dump_dir = value;
    if (!vkportdir::make_dirs(value)) {
      o.lnk_dump_dir.clear();
      std::fprintf(stderr, "can't create directory at %s\n", shown_name(value).c_str());
    }
  }
  if (!parse_common_options(o, args)) return false;
  default_text_form(o);
  o.m_source_name = "LNK";
  o.m_scan_texts[0] = text1;
  o.m_scan_texts[1] = text2;

  if (take_option_value("-offset", value, args)) {
    int64_t offset = 0;
    if (parse_long_text(value, &offset)) o.m_scan_offset = offset;
  }
  if (take_option_flag("-ntfs_scan", args, false)) {
    o.m_ntfs_scan = true;
    o.m_include_unalloc_clusters = take_option_flag("-include_unalloc_clusters", args, false);
    o.m_include_vss_clusters = take_option_flag("-include_vss_clusters", args, false);
    o.m_include_pagefile_clusters = take_option_flag("-include_pagefile_clusters", args, false);
  }
  if (take_option_flag("-rawscan", args, false)) o.m_carve_mode = true;
  if (take_option_flag("-deepscan", args, false)) {
    o.m_scan_step = 1;
    o.m_deep_scan = true;
  }
  if (take_option_flag("-idltimes", args, false)) o.m_idlist_times = true;
  if (o.m_deep_scan && (o.m_carve_mode || o.m_ntfs_scan)) {
    std::fprintf(stderr,
                 "options [-rawscan or -ntfs_scan] and [-deepscan] cannot be used together\n"
                 "\t[-rawscan and -ntfs_scan] are used for 'dd' images\n"
                 "\t[-deepscan] is used for individual files\n");
    return false;
  }
  return true;
}

std::string item_text(const uint8_t* item, size_t available) {
  return guarded([&] { return string_data_text(item, available, true); });
}

void write_offset(std::ostream& out, uint64_t offset) {
  char head[32];
  std::snprintf(head, sizeof head, "%08" PRIx64 " : ", offset);
  out << head;
}

}  // namespace

mft_lnk_candidate::mft_lnk_candidate() {
  reset_mft_lnk_candidate(*this);
}

void reset_mft_lnk_candidate(mft_lnk_candidate& c) {
  c.m_image_size = 0;
  c.m_block.clear();
  c.m_disk = nullptr;
  c.m_block_size = 0;
  c.m_min_tail = 0;
  c.m_image_end = 0;
  c.m_patterns.clear();
  c.m_extension_patterns.clear();
  c.m_lnk_pattern.clear();
  reset_lnk_record(c.m_record);
  c.m_block_count = 0;
  c.m_offset = 0;
  c.m_hit_offset = 0;
  c.m_ready = 0;
  c.m_window = 64;
  c.m_alignment = 512;
  c.m_hits.clear();
  c.m_name.clear();
  c.m_percent = 1;
}

void init_mft_lnk_candidate(mft_lnk_candidate& c) {
  reset_mft_lnk_candidate(c);
}

bool fill_mft_lnk_candidate(mft_lnk_candidate& c, RAW_DISK_IO* disk) {
  reset_mft_lnk_candidate(c);
  if (!disk || !disk->is_open()) return false;
  return guarded(
      [&] {
        c.m_disk = disk;
        c.m_block_size = raw_scan_block_size;
        c.m_min_tail = raw_scan_min_tail;
        c.m_block.assign(raw_scan_block_size, 0);
        c.m_image_size = c.m_image_end = disk->size();
        c.m_lnk_pattern = lnk_header_pattern();
        c.m_patterns = {lnk_header_pattern(), mft_record_pattern()};
        c.m_extension_patterns = {{0xEF, 0xBE}};
        c.m_ready = 1;
        return true;
      },
      [&] { reset_mft_lnk_candidate(c); });
}

bool scan_image_records(mft_lnk_candidate& context, lnk::useropts& options,
                        const lnk_record_sink& sink) {
  return guarded([&] { return scan_body(context, options, sink); });
}

bool scan_image_for_lnk(std::ostream& out, mft_lnk_candidate& context, lnk::useropts& options) {
  return scan_image_records(context, options,
                            [&](lnk_record& record) { report_record(out, record, options); });
}

bool scan_disk_for_lnk(std::ostream& out, RAW_DISK_IO* disk, lnk::useropts& options) {
  return guarded([&] {
    mft_lnk_candidate context;
    if (!fill_mft_lnk_candidate(context, disk)) return false;
    return scan_image_for_lnk(out, context, options);
  });
}

bool deep_scan_file(const std::string& path, std::ostream& out, bool raw_scan, bool csv,
                    bool status_messages) {
  return guarded([&] {
    lnk::useropts options;
    options.m_carve_mode = raw_scan;
    options.m_csv = csv ? 1 : 0;
    options.m_status_messages = status_messages ? 1 : 0;
    return scan_file_for_lnk(out, path, options, true);
  });
}

bool parse_scan_options(lnk::useropts& options, std::vector<std::string>& args,
                        const std::string& text1, const std::string& text2) {
  return guarded([&] { return scan_options_body(options, args, text1, text2); });
}

void print_string_item(const uint8_t* item, size_t available, std::ostream& out,
                       const std::string& label) {
  const std::string text = item_text(item, available);
  if (!label.empty()) out << label << ' ';
  out << text << '\n';
}

void print_string_item_at(const uint8_t* item, size_t available, std::ostream& out,
                          const std::string& label, uint64_t offset) {
  write_offset(out, offset);
  out << label << ' ' << item_text(item, available) << '\n';
  const auto count = byte_view(item, available).u16(lnk_layout::string_data::count);
  if (!count) return;
  const uint64_t size =
      std::min<uint64_t>(uint64_t{*count} * 2 + lnk_layout::string_data::chars, available);
  hexdump_to_stream(item, static_cast<uint32_t>(size), out, 0, offset);
}

void print_string_item_offset(const uint8_t* item, size_t available, std::ostream& out,
                              uint64_t offset) {
  write_offset(out, offset);
  out << item_text(item, available) << '\n';
}

}  // namespace vk
