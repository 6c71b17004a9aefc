#include "jumplist/report_spill.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <queue>
#include <random>

#include "foundation/vk_bytes.h"
#include "foundation/vk_env.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_posix.h"

namespace vk {

namespace {

// The data written at once when this much waits.
constexpr size_t k_data_block = size_t{64} << 10;
// At most this many runs are merged in one pass, each read this many
// entries at a time: a merge holds a fixed few hundred KiB.
constexpr size_t k_fan_in = 64;
constexpr size_t k_merge_read = 512;
constexpr size_t k_entry_bytes = 32;
// A piece: a head (dropped (1 byte), 3 spare, the text's and the notes'
// lengths, the MRU position, the offset and the link's size with its faults
// flag), then the text, then the notes.
constexpr size_t k_piece_head = 32;
static_assert(k_piece_head == 32);
// A piece is read back in one read up to this size, a larger one in reads
// of this size: a large text is never held whole.
constexpr size_t k_read_piece = size_t{1} << 20;
// The most bytes of a first writing kept to find the titles in.
constexpr size_t k_titles_most = size_t{64} << 10;
// Pieces reported in the order written (no more than this many bytes of
// dropped ones between) are read this much at a time.
constexpr uint64_t k_read_ahead = uint64_t{64} << 10;
constexpr uint64_t k_ahead_gap = 4096;

// A name no other process can foresee: 64 bits from the system's source.
std::string unforeseen_name() {
  static std::random_device source;
  static constexpr char k_digits[] = "0123456789abcdef";
  uint64_t bits = (uint64_t{source()} << 32) ^ source();
  std::string name = ".vesk-held-";
  for (int i = 0; i < 16; ++i, bits >>= 4) name += k_digits[bits & 15];
  return name + ".tmp";
}

// A file in the temporary folder that has no name: removed by the system
// however the process ends. Where the folder's file system makes none without a name, one is made
// under a name no one can foresee, only if no file has it (no link followed), readable by us alone,
// and removed at once: a process ended in the instant between leaves that
// file behind, which is accepted as no one else can have opened it or put
// another in its place.
int nameless_temp(int& error) {
  std::string folder = temporary_folder();
  int fd = posix_open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd != -1) return fd;
  if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
    error = errno != 0 ? errno : EIO;
    return -1;
  }
  if (folder.back() != '/') folder += '/';
  for (int attempt = 0; attempt < 16; ++attempt) {
    std::string name;
    try {
      name = folder + unforeseen_name();
    } catch (const std::exception&) {  // no source of randomness: no named file either
      error = EIO;
      return -1;
    }
    fd = posix_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd != -1) {
      posix().unlinkat(AT_FDCWD, name.c_str(), 0);
      return fd;
    }
    if (errno != EEXIST) break;
  }
  error = errno != 0 ? errno : EIO;
  return -1;
}

bool before(const report_spill::entry& x, const report_spill::entry& y) {
  return x.key != y.key ? x.key > y.key : x.order > y.order;
}

void pack_entry(uint8_t* at, const report_spill::entry& e) {
  store_le64(at, static_cast<uint64_t>(e.key));
  store_le64(at + 8, e.order);
  store_le64(at + 16, e.position);
  store_le64(at + 24, e.length);
}

report_spill::entry unpack_entry(const uint8_t* at) {
  const byte_view v(at, k_entry_bytes);
  return {static_cast<int64_t>(v.u64_or_zero(0)), v.u64_or_zero(8), v.u64_or_zero(16),
          v.u64_or_zero(24)};
}

}  // namespace

report_spill::text_buf::int_type report_spill::text_buf::overflow(int_type c) {
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  const char ch = traits_type::to_char_type(c);
  m_to.put_text(&ch, 1);
  return c;
}

std::streamsize report_spill::text_buf::xsputn(const char* s, std::streamsize n) {
  m_to.put_text(s, static_cast<size_t>(n));
  return n;
}

void report_spill::put_text(const char* s, size_t n) {
  if (m_capturing) {
    m_capture_total += n;
    m_capture.append(s, std::min(n, k_titles_most - std::min(k_titles_most, m_capture.size())));
    return;
  }
  if (m_lost_error != 0) return;
  open_files();
  // An append that fails (memory) throws before anything changes: the
  // stream is marked bad and add() loses the piece.
  if (!m_piece_open) {
    m_pending.append(k_piece_head, '\0');
    m_piece_open = true;
    m_piece_start = m_data_end;
    m_text_length = 0;
    m_data_end += k_piece_head;
  }
  if (m_keep_head && m_text_head.size() < k_titles_most)
    m_text_head.append(s, std::min(n, k_titles_most - m_text_head.size()));
  // A large text goes on in blocks, never held whole.
  while (n > 0) {
    const size_t part = std::min(n, k_data_block);
    m_pending.append(s, part);
    m_data_end += part;
    m_text_length += part;
    s += part;
    n -= part;
    if (m_pending.size() >= k_data_block) flush_data();
  }
}

