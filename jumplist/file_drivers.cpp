#include "jumplist/file_drivers.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "foundation/uni_file_utils.h"
#include "foundation/uni_fileio.h"
#include "foundation/vk_file_status.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_posix.h"
#include "jumplist/compound_file.h"
#include "jumplist/compound_file_chains.h"
#include "jumplist/custom_list.h"
#include "jumplist/destlist.h"
#include "jumplist/extra_data.h"
#include "jumplist/list_destlist.h"
#include "jumplist/lnk_carve.h"
#include "jumplist/lnk_layout.h"
#include "jumplist/lnk_parser.h"
#include "jumplist/lnk_signature.h"
#include "jumplist/record_keep.h"
#include "jumplist/record_report.h"
#include "jumplist/slack_recovery.h"

namespace vk {
namespace {

constexpr uint32_t k_probe_size = 32768;
// A header at the probe's last offsets is tested with the bytes after it.
constexpr uint32_t k_probe_read = k_probe_size + lnk_header_size;
constexpr uint64_t k_max_image_size = 0xFFFFFFFFull;

using failure = lnk::useropts::failure;

bool fail(lnk::useropts& options, failure why, const char* detail = "") {
  options.m_failure = why;
  options.m_failure_detail.assign(detail);
  return false;
}

}  // namespace

// What the drivers keep from one file to the next (in the run's scratch):
// the open file, the read buffer, the compound-file reader and the DestList
// entries keep their room, so that a file costs few allocations. Bytes
// [0, m_length) of m_image are the current file's.
struct driver_workspace {
  uni::fileio m_file;
  std::vector<uint8_t> m_image;
  size_t m_length = 0;
  compound_file_reader m_reader;
  std::vector<uint8_t> m_destlist_scratch, m_scratch;
  // Where the current file's DestList walk says how it ended short.
  fault_sink m_destlist_faults;
  // The stream numbers the DestList entries name, kept from file to file.
  std::vector<uint64_t> m_entry_numbers;
  // Where the stream reads say memory ran out: drained where it is said,
  // so that no count is said twice.
  fault_sink m_read_faults;
  // The open file's status, taken once when it is opened.
  struct stat m_status {};
  bool m_has_status = false;

  byte_view image() const { return byte_view(m_image.data(), m_length); }
  // Whether memory ran out in the stream reads since the last call.
  bool reads_ran_out() {
    if (!m_read_faults.out_of_memory()) return false;
    m_read_faults.clear();
    return true;
  }
  // Starts a file: nothing of the last one is counted (end() closed it;
  // an open starts from a closed state anyway).
  void begin() { m_length = 0; }
  // Ends a file: the file closed, and after a file far beyond the usual
  // size its buffer and what grew with it (the reader's tables, the stream
  // copies) let go. Once per file, on every way out: kept inline.
  [[gnu::always_inline]] void end() {
    if (m_file.is_open()) m_file.close();
    m_length = 0;
    if (m_image.capacity() <= k_keep_image) return;
    std::vector<uint8_t>().swap(m_image);
    std::vector<uint8_t>().swap(m_destlist_scratch);
    std::vector<uint8_t>().swap(m_scratch);
    std::vector<uint64_t>().swap(m_entry_numbers);
    m_reader = compound_file_reader();
  }
  static constexpr size_t k_keep_image = size_t{64} << 20;
};

template <>
void scratch_drop<driver_workspace>::operator()(driver_workspace* part) const noexcept {
  delete part;
}

namespace {

driver_workspace& driver_scratch(lnk::useropts& options) {
  return made_part(options.m_scratch.drivers);
}

// The workspace's file closed on every way out of a driver.
struct file_done {
  driver_workspace& w;
  ~file_done() { w.end(); }
};

// Makes bytes [0, length) of the buffer writable, growing it when needed.
bool fit(driver_workspace& w, size_t length) {
  return w.m_image.size() >= length || guarded([&] {
           w.m_image.resize(length);
           return true;
         });
}

// Opens the file and reads its first bytes, at most the probe size, for the
// classification; the file stays open for the rest. Folders, pipes and
// sockets are refused before the open, which would not wait for a writer.
bool read_head(driver_workspace& w, const std::string& path, lnk::useropts& options) {
  uni::fileio& file = w.m_file;
  w.m_length = 0;
  w.m_has_status = false;
  // The open comes first and its descriptor's status tells a directory; only
  // a failed open looks at the name again, to say why.
  errno = 0;
  if (!file.open_utf8(path, false, false, false)) {
    const int open_error = errno ? errno : EIO;
    struct stat st;
    if (vk::stat_path(path.c_str(), st) != 0)
      return fail(options, failure::cannot_open, std::strerror(errno));
    if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode))
      return fail(options, failure::cannot_read, "not a regular file");
    if (S_ISDIR(st.st_mode)) return fail(options, failure::cannot_read, std::strerror(EISDIR));
    return fail(options, failure::cannot_open, std::strerror(open_error));
  }
  w.m_has_status = file.opened_status(w.m_status);
  if (w.m_has_status && S_ISDIR(w.m_status.st_mode))
    return fail(options, failure::cannot_read, std::strerror(EISDIR));
  const uint64_t size = file.stored_size();
  if (size < lnk_header_size) {
    // Too short for a link, but kept: it may be a custom list of no entries.
    uint32_t length = static_cast<uint32_t>(size);
    errno = 0;
    if (length && fit(w, length)) {
      if (!file.read_at(w.m_image.data(), length, 0))
        return fail(options, failure::cannot_read, std::strerror(errno ? errno : EIO));
      w.m_length = length;
    }
    return fail(options, failure::not_a_list);
  }
  uint32_t length = static_cast<uint32_t>(size < k_probe_read ? size : k_probe_read);
  errno = 0;
  if (!fit(w, length) || !file.read_at(w.m_image.data(), length, 0) || length < lnk_header_size)
    return fail(options, failure::cannot_read, std::strerror(errno ? errno : EIO));
  w.m_length = length;
  return true;
}

