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
#include "jumplist/compound_file.h"
#include "jumplist/custom_list.h"
#include "jumplist/destlist.h"
#include "jumplist/lnk_carve.h"
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

// A stream name: the entry number in lower-case hexadecimal, no leading zeros.
std::string_view hex_name(uint64_t value, char (&buf)[16]) {
  const auto end = std::to_chars(buf, buf + sizeof buf, value, 16).ptr;
  return std::string_view(buf, static_cast<size_t>(end - buf));
}

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
  // The open file's status, taken once when it is opened.
  struct stat m_status {};
  bool m_has_status = false;

  byte_view image() const { return byte_view(m_image.data(), m_length); }
  // Starts a file: nothing of the last one is counted (end() closed it;
  // an open starts from a closed state anyway).
  void begin() { m_length = 0; }
  // Ends a file: the file closed, and after a file far beyond the usual
  // size its buffer and what grew with it (the reader's tables, the stream
  // copies) let go.
  void end() {
    if (m_file.is_open()) m_file.close();
    m_length = 0;
    if (m_image.capacity() <= k_keep_image) return;
    std::vector<uint8_t>().swap(m_image);
    std::vector<uint8_t>().swap(m_destlist_scratch);
    std::vector<uint8_t>().swap(m_scratch);
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
    if (length && fit(w, length) && file.read_at(w.m_image.data(), length, 0)) w.m_length = length;
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

// The faults a reported record's parse kept, said with the file: a link of
// an automatic list by its stream, any other by its file offset. Memory that
// ran out in the parse is said here for carved links; an automatic list's
// reader says it for each link it reads.
void note_faults(lnk::useropts& options, const lnk_record& r) {
  if (!options.m_automatic_list && r.m_faults.out_of_memory())
    options.m_notes.add("link", r.m_file_offset, "not read in full: out of memory");
  if (r.m_faults.empty()) return;
  if (options.m_automatic_list && !r.m_from_free_space) {
    char name[16];
    options.m_notes.add_record(r, 0, hex_name(r.m_entry_num, name));
  } else {
    options.m_notes.add_record(r, r.m_file_offset);
  }
}

void report_noted(std::ostream& out, lnk_record& record, vesk_options& options) {
  note_faults(options, record);
  options.m_scratch.report_out_of_memory = false;
  report_record(out, record, options);
  if (options.m_scratch.report_out_of_memory)
    options.m_notes.add("record", record.m_file_offset, "not written in full: out of memory");
}

// Reports the settings' records from the highest key down, those the keep
// rule passes.
void report_stored(std::ostream& out, vesk_options& options, bool carved) {
  for (auto it = options.m_records.rbegin(); it != options.m_records.rend(); ++it)
    if (!carved || !carved_record_is_empty(it->second)) report_noted(out, it->second, options);
}

// The custom and carve roads over an open file, or over bytes read whole.
// Highest file offset first; records of an embedded compound file, keyed by
// their write times, come before them.
bool carve_road(std::ostream& out, uni::fileio* file, byte_view bytes, vesk_options& options,
                uint64_t first_header = k_header_not_searched) {
  options.m_scan_step = 1;
  const bool found = carve_and_report(out, file, bytes, options, false, first_header,
                                      [&](lnk_record& r) { report_noted(out, r, options); });
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
  if (!read_head(w, path, options))
    return options.m_failure == failure::not_a_list && no_link(w, options);
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
    return automatic_road(out, options, nullptr, w);
  }
  options.m_carve_mode = true;
  options.m_source_type.assign(options.m_custom_list ? "VESKLIST (custom)"
                                                     : "LNK signature (carve)");
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

// Where a record of an automatic list comes from: the DestList entry at an
// offset, or the link stream of a number that no entry read names.
struct link_source {
  uint64_t m_value = 0;
  bool m_from_entry = false;
};

// One file on the automatic road: the parsed image and its DestList.
struct automatic_list {
  driver_workspace& w;
  vesk_options& options;
  const compound_file_reader& reader;
  byte_view image;
  destlist_walker destlist;
  destlist_entry entry;

  // Parses the link of source into record with its list context; false
  // when its stream is missing. first_offset: where the stream starts.
  bool read_link(lnk_record& record, const link_source& source, int64_t position, bool first_time,
                 uint64_t& first_offset) {
    const destlist_entry* from = nullptr;
    if (source.m_from_entry) {
      if (!first_time && !destlist.load_at(static_cast<size_t>(source.m_value), entry))
        return false;
      from = &entry;
    }
    const uint64_t number = from ? from->m_entry_num : source.m_value;
    char name[16];
    byte_view stream;
    uint32_t dir_entry = 0;
    first_offset = 0;
    // Memory that runs out in the stream's copy or its parse loses the link
    // or part of it: said, never silent.
    const stream_read read =
        stream_bytes(reader, hex_name(number, name), image.data(), image.size(), w.m_scratch,
                     stream, dir_entry, first_offset);
    const bool found = read.found;
    bool out_of_memory = read.out_of_memory;
    // The stream is cut to its declared size or to the sectors it has,
    // whichever is less, so the parser never reads past it.
    if (found && is_lnk_header(stream.data(), stream.size())) {
      if (first_time && !options.lnk_dump_dir.empty())
        dump_stream(options.lnk_dump_dir, dir_entry, first_offset, stream);
      const lnk_parse_result parsed =
          parse_lnk(record, stream.data(), stream.size(), options, options.m_scratch.link, false, 0,
                    first_time ? &options : nullptr);
      out_of_memory = out_of_memory || parsed.out_of_memory;
      if (!parsed) reset_lnk_record(record, options.m_scratch.shell());
    }
    record.m_file_offset = found ? first_offset : 0;
    record.m_entry_num = number;
    if (from) {
      record.m_mru_time = from->m_mru_time;
      record.m_has_access_count = from->m_has_access_count;
      record.m_access_count = from->m_access_count;
      record.m_netbios_name = from->m_netbios_name;
      record.m_checksum = from->m_checksum;
      record.m_destlist_droids = from->m_droids;
    }
    record.m_mru_position = static_cast<int32_t>(position);
    if (record.m_lnk_size == 0 && found) record.m_lnk_size = static_cast<uint32_t>(stream.size());
    record.m_source_type.assign(options.m_source_type);
    if (out_of_memory)
      options.m_notes.add("link", 0, "not read in full: out of memory", hex_name(number, name));
    return found;
  }
};

// The numbers of the link streams of the directory that no entry read
// names (names that are a number in lower-case hexadecimal as an entry
// would give it), ascending.
std::vector<uint64_t> unnamed_link_streams(const compound_file_reader& reader,
                                           const destlist_walker& destlist) {
  std::vector<uint64_t> named;
  destlist_entry entry;
  destlist_walker again;
  again.start(destlist.stream(), destlist.size());
  for (size_t i = 0; i < destlist.count() && again.next(entry, false); ++i)
    named.push_back(entry.m_entry_num);
  std::sort(named.begin(), named.end());
  std::vector<uint64_t> numbers;
  for (const auto& [key, dir_entry] : reader.m_entries) {
    uint64_t number = 0;
    const auto [end, error] = std::from_chars(key.data(), key.data() + key.size(), number, 16);
    char name[16];
    if (error != std::errc() || end != key.data() + key.size() || hex_name(number, name) != key ||
        std::binary_search(named.begin(), named.end(), number))
      continue;
    numbers.push_back(number);
  }
  std::sort(numbers.begin(), numbers.end());
  numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
  return numbers;
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
  if (!is_compound_file(w.m_image.data(), w.m_length)) return fail(options, failure::not_a_list);
  const uint64_t size = w.m_file.stored_size();
  if (size >= k_max_image_size) return fail(options, failure::damaged, "4 GiB or larger");
  errno = 0;
  if (!read_rest(w, size))
    return fail(options, failure::cannot_read, std::strerror(errno ? errno : EIO));
  w.m_file.close();
  options.m_source_size = w.m_length;
  const uint8_t* image = w.m_image.data();
  const size_t image_size = w.m_length;

  compound_file_reader& reader = w.m_reader;
  // Free space and slack are worked out only when they are searched.
  if (!parse_compound_image(&reader, image, image_size, options.m_slack != 0))
    return fail(options, failure::damaged, "compound file structures");
  // Streams are read in place from the image where their sectors allow.
  byte_view destlist;
  uint32_t dir_entry = 0;
  uint64_t first_offset = 0;
  automatic_list list{w, options, reader, byte_view(image, image_size), {}, {}};
  if (stream_bytes(reader, "destlist", image, image_size, w.m_destlist_scratch, destlist, dir_entry,
                   first_offset)) {
    if (!list.destlist.start(destlist.data(), destlist.size()))
      return fail(options, failure::damaged, "DestList header");
  } else {
    const cfb_dir_entry* named = find_cfb_entry(reader, "destlist");
    if (!named || named->object_type() == 0 || named->stream_size() != 0)
      return fail(options, failure::no_destlist);
    // A list whose DestList is there but empty: valid, with no entries.
  }

  // Kept records within the budget are held in the settings' records; the
  // others are only listed, with positions from first_listed on.
  int64_t position = 1, first_listed = 0;
  size_t held_bytes = 0;
  std::vector<link_source> listed;
  // Only the free-space search asks where the streams start.
  std::vector<uint64_t> stream_starts;
  // Each record is parsed straight into a spare node of the record map.
  record_slot slot(options.m_scratch);
  auto take = [&](const link_source& source) {
    lnk_record& record = slot.next();
    const bool found = list.read_link(record, source, position, true, first_offset);
    if (found && options.m_slack && (stream_starts.empty() || stream_starts.back() != first_offset))
      stream_starts.push_back(first_offset);
    if (carved_record_is_empty(record)) return;
    compact_lnk_record(record, options.m_idlist_times, options.m_scratch.shell());
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
  bool missing = false;
  const bool walked = guarded([&] {
    while (list.destlist.next(list.entry, false)) take(link_source{list.destlist.offset(), true});
    if (list.destlist.stopped() == destlist_walker::stop::no_memory) {
      missing = true;
      return true;
    }
    if (list.destlist.stopped() != destlist_walker::stop::damaged) return true;
    // The entries after a damaged one are lost, their streams are not: each
    // stream no entry read names is reported without DestList data.
    const int64_t before = position;
    for (uint64_t number : unnamed_link_streams(reader, list.destlist))
      take(link_source{number, false});
    options.m_notes.add_numbered("DestList entry", list.destlist.count() + 1,
                                 list.destlist.offset(),
                                 "runs past the stream; " + std::to_string(position - before) +
                                     " link streams reported without DestList data",
                                 "DestList");
    return true;
  });
  if (!walked) missing = true;
  if (missing)
    options.m_notes.add_numbered("DestList entry", list.destlist.count() + 1,
                                 list.destlist.offset(),
                                 "not read, nor the entries after it: out of memory", "DestList");
  if (list.destlist.count() == 0 && list.destlist.stopped() == destlist_walker::stop::end)
    options.m_failure = failure::no_entries;

  // The listed records, parsed again one at a time, highest position first.
  for (size_t i = listed.size(); i-- > 0;) {
    const bool reported = guarded([&] {
      lnk_record& record = slot.next();
      list.read_link(record, listed[i], first_listed + static_cast<int64_t>(i), false,
                     first_offset);
      // Kept once, the same link is kept again unless memory ran out.
      if (carved_record_is_empty(record)) return false;
      compact_lnk_record(record, options.m_idlist_times, options.m_scratch.shell());
      report_noted(out, record, options);
      return true;
    });
    if (!reported) {
      const link_source& source = listed[i];
      char name[16];
      if (source.m_from_entry)
        options.m_notes.add("DestList entry", source.m_value, "link not reported: out of memory",
                            "DestList");
      else
        options.m_notes.add("link", 0, "not reported: out of memory",
                            hex_name(source.m_value, name));
    }
  }
  report_stored(out, options, false);
  recycle_records(options.m_records, options.m_scratch);
  if (options.m_slack) {
    std::sort(stream_starts.begin(), stream_starts.end());
    stream_starts.erase(std::unique(stream_starts.begin(), stream_starts.end()),
                        stream_starts.end());
    if (!recover_free_space_links(
            reader, image, image_size, stream_starts, options, [&](lnk_record& record) {
              report_noted(out, record, options);
              if (free_space_records)
                free_space_records->emplace(static_cast<int64_t>(record.m_file_offset), record);
            }))
      options.m_notes.add("free space", 0, "not searched in full: out of memory");
  }
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
  return "no entries in file: " + path + "\n";
}

bool failure_is_access(const lnk::useropts& options) {
  return options.m_failure == failure::cannot_open || options.m_failure == failure::cannot_read;
}

}  // namespace vk