report_spill::report_spill(size_t run_entries, size_t drops_held)
    : m_run_entries(std::max<size_t>(run_entries, 2)), m_drops_most(drops_held) {}

report_spill::~report_spill() {
  if (m_data_fd != -1) posix_close(m_data_fd);
  if (m_runs_fd != -1) posix_close(m_runs_fd);
}

std::ostream& report_spill::first_text() {
  m_capturing = true;
  m_capture.clear();
  m_capture_total = 0;
  return m_text_stream;
}

void report_spill::end_first() {
  m_capturing = false;
  m_keep_head = true;
  m_text_head.clear();
}

void report_spill::set_titles() {
  m_keep_head = false;
  const uint64_t second = m_piece_open ? m_text_length : 0;
  if (m_capture_total > second && m_capture_total - second <= m_capture.size()) {
    // What the first writing holds past the titles is the second's text.
    const size_t titles = static_cast<size_t>(m_capture_total - second);
    const size_t rest = m_capture.size() - titles;
    if (rest <= m_text_head.size() && m_capture.compare(titles, rest, m_text_head, 0, rest) == 0)
      m_titles = m_capture.substr(0, titles);
  }
  std::string().swap(m_capture);
  std::string().swap(m_text_head);
}

void report_spill::files_failed(int error) {
  if (m_file_error == 0) m_file_error = error != 0 ? error : EIO;
}

void report_spill::lose(int error) {
  if (m_lost_error == 0) m_lost_error = error != 0 ? error : EIO;
}

void report_spill::open_files() {
  if (m_opened) return;
  m_opened = true;
  int error = 0;
  m_data_fd = nameless_temp(error);
  if (m_data_fd != -1) m_runs_fd = nameless_temp(error);
  if (m_runs_fd != -1) return;
  if (m_data_fd != -1) posix_close(m_data_fd);
  m_data_fd = -1;
  files_failed(error);
}

void report_spill::flush_data() {
  if (m_pending.empty() || m_file_error != 0) return;
  const io_result w =
      posix_pwrite_full(m_data_fd, m_pending.data(), m_pending.size(), m_data_flushed);
  // A block written in part stays here whole: the file is whole only up to
  // m_data_flushed.
  if (w.failed() || w.count != m_pending.size()) {
    files_failed(w.error);
    return;
  }
  m_data_flushed += m_pending.size();
  m_pending.clear();
}

void report_spill::write_run() {
  if (m_entries.empty() || m_file_error != 0) return;
  std::sort(m_entries.begin(), m_entries.end(), before);
  // Packed and written a block at a time, a 32nd of a run: a run costs no
  // second copy of its entries.
  const size_t block = std::max<size_t>(m_run_entries / 32, 1);
  std::vector<uint8_t> bytes(std::min(m_entries.size(), block) * k_entry_bytes);
  for (size_t from = 0; from < m_entries.size(); from += block) {
    const size_t count = std::min(m_entries.size() - from, block);
    for (size_t i = 0; i < count; ++i) pack_entry(&bytes[i * k_entry_bytes], m_entries[from + i]);
    const size_t length = count * k_entry_bytes;
    const io_result w =
        posix_pwrite_full(m_runs_fd, bytes.data(), length, (m_runs_end + from) * k_entry_bytes);
    // A run written in part is not a run: its entries stay here.
    if (w.failed() || w.count != length) {
      files_failed(w.error);
      return;
    }
  }
  m_runs.push_back(run{m_runs_end, m_entries.size()});
  m_runs_end += m_entries.size();
  ++m_runs_made;
  m_entries.clear();
}