// Reads the bytes after the head up to size (the file's size when it was
// opened); a file that shrank in between gives what is there.
bool read_rest(driver_workspace& w, uint64_t size) {
  const size_t head = w.m_length;
  if (size <= head) return true;
  if (!fit(w, static_cast<size_t>(size))) return false;
  uint32_t length = static_cast<uint32_t>(size - head);
  if (!w.m_file.read_at(w.m_image.data() + head, length, head)) return false;
  w.m_length = head + length;
  return true;
}

// A copy of one LNK stream: <dir>/<entry, 3 hex digits>_<offset, 8 hex digits>.bin.
void dump_stream(const std::string& dir, uint32_t dir_entry, uint64_t offset, byte_view stream) {
  char name[48];
  std::snprintf(name, sizeof name, "/%03x_%08llx.bin", dir_entry,
                static_cast<unsigned long long>(offset));
  uni::fileio file(dir + name, true);
  size_t written = 0;
  if (file.is_open()) file.append_counted(stream.data(), stream.size(), written);
}

// What a reported record's parse left in its sink, said with the file: a
// link of an automatic list by its stream, any other by its file offset.
// Memory that ran out in the parse is said here for carved links; an
// automatic list's reader says it for each link it reads.
void note_faults(const lnk::useropts& options, const lnk_record& r, file_notes& notes) {
  if (r.m_faults.empty() && !r.m_faults.out_of_memory()) return;
  if (options.m_automatic_list && !r.m_from_free_space) {
    char name[16];
    notes.add_faults(r.m_faults, 0, hex_name(r.m_entry_num, name), false);
  } else {
    notes.add_faults(r.m_faults, r.m_file_offset, {}, !options.m_automatic_list);
  }
}

// False when memory cut the record's report short (said by the writers in
// the report's sink).
bool report_written(std::ostream& out, lnk_record& record, vesk_options& options,
                    file_notes& notes) {
  note_faults(options, record, notes);
  const fault_sink& faults = options.m_scratch.report_faults;
  const uint32_t short_before = faults.out_of_memory_count();
  report_record(out, record, options);
  return faults.out_of_memory_count() == short_before;
}

// The record's report, what it says besides in notes.
void report_noted(std::ostream& out, lnk_record& record, vesk_options& options, file_notes& notes) {
  if (!report_written(out, record, options, notes))
    notes.add("record", record.m_file_offset, "not written in full: out of memory");
}

void report_noted(std::ostream& out, lnk_record& record, vesk_options& options) {
  report_noted(out, record, options, options.m_notes);
}

// The carve road's sink of plain reports.
carved_record_sink noted_sink(vesk_options& options) {
  return {[&options](lnk_record& r, std::ostream& to, file_notes& notes) {
            report_noted(to, r, options, notes);
          },
          nullptr};
}

// The custom and carve roads over an open file, or over bytes read whole.
// Highest file offset first; records of an embedded compound file, keyed by
// their write times, come before them.
// The most bytes after one link that are searched for a block its walk did
// not reach.
constexpr uint64_t k_past_link_search = 64 * 1024;

// In a link file, bytes [from, to) after a link (up to the next one or the
// end of the file) that hold an extra-data block header: a block the link's
// walk stepped past (bytes inserted or lost inside the block before it),
// said with the link's offset. An open file is read in pieces that overlap
// by a header, so that nothing is allocated. With look_for_bytes, whether
// bytes other than zeros lie there is told too.
// What the bytes after a link hold.
enum class past_link { zeros, bytes, block_said };

past_link note_blocks_past_link(uni::fileio* file, byte_view bytes, uint64_t link, uint64_t from,
                                uint64_t to, bool look_for_bytes, file_notes& notes) {
  to = std::min(to, from + k_past_link_search);
  constexpr size_t k_piece = 4096;
  constexpr size_t k_overlap = lnk_layout::block::header_size - 1;
  uint8_t piece[k_piece];
  past_link held = past_link::zeros;
  for (uint64_t at = from; at < to;) {
    byte_view part;
    if (file) {
      uint32_t len = static_cast<uint32_t>(std::min<uint64_t>(k_piece, to - at));
      if (!file->read_at(piece, len, at)) return held;
      part = byte_view(piece, len);
    } else {
      part = bytes.clamp(static_cast<size_t>(at), static_cast<size_t>(to - at));
    }
    if (look_for_bytes && held == past_link::zeros &&
        std::any_of(part.data(), part.data() + part.size(), [](uint8_t b) { return b != 0; }))
      held = past_link::bytes;
    if (part.size() < lnk_layout::block::header_size) return held;
    const size_t found = find_block_header(part);
    if (found != k_no_block_header) {
      notes.add("extra-data block", at + found,
                "lies past the terminal block of the link at offset " + std::to_string(link) +
                    ": not read");
      return past_link::block_said;
    }
    if (!file || at + part.size() >= to) return held;
    at += part.size() - k_overlap;
  }
  return held;
}

