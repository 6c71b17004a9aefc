// The raw-image scan: a whole disk image ('dd' image) read block by block
// for shell links (in files, in MFT records, in free space), its option
// parser, the deep scan of a single file, and the printers of one StringData
// item. No command of the tool calls these; a front end does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "disk/raw_disk_io.h"
#include "jumplist/lnk_record.h"
#include "jumplist/vesk_options.h"

namespace vk {

// State of one image scan.
struct mft_lnk_candidate {
  mft_lnk_candidate();

  uint64_t m_image_size = 0;
  std::vector<uint8_t> m_block;
  RAW_DISK_IO* m_disk = nullptr;
  uint32_t m_block_size = 0;
  // A link that starts closer than this to the end of a block is read again
  // from its own sector, so that it is not cut at the block's end.
  uint32_t m_min_tail = 0;
  uint64_t m_image_end = 0;  // loop bound
  // The LNK header pattern (index 0) and "FILE" (index 1).
  std::vector<std::vector<uint8_t>> m_patterns;
  std::vector<std::vector<uint8_t>> m_extension_patterns;  // EF BE
  std::vector<uint8_t> m_lnk_pattern;
  lnk_record m_record;
  uint64_t m_block_count = 0;
  uint64_t m_offset = 0;      // image offset of the current block
  uint64_t m_hit_offset = 0;  // image offset of the link being parsed
  uint8_t m_ready = 0;
  // Positions tested by the aligned search: the first m_window bytes of
  // every m_alignment-byte sector.
  uint32_t m_window = 64;
  uint32_t m_alignment = 512;
  std::vector<uint64_t> m_hits;
  std::string m_name;     // shown as "[name] " before each record's label
  uint8_t m_percent = 1;  // progress in percent; 0: as offsets
};

inline constexpr uint32_t raw_scan_block_size = 65536;
inline constexpr uint32_t raw_scan_min_tail = 16384;

void reset_mft_lnk_candidate(mft_lnk_candidate& context);
void init_mft_lnk_candidate(mft_lnk_candidate& context);
// Resets the context and, for an open disk, readies it for a scan of the
// whole disk. Returns the ready flag.
bool fill_mft_lnk_candidate(mft_lnk_candidate& context, RAW_DISK_IO* disk);

// Receives every link the scan parsed; the scan's result is true when one
// was handed on.
using lnk_record_sink = std::function<void(lnk_record&)>;

// Scans the context's disk and hands each parsed link to sink at once.
bool scan_image_records(mft_lnk_candidate& context, lnk::useropts& options,
                        const lnk_record_sink& sink);
// The same, each link written with report_record. True when one was.
bool scan_image_for_lnk(std::ostream& out, mft_lnk_candidate& context, lnk::useropts& options);
bool scan_disk_for_lnk(std::ostream& out, RAW_DISK_IO* disk, lnk::useropts& options);

// Carves the links of one file with a fresh settings object: the raw-scan
// flag chooses the carve mode, csv the CSV form, status_messages the
// progress line; each link is parsed as carved and reported at once.
bool deep_scan_file(const std::string& path, std::ostream& out, bool raw_scan, bool csv,
                    bool status_messages);

// Reads the scan mode's options into options (cleared first), removing each
// one taken; text1 and text2 are kept in its two front-end texts. False when
// the run must stop (the reason is then on standard error).
bool parse_scan_options(lnk::useropts& options, std::vector<std::string>& args,
                        const std::string& text1, const std::string& text2);

// The Unicode StringData item at item (available bytes from its first byte):
// "label text" (no label: "text") and a line end.
void print_string_item(const uint8_t* item, size_t available, std::ostream& out,
                       const std::string& label);
// Its offset in 8 hexadecimal places, " : ", label, text, line end, then a
// hex dump of the item's bytes (those available) based at the offset.
void print_string_item_at(const uint8_t* item, size_t available, std::ostream& out,
                          const std::string& label, uint64_t offset);
// Its offset in 8 hexadecimal places, " : ", the text and a line end.
void print_string_item_offset(const uint8_t* item, size_t available, std::ostream& out,
                              uint64_t offset);

}  // namespace vk