uint64_t report_spill::add(int64_t key, uint64_t order, const file_notes& notes,
                           const carved_report& facts) {
  ++m_offered;
  const bool open = m_piece_open;
  m_piece_open = false;
  if (m_text_stream.bad()) {
    // Memory ran out while its text was written: the piece is not whole.
    m_text_stream.clear();
    return k_none;
  }
  if (m_lost_error != 0) return k_none;
  open_files();
  if (!open) {
    m_pending.append(k_piece_head, '\0');
    m_piece_start = m_data_end;
    m_text_length = 0;
    m_data_end += k_piece_head;
  }
  if (m_text_length > UINT32_MAX) {
    lose(EFBIG);
    return k_none;
  }
  const size_t before_notes = m_pending.size();
  try {
    notes.pack(m_pending);
  } catch (...) {
    m_pending.resize(before_notes);
    throw;
  }
  const size_t notes_length = m_pending.size() - before_notes;
  m_data_end += notes_length;
  uint8_t head[k_piece_head] = {};
  store_le32(head + 4, static_cast<uint32_t>(m_text_length));
  store_le32(head + 8, static_cast<uint32_t>(notes_length));
  store_le32(head + 12, static_cast<uint32_t>(facts.mru_position));
  store_le64(head + 16, facts.offset);
  store_le32(head + 24, static_cast<uint32_t>(facts.lnk_size));
  store_le32(head + 28, facts.faults ? 1 : 0);
  // A large text went on to the file before its head was known.
  if (m_piece_start >= m_data_flushed) {
    if (m_piece_start - m_data_flushed + k_piece_head > m_pending.size()) {
      lose(EIO);
      return k_none;
    }
    std::memcpy(m_pending.data() + (m_piece_start - m_data_flushed), head, k_piece_head);
  } else {
    io_result w;
    if (m_file_error == 0) w = posix_pwrite_full(m_data_fd, head, k_piece_head, m_piece_start);
    if (m_file_error != 0 || w.failed() || w.count != k_piece_head) {
      files_failed(w.error);
      // Once the files failed nothing more is written: only the piece open
      // then can begin in the file.
      if (m_head_held) {
        lose(EIO);
        return k_none;
      }
      m_head_held = true;
      m_head_at = m_piece_start;
      std::memcpy(m_head, head, k_piece_head);
    }
  }
  const uint64_t position = m_piece_start;
  ++m_added;
  m_entries.push_back(entry{key, order, position, m_data_end - position});
  if (m_pending.size() >= k_data_block) flush_data();
  if (m_entries.size() >= m_run_entries) write_run();
  return position;
}

void report_spill::drop(uint64_t position) {
  ++m_dropped;
  if (position == k_none || m_lost_error != 0) return;
  if (position >= m_data_flushed) {
    m_pending[static_cast<size_t>(position - m_data_flushed)] = 1;
    return;
  }
  if (m_head_held && position == m_head_at) {
    m_head[0] = 1;
    return;
  }
  // Held here while few, rather than a write each (a list nested in a
  // list's stream drops every link first carved from the outer one).
  if (m_drops_held.size() < m_drops_most && guarded([&] {
        m_drops_held.push_back(position);
        return true;
      }))
    return;
  if (m_file_error == 0) {
    m_ahead.clear();  // no longer the file's bytes
    const uint8_t dropped = 1;
    const io_result w = posix_pwrite_full(m_data_fd, &dropped, 1, position);
    if (!w.failed() && w.count == 1) return;
    files_failed(w.error);
  }
  m_drops_held.push_back(position);
}

bool report_spill::read_file_data(uint64_t at, size_t count) {
  const bool follows = at >= m_read_next && at - m_read_next <= k_ahead_gap;
  const bool precedes = at + count <= m_read_at && m_read_at - (at + count) <= k_ahead_gap;
  m_read_next = at + count;
  m_read_at = at;
  if (at >= m_ahead_at && at - m_ahead_at <= m_ahead.size() &&
      count <= m_ahead.size() - (at - m_ahead_at)) {
    std::memcpy(m_piece.data(), m_ahead.data() + (at - m_ahead_at), count);
    return true;
  }
  // Pieces reported in the order they were written (the dropped ones passed
  // by), or in the reverse of it (a list written in its DestList's order
  // and reported by time), three running, are read ahead in that direction,
  // twice as far each time up to 64 KiB; one out of that order starts over,
  // so that pieces reported in another order cost no more than their own
  // bytes.
  const int direction = follows ? 1 : precedes ? -1 : 0;
  m_follows = direction != 0 && direction == m_direction ? m_follows + 1 : direction != 0;
  m_direction = direction;
  m_ahead_step = m_follows >= 2
                     ? std::min<uint64_t>(std::max<uint64_t>(m_ahead_step * 2, 4096), k_read_ahead)
                     : 0;
  const uint64_t end = at + count;
  const size_t want = static_cast<size_t>(
      std::min<uint64_t>(direction < 0 ? end : m_data_flushed - at, m_ahead_step));
  if (want <= count) {
    const io_result r = posix_pread_full(m_data_fd, m_piece.data(), count, at);
    if (r.failed() || r.count != count) {
      lose(r.failed() ? r.error : EIO);
      return false;
    }
    return true;
  }
  const uint64_t from = direction < 0 ? end - want : at;
  m_ahead.resize(want);
  const io_result r = posix_pread_full(m_data_fd, m_ahead.data(), want, from);
  if (r.failed() || r.count != want) {
    // A read ahead that fails loses nothing: the piece is read alone, and
    // only its own failure is said.
    m_ahead.clear();
    m_follows = 0;
    const io_result alone = posix_pread_full(m_data_fd, m_piece.data(), count, at);
    if (alone.failed() || alone.count != count) {
      lose(alone.failed() ? alone.error : EIO);
      return false;
    }
    return true;
  }
  m_ahead_at = from;
  std::memcpy(m_piece.data(), m_ahead.data() + (at - from), count);
  return true;
}