bool carve_road(std::ostream& out, uni::fileio* file, byte_view bytes, vesk_options& options,
                uint64_t first_header = k_header_not_searched) {
  options.m_scan_step = 1;
  // A link file: one that begins with a link header.
  uint8_t head[lnk_header_size] = {};
  uint32_t head_len = sizeof head;
  const bool link_file = file ? file->read_at(head, head_len, 0) && is_lnk_header(head, head_len)
                              : is_lnk_header(bytes.data(), bytes.size());
  // Records come from the highest offset down: each one's bytes end where
  // the one reported before it begins, or at the end of the file. What the
  // sink needs is one object, so that the sink fits in place.
  struct gap_search {
    vesk_options& options;
    uni::fileio* file;
    byte_view bytes;
    bool link_file;
    uint64_t file_size;
    uint64_t next_link;
  } g{options, file, bytes, link_file, file ? file->stored_size() : bytes.size(), 0};
  g.next_link = g.file_size;
  carved_record_sink sink = noted_sink(options);
  sink.reported = [&g](const carved_report& r) {
    if (!g.link_file) return;
    const uint64_t end = r.offset + r.lnk_size;
    // A link file's one link fills it (every sound sample's does): bytes
    // past it that are not zeros are what a wrong count or size left
    // unread, unless the link's own faults or a block header among them
    // said so already. Only the file's one link is looked at: elsewhere
    // a link ends at its terminal block and what follows is the next
    // candidate's (and a file of many links costs no second pass).
    const bool only_link = r.offset == 0 && g.next_link == g.file_size;
    if (only_link && end < g.next_link &&
        note_blocks_past_link(g.file, g.bytes, r.offset, end, g.next_link, !r.faults,
                              g.options.m_notes) == past_link::bytes)
      g.options.m_notes.add("link", end, "ends before its file: the bytes past it not read");
    g.next_link = std::min(g.next_link, r.offset);
  };
  const bool found = carve_and_report(out, file, bytes, options, false, first_header, sink);
  if (!found) return fail(options, failure::damaged, "no link could be read at its header");
  return true;
}

bool automatic_road(std::ostream& out, vesk_options& options,
                    std::multimap<int64_t, lnk_record>* free_space_records, driver_workspace& w);

// A file holding no link: a custom list whose categories are all empty has
// simply no entries, any other file is not a list.
bool no_link(driver_workspace& w, lnk::useropts& options) {
  if (w.m_file.is_open() && w.m_length == w.m_file.stored_size() &&
      is_empty_custom_list(w.image())) {
    options.m_failure = failure::no_entries;
    return true;
  }
  return fail(options, failure::not_a_list);
}

// A file that starts as a compound file but ends before its header does:
// a jump list cut short, not some other file.
bool cut_compound_header(const driver_workspace& w) {
  static constexpr uint8_t k_signature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  return w.m_length >= sizeof k_signature && w.m_length < cfb_header_size && w.m_file.is_open() &&
         w.m_file.stored_size() == w.m_length &&
         std::memcmp(w.m_image.data(), k_signature, sizeof k_signature) == 0;
}

// A file whose first bytes hold a compound file's root entry, at a
// directory entry's place in a sector after a header, while the header
// that leads to it is damaged: the links are carved from its bytes, and
// those its sectors split are lost. Said with the header's offset: the
// signature nearest before the root entry by whole sectors, else the
// file's start (the root entry's own offset when the file begins with a
// link). A header the carver reads (its directory and root entry found from
// it) is no damaged one.
void note_damaged_compound_file(driver_workspace& w, file_notes& notes, bool link_first) {
  static constexpr char16_t k_root[] = u"Root Entry";
  constexpr size_t name_bytes = sizeof k_root;  // with its terminating NUL
  for (size_t at = cfb_header_size; at + cfb_dir_entry_size <= w.m_length;
       at += cfb_dir_entry_size) {
    const byte_view entry(w.m_image.data() + at, cfb_dir_entry_size);
    if (entry.u16_or_zero(cfb::dirent::name_length) != name_bytes ||
        entry.u8(cfb::dirent::object_type) != uint8_t{5})
      continue;
    bool same = true;
    for (size_t i = 0; same && i < name_bytes / 2; ++i)
      same = entry.u16_or_zero(2 * i) == k_root[i];
    if (!same) continue;
    static constexpr std::string_view k_cause =
        "damaged: the list's links carved from its bytes, any its sectors split lost, its "
        "DestList not read";
    size_t header = at;
    while (header >= cfb_header_size && !is_cfb_header(w.m_image.data() + header - cfb_header_size))
      header -= cfb_header_size;
    if (header < cfb_header_size) {
      if (link_first)
        notes.add("compound-file root entry", at, "its header not found; " + std::string(k_cause));
      else
        notes.add("compound-file header", 0, k_cause);
      return;
    }
    header -= cfb_header_size;
    const uint64_t size = w.m_file.stored_size();
    const cfb_reach reach = embedded_cfb_reach(
        w.m_image.data() + header, size - header,
        [&](uint64_t offset, uint8_t* into, size_t count) -> size_t {
          uint32_t len = static_cast<uint32_t>(count);
          return offset < size - header && w.m_file.read_at(into, len, header + offset) ? len : 0;
        });
    // A walk memory cut short says nothing of the header.
    if (reach.out_of_memory)
      notes.add("compound-file header", header, "not checked: out of memory");
    else if (reach.reach == 0)
      notes.add("compound-file header", header, k_cause);
    return;
  }
}

