// The bodies of the fuzz targets: one routine per parser of untrusted bytes,
// each building all of its state afresh from one input. The libFuzzer entry
// points call them, and the regression replay test calls the same routines
// in the normal sanitizer build, so that a saved input runs exactly as it
// ran under the fuzzer.
//
// A routine aborts (so that the fuzzer stops on it) only where the parse
// broke a promise the callers rely on; everything else a hostile input can
// do is a refused parse.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>
#include <sstream>
#include <streambuf>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/uni_fileio.h"
#include "fuzz/shell_harness.h"
#include "jumplist/compound_file.h"
#include "jumplist/destlist.h"
#include "jumplist/file_drivers.h"
#include "jumplist/lnk_carve.h"
#include "jumplist/lnk_extent.h"
#include "jumplist/lnk_layout.h"
#include "jumplist/lnk_parser.h"
#include "jumplist/record_report.h"
#include "jumplist/vesk_main.h"
#include "jumplist/vesk_options.h"
#include "shell/idlist.h"
#include "shell/idlist_text.h"
#include "shell/property_store.h"

namespace vesk_fuzz {

// Longest input each target takes (the fuzzer's -max_len); longer inputs
// are cut to it so that a replay sees what the fuzzer saw.
inline constexpr size_t k_max_image_input = 64 * 1024;
inline constexpr size_t k_max_record_input = 16 * 1024;

// The LNK target's input: a flag byte (bit 0: carved), the file offset as a
// little-endian u32, then the link.
inline constexpr size_t k_lnk_prefix = 5;

// The driver target's input: an option byte, then the file's bytes. Bits
// 0-1 pick the form (text, "-csv", "-csvl2t", "-bodyfile"); bits 2, 3 and 4
// add "-slack", "-idltimes" and "-show_offset"; bit 5 also carves the bytes
// from the file and from memory, which must give one report.
inline constexpr size_t k_driver_prefix = 1;

// Swallows everything, so that every value is still formatted.
class null_buffer : public std::streambuf {
 protected:
  int overflow(int c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

class null_stream : public std::ostream {
 public:
  null_stream() : std::ostream(&m_buffer) {}

 private:
  null_buffer m_buffer;
};

[[noreturn]] inline void broken_promise(const char* what) {
  std::fprintf(stderr, "vesk fuzz: %s\n", what);
  std::abort();
}

// The tool's own option parser on "vesk" and the given arguments, status
// lines off.
inline void set_options(vk::vesk_options& options, std::vector<std::string> args) {
  args.insert(args.begin(), "vesk");
  args.push_back("-quiet");
  if (!vk::parse_jumplist_options(options, args, "fuzz")) broken_promise("options refused");
  options.m_status_messages = 0;
}

inline int run_compound_file(const uint8_t* data, size_t size) {
  if (size > k_max_image_input) size = k_max_image_input;
  vk::compound_file_reader reader;
  const bool parsed = vk::parse_compound_image(&reader, data, size);
  // A bounded number of steps per byte of the image (one-byte mini sectors
  // give up to one granule per byte), however hostile.
  if (reader.m_work > 4 * size + 4096) broken_promise("parse work beyond its bound");
  if (!parsed) return 0;
  std::vector<uint8_t> bytes;
  uint32_t entry = 0;
  uint64_t first = 0;
  for (const auto& named : reader.m_entries) {
    if (!vk::read_stream(reader, bytes, entry, first, named.first, data, size)) continue;
    // Equal names read the first of them: check against the entry read.
    for (const auto& [key, dir_entry] : reader.m_entries)
      if (dir_entry.m_entry_num == entry && bytes.size() > dir_entry.stream_size())
        broken_promise("stream longer than its declared size");
  }
  for (uint64_t sector : reader.m_free_sectors)
    if ((sector + 1) * reader.m_sector_size >= size)
      broken_promise("free sector outside the image");
  for (uint64_t granule : reader.m_free_granules)
    if (granule >= size) broken_promise("free granule outside the image");
  for (const auto& [offset, length] : reader.m_slack_areas)
    if (offset > size || length > size - offset) broken_promise("slack area outside the image");
  std::vector<uint8_t> allocated, gaps;
  vk::stream_sector_ranges(reader, allocated, gaps, data, size);
  return 0;
}

// The walk the automatic driver makes, each loader on the first entry, then
// the walk again under each entry layout (the version word set to 1 and 4).
inline int run_destlist(const uint8_t* data, size_t size) {
  if (size > k_max_record_input) size = k_max_record_input;
  uint32_t version = 0;
  std::vector<vk::destlist_entry> entries;
  vk::load_destlist_entries(data, size, version, entries);
  if (size < vk::destlist_header_size) return 0;
  // Each loader on its own, on the bytes behind the header.
  vk::destlist_entry entry;
  const int64_t left = static_cast<int64_t>(size - vk::destlist_header_size);
  vk::load_destlist_entry_114(entry, data + vk::destlist_header_size, left);
  vk::load_destlist_entry_130(entry, data + vk::destlist_header_size, left);
  for (uint8_t layout : {1, 4}) {
    std::vector<uint8_t> copy(data, data + size);
    copy[0] = layout;
    copy[1] = copy[2] = copy[3] = 0;
    entries.clear();
    vk::load_destlist_entries(copy.data(), copy.size(), version, entries);
    size_t at = vk::destlist_header_size;
    for (const auto& e : entries) {
      if (e.m_entry_size == 0 || e.m_entry_size > copy.size() - at)
        broken_promise("DestList entry outside the stream");
      at += e.m_entry_size;
    }
  }
  return 0;
}

// The four report forms, each with "-idltimes", parsed once per process as
// the tool parses its options once per run; the driver target, whose options
// also hold per-file state, builds its own for every input.
class report_forms {
 public:
  report_forms() {
    const char* const forms[] = {"", "-csv", "-csvl2t", "-bodyfile"};
    for (size_t i = 0; i < 4; ++i) {
      std::vector<std::string> args{"-idltimes"};
      if (*forms[i]) args.emplace_back(forms[i]);
      set_options(m_options[i], args);
    }
  }
  vk::vesk_options& operator[](size_t i) { return m_options[i]; }

 private:
  vk::vesk_options m_options[4];
};

// Where a link ends by its declared sizes alone, each structure stepped by
// its own size field: the header, the ID list, LinkInfo, the StringData
// counts and the extra-data blocks up to one whose BlockSize is below 4 (or
// the end of the bytes, where a block would begin: a link may lack its
// terminal block); nullopt when those sizes run past the bytes.
inline std::optional<uint64_t> declared_link_end(vk::byte_view link) {
  namespace L = vk::lnk_layout;
  const auto flags = link.u32(L::header::flags);
  if (!flags) return std::nullopt;
  uint64_t at = L::header::size;
  if (*flags & L::flag::has_idlist) {
    const auto n = link.u16(at);
    if (!n) return std::nullopt;
    at += 2 + *n;
  }
  if (*flags & L::flag::has_link_info) {
    const auto n = link.u32(at);
    if (!n) return std::nullopt;
    at += *n;
  }
  const uint64_t unit = (*flags & L::flag::is_unicode) ? 2 : 1;
  for (uint32_t flag : {L::flag::has_name, L::flag::has_relative_path, L::flag::has_working_dir,
                        L::flag::has_arguments, L::flag::has_icon_location}) {
    if (!(*flags & flag)) continue;
    const auto count = link.u16(at);
    if (!count) return std::nullopt;
    at += 2 + unit * *count;
  }
  for (;;) {
    if (at == link.size()) return at;
    const auto n = link.u32(at);
    if (!n) return std::nullopt;
    if (*n < L::block::terminal_size) return at + L::block::terminal_size;
    at += *n;
  }
}

// Every byte of a parsed link's declared extent is read, or a fault says
// where the reading left it: a parse without a fault ends where the declared
// sizes end, and one of a link whose sizes run past its bytes has a fault.
// (A fault names a place, not a span, and the record keeps where structures
// start but not how far the walks inside them read, so a gap inside a
// structure, such as LinkInfo texts at offsets it misreads, is not seen
// here.)
inline void check_link_extent(const vk::lnk_record& record, vk::byte_view link) {
  if (!record.m_faults.empty() || record.m_faults.out_of_memory()) return;
  const std::optional<uint64_t> end = declared_link_end(link);
  if (!end) broken_promise("link cut inside its declared sizes parsed without a fault");
  if (*end != record.m_lnk_size)
    broken_promise("link parsed short of its declared end without a fault");
}

inline int run_lnk(const uint8_t* data, size_t size) {
  if (size > k_max_record_input) size = k_max_record_input;
  if (size < k_lnk_prefix) return 0;
  static report_forms forms;
  const bool carved = data[0] & 1;
  const uint64_t offset = uint64_t{data[1]} | uint64_t{data[2]} << 8 | uint64_t{data[3]} << 16 |
                          uint64_t{data[4]} << 24;
  // An exact copy, so that a read past the link's last byte is caught even
  // when the input was cut above.
  const std::vector<uint8_t> link(data + k_lnk_prefix, data + size);
  // The extent walk stays within the bytes and below its cap.
  const uint64_t cap = 1 + data[1] * uint64_t{257};
  const vk::lnk_extent extent = vk::declared_lnk_extent(vk::byte_view(link), cap);
  if (extent.size > cap) broken_promise("extent past the cap");
  if (extent.how == vk::lnk_extent::end::terminal && extent.size > link.size())
    broken_promise("extent past the data");
  if (extent.useful > extent.size || (extent.implausible_at != vk::lnk_extent::k_plausible &&
                                      extent.implausible_at >= extent.size))
    broken_promise("useful bytes or the first implausible structure past the extent");
  // Tested or not, the structures are stepped over alike.
  if (vk::declared_lnk_extent(vk::byte_view(link), cap, false).size != extent.size)
    broken_promise("the tests changed the extent");
  (void)vk::could_be_link_header(vk::byte_view(link));
  vk::lnk_record record;
  if (!vk::parse_lnk(record, link.data(), link.size(), forms[0], forms[0].m_scratch.link, carved,
                     offset))
    return 0;
  if (record.m_lnk_size > link.size()) broken_promise("link size past the data");
  check_link_extent(record, vk::byte_view(link));
  null_stream out;
  for (size_t i = 0; i < 4; ++i) {
    vk::lnk_record copy = record;
    vk::report_record(out, copy, forms[i]);
  }
  return 0;
}

inline int run_idlist(const uint8_t* data, size_t size) {
  if (size > k_max_record_input) size = k_max_record_input;
  const vk::cmd_params settings;
  for (bool carved : {false, true}) {
    vk::shell_item_list items;
    vk::parse_ctx ctx;
    vk::parse_idlist(items, data, static_cast<int64_t>(size), false, carved, ctx, settings);
    std::string path, line;
    std::vector<std::string> details;
    uint64_t modified = 0, accessed = 0, created = 0;
    vk::idlist_text(path, line, details, modified, accessed, created, settings, ctx.space(), items);
  }
  return 0;
}

inline int run_property_storage(const uint8_t* data, size_t size) {
  if (size > k_max_record_input) size = k_max_record_input;
  const vk::cmd_params settings;
  vk::is_property_storage(data, static_cast<int64_t>(size));
  vk::shell_item_record record;
  vk::parse_ctx ctx;
  vk::parse_property_storages(ctx, record, data, static_cast<int64_t>(size), settings);
  if (ctx.consumed > size) broken_promise("storage walk past the data");
  for (bool split : {false, true}) {
    std::vector<std::string> parsing, primary, keys, values;
    vk::collect_property_texts(record, parsing, primary, keys, values, settings, ctx.space(),
                               split);
  }
  return 0;
}

// A private directory for the driver's input file, made once per process
// and removed at exit.
class driver_folder {
 public:
  driver_folder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vesk-fuzz-XXXXXX").string();
    if (!mkdtemp(pattern.data())) broken_promise("no temporary directory");
    m_root = pattern;
  }
  ~driver_folder() {
    std::error_code ec;
    std::filesystem::remove_all(m_root, ec);
  }
  driver_folder(const driver_folder&) = delete;
  driver_folder& operator=(const driver_folder&) = delete;
  const std::filesystem::path& root() const { return m_root; }

 private:
  std::filesystem::path m_root;
};

inline int run_driver(const uint8_t* data, size_t size) {
  if (size > k_max_image_input) size = k_max_image_input;
  if (size < k_driver_prefix) return 0;
  static driver_folder folder;
  const std::filesystem::path input = folder.root() / "5f7b5f1e01b83767.automaticDestinations-ms";
  {
    std::ofstream file(input, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data + k_driver_prefix),
               static_cast<std::streamsize>(size - k_driver_prefix));
    if (!file) broken_promise("input file not written");
  }
  const uint8_t choice = data[0];
  static const char* const forms[] = {"", "-csv", "-csvl2t", "-bodyfile"};
  std::vector<std::string> args;
  if (*forms[choice & 3]) args.emplace_back(forms[choice & 3]);
  if (choice & 4) args.emplace_back("-slack");
  if (choice & 8) args.emplace_back("-idltimes");
  if (choice & 16) args.emplace_back("-show_offset");
  vk::vesk_options options;
  set_options(options, args);
  vk::set_source_path(options, input.string());
  const vk::source_appid id = vk::appid_from_path(options.m_source_path);
  options.m_appid_text = id.text;
  options.m_appid = id.value;
  options.m_file_extension = id.extension;
  null_stream out;
  vk::process_jumplist_file(out, options.m_source_path, options);
  if (choice & 32) {
    // A compound file among carved bytes is read where the bytes lie in
    // memory, and into pages of its own from a file: the same report.
    auto carve = [&](uni::fileio* file) {
      vk::vesk_options carving;
      set_options(carving, {});
      carving.m_carve_mode = true;
      carving.m_source_path = "carve.bin";
      std::ostringstream text;
      vk::carve_and_report(text, file,
                           vk::byte_view(data + k_driver_prefix, size - k_driver_prefix), carving,
                           false, vk::k_header_not_searched,
                           {[&](vk::lnk_record& rec, std::ostream& to, vk::file_notes&) {
                              vk::report_record(to, rec, carving);
                            },
                            nullptr});
      return text.str() + carving.m_notes.lines("carve.bin");
    };
    uni::fileio file(input.string(), false);
    if (!file.usable() || file.is_memory()) broken_promise("input file not opened");
    if (carve(&file) != carve(nullptr))
      broken_promise("carving a file and its bytes in memory differ");
  }
  // The run may touch no file but its input.
  size_t files = 0;
  for (const auto& item : std::filesystem::directory_iterator(folder.root())) {
    (void)item;
    ++files;
  }
  if (files != 1) broken_promise("the driver left files beside its input");
  return 0;
}

}  // namespace vesk_fuzz