bool report_spill::read_data(uint64_t at, size_t count) {
  m_piece.resize(count);
  const size_t in_file =
      at < m_data_flushed ? static_cast<size_t>(std::min<uint64_t>(count, m_data_flushed - at)) : 0;
  if (in_file != 0 && !read_file_data(at, in_file)) return false;
  if (in_file < count) {
    const uint64_t from = at + in_file - m_data_flushed;
    if (from > m_pending.size() || count - in_file > m_pending.size() - from) {
      lose(EIO);
      return false;
    }
    std::memcpy(m_piece.data() + in_file, m_pending.data() + from, count - in_file);
  }
  if (m_head_held && m_head_at < at + count && at < m_head_at + k_piece_head) {
    const uint64_t first = std::max(at, m_head_at);
    const uint64_t last = std::min(at + count, m_head_at + k_piece_head);
    std::memcpy(m_piece.data() + (first - at), m_head + (first - m_head_at), last - first);
  }
  return true;
}

bool report_spill::emit(const entry& e, std::ostream& out, file_notes& notes,
                        const std::function<void(const carved_report&)>& reported) {
  if (e.length < k_piece_head) {
    lose(EIO);
    return false;
  }
  // A piece dropped while held here is not read.
  if (std::binary_search(m_drops_held.begin(), m_drops_held.end(), e.position)) return true;
  if (!read_data(e.position, static_cast<size_t>(std::min<uint64_t>(e.length, k_read_piece))))
    return false;
  if (m_piece[0] != 0) return true;
  const byte_view h(m_piece.data(), k_piece_head);
  const uint64_t text_length = h.u32_or_zero(4), notes_length = h.u32_or_zero(8);
  if (k_piece_head + notes_length + text_length != e.length) {
    lose(EIO);
    return false;
  }
  carved_report facts;
  facts.mru_position = h.i32_or_zero(12);
  facts.offset = h.u64_or_zero(16);
  facts.lnk_size = h.u32_or_zero(24);
  facts.faults = h.u32_or_zero(28) != 0;
  if (m_reported == 0 && !m_titles.empty())
    out.write(m_titles.data(), static_cast<std::streamsize>(m_titles.size()));
  const auto text_piece = [&](size_t from, size_t count) {
    out.write(reinterpret_cast<const char*>(m_piece.data()) + from,
              static_cast<std::streamsize>(count));
  };
  if (e.length <= k_read_piece) {
    const char* const bytes = reinterpret_cast<const char*>(m_piece.data());
    notes.add_packed(std::string_view(bytes + k_piece_head + text_length, notes_length));
    text_piece(k_piece_head, static_cast<size_t>(text_length));
  } else {
    // A large piece: its text in reads of k_read_piece, then its notes.
    uint64_t done = std::min<uint64_t>(text_length, k_read_piece - k_piece_head);
    text_piece(k_piece_head, static_cast<size_t>(done));
    while (done < text_length) {
      const size_t count =
          static_cast<size_t>(std::min<uint64_t>(text_length - done, k_read_piece));
      if (!read_data(e.position + k_piece_head + done, count)) return false;
      text_piece(0, count);
      done += count;
    }
    if (!read_data(e.position + k_piece_head + text_length, static_cast<size_t>(notes_length)))
      return false;
    notes.add_packed(
        std::string_view(reinterpret_cast<const char*>(m_piece.data()), m_piece.size()));
  }
  ++m_reported;
  if (reported) reported(facts);
  return true;
}