// The end of the last sector that a parsed compound file's FAT gives to
// anything (a stream, a structure, the FAT itself): what lies past it is
// not the compound file's. With free_space, the free sectors its FAT
// covers are its own too: the free-space search has read them.
uint64_t compound_file_reach(const compound_file_reader& reader, bool free_space) {
  const fat_link_map& fat = reader.m_fat_links;
  if (free_space) return (uint64_t{fat.index_limit()} + 1) * reader.m_sector_size;
  for (size_t n = fat.index_limit(); n-- > 0;)
    if (fat.contains(n) && fat.value(n) != cfb::freesect)
      return (uint64_t{n} + 2) * reader.m_sector_size;
  return reader.m_sector_size;
}

// A file that begins with a compound file (a list, or one that is no list)
// and holds bytes other than zeros past its reach, as a dump that begins
// with a deleted list does: those bytes are carved as the bytes past a
// first link are; when nothing is found there, they are said. read: what
// the automatic road made of the compound file.
bool carve_past_compound_file(std::ostream& out, vesk_options& options, driver_workspace& w,
                              bool read) {
  const lnk::useropts::failure was = options.m_failure;
  if (!read && was != failure::no_destlist) return read;
  const uint64_t reach = compound_file_reach(w.m_reader, options.m_slack != 0);
  const byte_view image = w.image();
  if (reach >= image.size() || std::all_of(image.data() + reach, image.data() + image.size(),
                                           [](uint8_t b) { return b == 0; }))
    return read;
  options.m_automatic_list = false;
  options.m_carve_mode = true;
  options.m_scan_step = 1;
  const bool found = carve_and_report(out, nullptr, image, options, false, k_header_not_searched,
                                      noted_sink(options), nullptr, reach);
  if (!found) {
    options.m_notes.add("compound file", reach, "bytes past the compound file not read");
    return read;
  }
  if (was == failure::no_destlist || was == failure::no_entries) options.m_failure = failure::none;
  return true;
}

}  // namespace

bool process_jumplist_file(std::ostream& out, const std::string& path, vesk_options& options) {
  options.m_automatic_list = false;
  options.m_custom_list = false;
  options.m_failure = failure::none;
  options.m_failure_detail.clear();
  options.m_notes.clear();
  if (path.empty()) return fail(options, failure::cannot_open, std::strerror(ENOENT));
  driver_workspace& w = driver_scratch(options);
  w.begin();
  file_done done{w};
  if (!read_head(w, path, options)) {
    if (options.m_failure == failure::not_a_list && cut_compound_header(w))
      return fail(options, failure::damaged, "cut short inside its compound-file header");
    return options.m_failure == failure::not_a_list && no_link(w, options);
  }
  uni::fileio& file = w.m_file;
  // A compound file holds its links wherever its streams lie, so only the
  // other files must show a header among their first bytes.
  // The header is searched for only when the file is no compound file or
  // cannot go the automatic road.
  uint32_t position = 0;
  const bool compound = is_compound_file(w.m_image.data(), w.m_length);
  bool searched = false, found = false;
  const auto has_link = [&] {
    // Headers that begin inside the probe (its last bytes only follow one).
    if (!searched)
      found = find_lnk_signature(position, w.m_image.data(),
                                 std::min<size_t>(w.m_length, k_probe_read - 1), 1);
    searched = true;
    return found;
  };
  if (!compound && cut_compound_header(w))
    return fail(options, failure::damaged, "cut short inside its compound-file header");
  if (!compound && !has_link()) return no_link(w, options);
  uint32_t mode = 0;
  // The times come from the status of the open descriptor: no second look
  // by name.
  if (w.m_has_status && vkportdir::status_file_times(
                            w.m_status, options.m_source_size, mode, options.m_source_change_time,
                            options.m_source_modify_time, options.m_source_access_time)) {
    if (compound)
      options.m_automatic_list = true;
    else if (position < 512)
      options.m_custom_list = true;
  }
  if (!options.m_automatic_list && !has_link()) return no_link(w, options);
  if (options.m_automatic_list) {
    options.m_carve_mode = false;
    options.m_source_type.assign("VESKLIST (automatic)");
    const bool read = automatic_road(out, options, nullptr, w);
    return carve_past_compound_file(out, options, w, read);
  }
  options.m_carve_mode = true;
  options.m_source_type.assign(options.m_custom_list ? "VESKLIST (custom)"
                                                     : "LNK signature (carve)");
  if (!compound) note_damaged_compound_file(w, options.m_notes, position == 0);
  // A file the probe holds whole (every link file) is carved from those
  // bytes rather than read again.
  if (w.m_length == file.stored_size()) {
    file.close();
    return carve_road(out, nullptr, w.image(), options, position);
  }
  return carve_road(out, &file, byte_view(), options);
}

namespace {

// Records of an automatic list are held whole while their bytes stay within
// this; past it only where each one comes from is kept, and it is parsed
// again when its turn in the report comes. The common list fits whole.
constexpr size_t k_held_record_budget = size_t{4} << 20;
// No stream number: the search for the streams that no entry names.
constexpr uint64_t k_no_stream = ~uint64_t{0};

// Where a record of an automatic list comes from: the DestList entry at an
// offset, or the link stream of a number that no entry read names.
struct link_source {
  uint64_t m_value = 0;
  bool m_from_entry = false;
  uint64_t m_index = 0;  // an entry's place in the DestList, from 1
};

std::string entry_label(const link_source& source) {
  return "DestList entry " + std::to_string(source.m_index);
}

// One file on the automatic road: the parsed image and its DestList.
struct automatic_list {
  driver_workspace& w;
  vesk_options& options;
  const compound_file_reader& reader;
  byte_view image;
  list_destlist dl;
  destlist_entry entry;
  uint64_t lost_links = 0;  // links not read in full

  // Why the stream of a number gave no link: null when it gave one.
  const char* why_no_link(bool found, byte_view stream, std::string_view name) const {
    if (!found) {
      const cfb_dir_entry* dir = find_cfb_entry(reader, name);
      if (!dir || dir->object_type() == 0) return "missing";
      if (dir->stream_size() == 0) return "empty";
      return "not in the file (its sectors are missing)";
    }
    if (stream.size() < lnk_header_size) return "too short for a link header";
    if (!is_lnk_header(stream.data(), stream.size())) return "no link header";
    return nullptr;
  }

  // Parses the link of source into record with its list context; false
  // when its stream is missing. first_offset: where the stream starts.
  // lost: why no link was read (null when one was).
  bool read_link(lnk_record& record, const link_source& source, int64_t position, bool first_time,
                 uint64_t& first_offset, const char*& lost) {
    const destlist_entry* from = nullptr;
    lost = nullptr;
    if (source.m_from_entry) {
      if (!first_time && !dl.walker.load_at(static_cast<size_t>(source.m_value), entry))
        return false;
      from = &entry;
    }
    const uint64_t number = from ? from->m_entry_num : source.m_value;
    char name[16];
    const std::string_view stream_name = hex_name(number, name);
    byte_view stream;
    uint32_t dir_entry = 0;
    first_offset = 0;
    // Memory that runs out in the stream's copy or its parse loses the link
    // or part of it: said, never silent.
    const cfb_dir_entry* dir = find_cfb_entry(reader, stream_name);
    const bool found = entry_stream_bytes(reader, dir, image.data(), image.size(), w.m_scratch,
                                          stream, dir_entry, first_offset, w.m_read_faults);
    bool out_of_memory = !found && w.reads_ran_out();
    // The stream is cut to its declared size or to the sectors it has,
    // whichever is less, so the parser never reads past it; bytes the file
    // does not hold are not handed to it.
    if (found) {
      if (reader.m_stream_present < dir->stream_size()) {
        stream = stream.clamp(0, static_cast<size_t>(reader.m_stream_present));
        if (first_time)
          options.m_notes.add("link stream", reader.m_stream_present,
                              "cut short: the bytes from here on are not in the file", stream_name);
      }
    }
    if (found || !out_of_memory) lost = why_no_link(found, stream, stream_name);
    if (!lost) {
      if (first_time && !options.lnk_dump_dir.empty())
        dump_stream(options.lnk_dump_dir, dir_entry, first_offset, stream);
      const uint32_t short_before = record.m_faults.out_of_memory_count();
      const bool parsed =
          parse_lnk(record, stream.data(), stream.size(), options, options.m_scratch.link, false, 0,
                    first_time ? &options : nullptr);
      out_of_memory = out_of_memory || record.m_faults.out_of_memory_count() != short_before;
      if (!parsed) {
        reset_lnk_record(record, options.m_scratch.shell());
        lost = "unparseable (its header, or an ID list that runs past the stream)";
      } else if (record.m_faults.empty()) {
        // A link stream holds its link and nothing more: a terminal block
        // met before the stream's end is zeros inside a block (a sector
        // zeroed or a size written wrong), and what lay past it is lost.
        if (record.m_lnk_size < stream.size())
          add_record_fault(record,
                           parse_fault{"link", record.m_lnk_size,
                                       "ends before its stream: the bytes past it not read"});
      }
    }
    record.m_file_offset = found ? first_offset : 0;
    record.m_entry_num = number;
    record.m_mru_position = static_cast<int32_t>(position);
    if (from) take_destlist_entry(record, *from, record.m_mru_position);
    if (record.m_lnk_size == 0 && found) record.m_lnk_size = static_cast<uint32_t>(stream.size());
    record.m_source_type.assign(options.m_source_type);
    if (out_of_memory) {
      if (from && lost_links++ < k_named_lost_links)
        options.m_notes.add(
            entry_label(source), source.m_value,
            "link stream " + std::string(stream_name) + " not read in full: out of memory",
            "DestList");
      else if (from)
        options.m_notes.add("DestList entries", source.m_value,
                            "links not read in full: out of memory", "DestList");
      else
        options.m_notes.add_out_of_memory("link", 0, stream_name);
    } else if (lost && first_time)
      note_lost(source, stream_name, lost);
    return found;
  }