bool report_spill::merge(const std::vector<run>& from, const std::vector<entry>& held,
                         const std::function<bool(const entry&)>& take) {
  // A run of the file read k_merge_read entries at a time; the entries
  // held in memory (sorted) as one more.
  struct cursor {
    run left;
    std::vector<entry> buffer;
    const entry* at = nullptr;
    const entry* end = nullptr;
  };
  std::vector<cursor> cursors(from.size() + 1);
  std::vector<uint8_t> bytes;
  const auto refill = [&](cursor& c) {
    const size_t count = static_cast<size_t>(std::min<uint64_t>(c.left.count, k_merge_read));
    if (count == 0) return true;
    bytes.resize(count * k_entry_bytes);
    const io_result r =
        posix_pread_full(m_runs_fd, bytes.data(), bytes.size(), c.left.start * k_entry_bytes);
    if (r.failed() || r.count != bytes.size()) {
      lose(r.failed() ? r.error : EIO);
      return false;
    }
    c.buffer.resize(count);
    for (size_t i = 0; i < count; ++i) c.buffer[i] = unpack_entry(&bytes[i * k_entry_bytes]);
    c.at = c.buffer.data();
    c.end = c.at + count;
    c.left.start += count;
    c.left.count -= count;
    return true;
  };
  const auto later = [&](size_t x, size_t y) { return before(*cursors[y].at, *cursors[x].at); };
  std::priority_queue<size_t, std::vector<size_t>, decltype(later)> next(later);
  for (size_t i = 0; i < from.size(); ++i) {
    cursors[i].left = from[i];
    if (!refill(cursors[i])) return false;
  }
  cursors.back().at = held.data();
  cursors.back().end = held.data() + held.size();
  for (size_t i = 0; i < cursors.size(); ++i)
    if (cursors[i].at != cursors[i].end) next.push(i);
  while (!next.empty()) {
    const size_t i = next.top();
    next.pop();
    cursor& c = cursors[i];
    if (!take(*c.at)) return false;
    if (++c.at == c.end && !refill(c)) return false;
    if (c.at != c.end) next.push(i);
  }
  return true;
}

bool report_spill::report(std::ostream& out, file_notes& notes,
                          const std::function<void(const carved_report&)>& reported) {
  if (m_lost_error != 0) return false;
  flush_data();
  std::sort(m_drops_held.begin(), m_drops_held.end());
  const auto give = [&](const entry& e) { return emit(e, out, notes, reported); };
  if (m_runs.empty()) {
    std::sort(m_entries.begin(), m_entries.end(), before);
    for (const entry& e : m_entries)
      if (!give(e)) return false;
    return true;
  }
  write_run();
  if (m_entries.empty()) std::vector<entry>().swap(m_entries);
  std::sort(m_entries.begin(), m_entries.end(), before);
  const std::vector<entry> none;
  // Past the fan-in, runs are merged into longer ones first, while the
  // files take them; once they fail, the rest are merged in one pass.
  while (m_file_error == 0 && m_runs.size() > k_fan_in) {
    const std::vector<run> group(m_runs.begin(), m_runs.begin() + k_fan_in);
    run merged{m_runs_end, 0};
    std::vector<uint8_t> bytes;
    const auto flush = [&] {
      const io_result w = posix_pwrite_full(m_runs_fd, bytes.data(), bytes.size(),
                                            (merged.start + merged.count) * k_entry_bytes);
      if (w.failed() || w.count != bytes.size()) {
        files_failed(w.error);
        return false;
      }
      merged.count += bytes.size() / k_entry_bytes;
      bytes.clear();
      return true;
    };
    if (!merge(group, none,
               [&](const entry& e) {
                 bytes.resize(bytes.size() + k_entry_bytes);
                 pack_entry(&bytes[bytes.size() - k_entry_bytes], e);
                 return bytes.size() < k_merge_read * k_entry_bytes || flush();
               }) ||
        !flush()) {
      // A merged run written in part is not used: the group stays.
      if (m_lost_error != 0) return false;
      break;
    }
    m_runs.erase(m_runs.begin(), m_runs.begin() + k_fan_in);
    m_runs_end = merged.start + merged.count;
    m_runs.push_back(merged);
    ++m_merges;
  }
  ++m_merges;
  return merge(m_runs, m_entries, give);
}

}  // namespace vk