  // A link that no record shows: the first few by their entry, the rest
  // counted.
  void note_lost(const link_source& source, std::string_view stream_name, const char* lost) {
    if (!source.m_from_entry) {
      options.m_notes.add("link stream", 0, std::string(lost) + ": not reported", stream_name);
      return;
    }
    dl.note_lost(source.m_index, source.m_value, stream_name, lost);
  }

  // An entry whose link names no target shows the path the DestList gives
  // it instead (a stored record's own was released with its other texts).
  void keep_destlist_path(lnk_record& record, const link_source& source) {
    if (!source.m_from_entry ||
        !dl.walker.load_at(static_cast<size_t>(source.m_value), entry, true))
      return;
    record.m_destlist_path = entry.m_path;
  }
};

// Whether any of the streams of these numbers holds a link header: a
// compound file without a DestList that has them is a damaged jump list.
// Memory that runs out ends the search, said in faults.
bool any_link_stream(const compound_file_reader& reader, const std::vector<uint64_t>& numbers,
                     byte_view image, std::vector<uint8_t>& scratch, fault_sink& faults) {
  for (uint64_t number : numbers) {
    char name[16];
    byte_view stream;
    uint32_t dir_entry = 0;
    uint64_t first_offset = 0;
    if (stream_bytes(reader, hex_name(number, name), image.data(), image.size(), scratch, stream,
                     dir_entry, first_offset, faults)) {
      if (is_lnk_header(stream.data(), stream.size())) return true;
    } else if (faults.out_of_memory()) {
      return false;
    }
  }
  return false;
}

// Out of memory partway: the records listed past the budget are lost with
// the one being read and those after it; the note names the first of them
// and counts them. unnamed_left: the streams no entry names not yet taken,
// with the one being read.
void note_records_lost(automatic_list& list, std::vector<link_source>& listed,
                       const link_source& reading, uint64_t unnamed_left) {
  const link_source first = listed.empty() ? reading : listed.front();
  uint64_t lost = listed.size() + unnamed_left;
  // Let go of what was held, so that the note can be made.
  std::vector<link_source>().swap(listed);
  // Whether the count ends with the entries or streams it names.
  bool counted = true;
  if (reading.m_from_entry) {
    ++lost;
    // The entries the walk did not reach, counted without being read,
    // and the streams no entry names, never searched for.
    std::vector<uint64_t>& numbers = list.w.m_entry_numbers;
    const fault_sink& stop = list.dl.walker.faults();
    counted = !stop.out_of_memory() && guarded([&] {
      while (list.dl.walker.next(list.entry, false)) {
        ++lost;
        numbers.push_back(list.entry.m_entry_num);
      }
      if (!stop.empty() || stop.out_of_memory()) return false;
      lost += unnamed_link_streams(list.reader, numbers).size();
      return true;
    });
  }
  file_notes& notes = list.options.m_notes;
  char name[16];
  const std::string label = first.m_from_entry
                                ? entry_label(first)
                                : "link stream " + std::string(hex_name(first.m_value, name));
  if (!reading.m_from_entry && reading.m_value == k_no_stream)
    notes.add("link streams that no entry names", 0, "out of memory: not searched for");
  if (lost != 0)
    notes.add(label, first.m_from_entry ? first.m_value : 0,
              "out of memory: not reported, nor what follows it: " + std::to_string(lost) +
                  (lost == 1 ? " record" : " records") + " not reported" +
                  (counted ? std::string() : std::string(" and those past the last one read")),
              first.m_from_entry ? std::string_view("DestList") : std::string_view());
}

// The records of an automatic list, highest position first: those listed
// past the budget parsed again one at a time, then those held. Out of memory
// in the report, the records not yet written are let go, so that the note
// saying so can be made, and it names the first of them.
void report_automatic_records(std::ostream& out, automatic_list& list, record_slot& slot,
                              std::vector<link_source>& listed, int64_t first_listed,
                              uint64_t& first_offset) {
  vesk_options& options = list.options;
  int64_t unreported = 0;
  uint64_t unreported_stream = 0;
  auto report_guarded = [&](lnk_record& record) {
    const bool written =
        guarded([&] { return report_written(out, record, options, options.m_notes); });
    if (written) return true;
    unreported = record.m_mru_position;
    unreported_stream = record.m_entry_num;
    return false;
  };
  for (size_t i = listed.size(); i-- > 0 && !unreported;) {
    const link_source& source = listed[i];
    const int64_t at = first_listed + static_cast<int64_t>(i);
    const bool reported = guarded([&] {
      lnk_record& record = slot.next();
      const char* lost = nullptr;
      list.read_link(record, source, at, false, first_offset, lost);
      const bool no_target = carved_record_is_empty(record);
      if (no_target && !source.m_from_entry) return false;
      compact_lnk_record(record, options.m_idlist_times, options.m_scratch.shell());
      if (no_target) list.keep_destlist_path(record, source);
      report_guarded(record);
      return true;
    });
    if (!reported && !unreported) {
      unreported = at;
      unreported_stream = source.m_from_entry ? 0 : source.m_value;
    }
  }
  for (auto it = options.m_records.rbegin(); it != options.m_records.rend() && !unreported; ++it)
    report_guarded(it->second);
  if (unreported) {
    options.m_records.clear();
    std::vector<link_source>().swap(listed);
    char name[16];
    options.m_notes.add(static_cast<uint64_t>(unreported) <= list.dl.walker.count()
                            ? "DestList entry " + std::to_string(unreported)
                            : "link stream " + std::string(hex_name(unreported_stream, name)),
                        0, "out of memory: its record not written, nor any after it in the report");
  }
}

// Reads the rest of a compound file and parses its structures; false when
// the file is refused (fail has said why).
bool read_compound_image(vesk_options& options, driver_workspace& w) {
  if (!is_compound_file(w.m_image.data(), w.m_length)) return fail(options, failure::not_a_list);
  const uint64_t size = w.m_file.stored_size();
  if (size >= k_max_image_size) return fail(options, failure::damaged, "4 GiB or larger");
  errno = 0;
  if (!read_rest(w, size))
    return fail(options, failure::cannot_read, std::strerror(errno ? errno : EIO));
  struct stat now;
  if (w.m_length < size && vk::posix_fstat(w.m_file.fd(), now) &&
      static_cast<uint64_t>(now.st_size) != size) {
    // Cut while it was read: what is reported is what was there, and said.
    char cause[96];
    std::snprintf(cause, sizeof cause, "changed while read: %llu bytes when opened, %llu now",
                  static_cast<unsigned long long>(size),
                  static_cast<unsigned long long>(now.st_size));
    options.m_notes.add("file", w.m_length, cause);
  }
  w.m_file.close();
  options.m_source_size = w.m_length;
  compound_file_reader& reader = w.m_reader;
  // Free space and slack are worked out only when they are searched.
  if (parse_compound_image(&reader, w.m_image.data(), w.m_length, options.m_slack != 0))
    return true;
  if (reader.m_faults.out_of_memory()) return fail(options, failure::cannot_read, "out of memory");
  if (cfb_cut_structure(reader))
    return fail(options, failure::damaged, "cut short: its directory lies past its end");
  return fail(options, failure::damaged, "compound file structures");
}

// The links of the list's free space, after its records; stream_starts:
// where the link streams start (sorted here), which the search leaves alone.
void report_free_space_links(std::ostream& out, automatic_list& list,
                             std::vector<uint64_t>& stream_starts,
                             std::multimap<int64_t, lnk_record>* free_space_records) {
  vesk_options& options = list.options;
  std::sort(stream_starts.begin(), stream_starts.end());
  stream_starts.erase(std::unique(stream_starts.begin(), stream_starts.end()), stream_starts.end());
  if (!recover_free_space_links(list.reader, list.image.data(), list.image.size(), stream_starts,
                                options, [&](lnk_record& record) {
                                  report_noted(out, record, options);
                                  if (free_space_records)
                                    free_space_records->emplace(
                                        static_cast<int64_t>(record.m_file_offset), record);
                                }))
    options.m_notes.add("free space", 0, "not searched in full: out of memory");
}

// Opens the list's DestList stream and starts its walk (its reading says
// why the streams no entry names were left so). False when the file is refused (fail has said why);
// cut: the file ends inside its sectors.
bool open_destlist(automatic_list& list, bool cut) {
  driver_workspace& w = list.w;
  vesk_options& options = list.options;
  const compound_file_reader& reader = list.reader;
  switch (list.dl.open(w.m_destlist_scratch, w.m_read_faults)) {
    case destlist_open::walk:
    case destlist_open::none:
      return true;
    case destlist_open::out_of_memory:
      w.m_read_faults.clear();
      return fail(options, failure::cannot_read, "out of memory");
    case destlist_open::missing:
      break;
  }
  // A compound file without a DestList is a damaged jump list when its
  // streams named by numbers hold links; any other is no jump list, unless
  // it was cut.
  w.m_entry_numbers.clear();
  if (!any_link_stream(reader, unnamed_link_streams(reader, w.m_entry_numbers), list.image,
                       w.m_scratch, w.m_read_faults)) {
    if (w.reads_ran_out()) return fail(options, failure::cannot_read, "out of memory");
    if (!cut) return fail(options, failure::no_destlist);
    options.m_notes.clear();
    return fail(options, failure::damaged, "cut short: no DestList stream in what is left");
  }
  return true;
}

// The automatic road over the file's bytes: the classification hands over
// what it has read so far (its probe) and the open file, and only the rest
// is read here, so that each file is read once. Records are reported from
// the highest position down, then the links of free space; records beyond
// the budget are parsed a second time for the report, which then starts
// before the free space has been searched. Only a caller that asks for them
// (free_space_records) gets copies of the free-space records.
bool automatic_road(std::ostream& out, vesk_options& options,
                    std::multimap<int64_t, lnk_record>* free_space_records, driver_workspace& w) {
  if (free_space_records) free_space_records->clear();
  recycle_records(options.m_records, options.m_scratch);
  if (!read_compound_image(options, w)) return false;
  const uint8_t* image = w.m_image.data();
  const size_t image_size = w.m_length;
  const compound_file_reader& reader = w.m_reader;
  // A file cut inside its sectors is read as far as it goes.
  const bool cut = note_chains(reader, image_size, options.m_notes);
  uint64_t first_offset = 0;
  automatic_list list{w,
                      options,
                      reader,
                      byte_view(image, image_size),
                      list_destlist(reader, byte_view(image, image_size), options.m_notes,
                                    w.m_destlist_faults, w.m_entry_numbers),
                      {}};
  if (!open_destlist(list, cut)) return false;

  // Kept records within the budget are held in the settings' records; the
  // others are only listed, with positions from first_listed on.
  int64_t position = 1, first_listed = 0;
  size_t held_bytes = 0;
  std::vector<link_source> listed;
  // Only the free-space search asks where the streams start.
  std::vector<uint64_t> stream_starts;
  // Each record is parsed straight into a spare node of the record map.
  record_slot slot(options.m_scratch);
  // What is being read, for a note when memory runs out (its label is made
  // only then: making it may be what fails).
  link_source reading;
  auto take = [&](const link_source& source) {
    reading = source;
    char name[16];
    lnk_record& record = slot.next();
    const char* lost = nullptr;
    const bool found = list.read_link(record, source, position, true, first_offset, lost);
    if (found && options.m_slack && (stream_starts.empty() || stream_starts.back() != first_offset))
      stream_starts.push_back(first_offset);
    // An entry is a record whatever became of its link; a stream that no
    // entry names only when its link names something.
    const bool no_target = carved_record_is_empty(record);
    if (no_target && !source.m_from_entry) {
      if (!lost) {
        note_faults(options, record, options.m_notes);
        list.note_lost(source, hex_name(source.m_value, name), "names no target");
      }
      return;
    }
    compact_lnk_record(record, options.m_idlist_times, options.m_scratch.shell());
    if (no_target) list.keep_destlist_path(record, source);
    if (listed.empty()) {
      const size_t cost = stored_record_bytes(record);
      if (cost <= k_held_record_budget - held_bytes) {
        held_bytes += cost;
        slot.store(options.m_records, position++);
        return;
      }
      first_listed = position;
    }
    listed.push_back(source);
    ++position;
  };
  // Out of memory partway, what was read so far is reported and the rest
  // is said to be missing.
  bool out_of_memory = false;
  uint64_t unnamed_reported = 0, unnamed_count = 0, unnamed_taken = 0;
  const bool walked = guarded([&] {
    list_destlist& dl = list.dl;
    const bool walking = dl.walked;
    // The stream numbers the entries name keep their room in the workspace
    // from file to file.
    while (walking && dl.next(list.entry, false)) {
      // Memory that runs out keeping the number loses this entry, said so.
      const link_source source{dl.walker.offset(), true, dl.walker.count()};
      reading = source;
      dl.named(list.entry);
      take(source);
    }
    if (walking && dl.walker.faults().out_of_memory()) {
      reading = link_source{dl.walker.offset(), true, dl.walker.count() + 1};
      out_of_memory = true;
      return true;
    }
    // Every stream no entry read names is reported after them, without
    // DestList data.
    reading = link_source{k_no_stream, false, 0};
    const int64_t before = position;
    const std::vector<uint64_t> numbers = dl.finish(list.entry);
    unnamed_count = numbers.size();
    for (uint64_t number : numbers) {
      ++unnamed_taken;
      take(link_source{number, false, 0});
    }
    unnamed_reported = static_cast<uint64_t>(position - before);
    return true;
  });
  if (!walked) out_of_memory = true;
  list.dl.note_gaps(unnamed_reported, unnamed_count);
  if (out_of_memory)
    note_records_lost(list, listed, reading,
                      reading.m_from_entry || reading.m_value == k_no_stream
                          ? 0
                          : unnamed_count - unnamed_taken + 1);
  if (list.dl.walker.count() == 0 && position == 1 && !options.m_notes.any())
    options.m_failure = failure::no_entries;

  report_automatic_records(out, list, slot, listed, first_listed, first_offset);
  recycle_records(options.m_records, options.m_scratch);
  if (options.m_slack) report_free_space_links(out, list, stream_starts, free_space_records);
  return true;
}

}  // namespace

bool process_automatic_jumplist(std::ostream& out, const std::string& path, vesk_options& options,
                                std::multimap<int64_t, lnk_record>& free_space_records) {
  free_space_records.clear();
  recycle_records(options.m_records, options.m_scratch);
  if (path.empty()) return false;
  driver_workspace& w = driver_scratch(options);
  w.begin();
  file_done done{w};
  return read_head(w, path, options) && automatic_road(out, options, &free_space_records, w);
}

bool process_custom_jumplist(std::ostream& out, const std::string& path, vesk_options& options) {
  if (path.empty()) return false;
  uni::fileio file(path, false);
  return carve_road(out, &file, byte_view(), options);
}

std::string failure_line(const lnk::useropts& options, const std::string& path) {
  const std::string& detail = options.m_failure_detail;
  switch (options.m_failure) {
    case failure::cannot_open:
      return "can't open file: " + path + " (" + detail + ")\n";
    case failure::cannot_read:
      return "can't read file: " + path + " (" + detail + ")\n";
    case failure::not_a_list:
      return "not a jump list or link file: " + path + "\n";
    case failure::no_destlist:
      return "no destlist stream in file: " + path + "\n";
    case failure::damaged:
      return "damaged file: " + path + " (" + detail + ")\n";
    case failure::none:
    case failure::no_entries:
      break;
  }
  // A file whose records were all lost is said by its notes alone: it is
  // no list without entries.
  if (options.m_notes.any()) return std::string();
  return "no entries in file: " + path + "\n";
}

bool failure_is_access(const lnk::useropts& options) {
  return options.m_failure == failure::cannot_open || options.m_failure == failure::cannot_read;
}

}  // namespace vk
