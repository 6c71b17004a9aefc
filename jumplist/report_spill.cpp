#include "jumplist/report_spill.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <queue>

#include "foundation/vk_bytes.h"
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
// A piece: dropped (1 byte), 3 spare, the text's and the notes' lengths,
// the MRU position, the offset and the link's size with its faults flag.
constexpr size_t k_piece_head = 32;

// A file in the temporary folder that has no name: removed by the system
// however the process ends. Where the folder's file system makes none
// without a name, one is made with a fresh name and removed at once.
int nameless_temp(int& error) {
  const char* dir = std::getenv("TMPDIR");
  std::string folder = dir != nullptr && dir[0] == '/' ? dir : "/tmp";
  int fd = posix_open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd != -1) return fd;
  if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
    error = errno != 0 ? errno : EIO;
    return -1;
  }
  if (folder.back() != '/') folder += '/';
  for (int attempt = 0; attempt < 16; ++attempt) {
    const std::string name = folder + ".vesk-held-" + std::to_string(::getpid()) + '-' +
                             std::to_string(attempt) + ".tmp";
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
  m_to.push_back(traits_type::to_char_type(c));
  return c;
}

std::streamsize report_spill::text_buf::xsputn(const char* s, std::streamsize n) {
  m_to.append(s, static_cast<size_t>(n));
  return n;
}

report_spill::report_spill(size_t run_entries) : m_run_entries(std::max<size_t>(run_entries, 2)) {}

report_spill::~report_spill() {
  if (m_data_fd != -1) posix_close(m_data_fd);
  if (m_runs_fd != -1) posix_close(m_runs_fd);
}

void report_spill::set_titles(const std::string& first) {
  const size_t n = m_text.size();
  if (first.size() > n && first.compare(first.size() - n, n, m_text) == 0)
    m_titles = first.substr(0, first.size() - n);
}

void report_spill::fail(int error) {
  if (m_error == 0) m_error = error != 0 ? error : EIO;
}

bool report_spill::open_files() {
  if (m_data_fd != -1) return true;
  int error = 0;
  m_data_fd = nameless_temp(error);
  if (m_data_fd != -1) m_runs_fd = nameless_temp(error);
  if (m_runs_fd == -1) fail(error);
  return m_runs_fd != -1;
}

bool report_spill::flush_data() {
  if (m_pending.empty() || m_error != 0) return m_error == 0;
  const io_result w =
      posix_pwrite_full(m_data_fd, m_pending.data(), m_pending.size(), m_data_flushed);
  if (w.failed() || w.count != m_pending.size()) {
    fail(w.error);
    return false;
  }
  m_data_flushed += m_pending.size();
  m_pending.clear();
  return true;
}

bool report_spill::write_run() {
  if (m_entries.empty()) return true;
  std::sort(m_entries.begin(), m_entries.end(), before);
  std::vector<uint8_t> bytes(m_entries.size() * k_entry_bytes);
  for (size_t i = 0; i < m_entries.size(); ++i) pack_entry(&bytes[i * k_entry_bytes], m_entries[i]);
  const io_result w =
      posix_pwrite_full(m_runs_fd, bytes.data(), bytes.size(), m_runs_end * k_entry_bytes);
  if (w.failed() || w.count != bytes.size()) {
    fail(w.error);
    return false;
  }
  m_runs.push_back(run{m_runs_end, m_entries.size()});
  m_runs_end += m_entries.size();
  ++m_runs_made;
  m_entries.clear();
  return true;
}

uint64_t report_spill::add(int64_t key, const file_notes& notes, const carved_report& facts) {
  std::string& text = m_text;
  ++m_offered;
  if (m_error != 0 || !open_files()) {
    text.clear();
    return k_none;
  }
  const uint64_t position = m_data_end;
  const size_t head = m_pending.size();
  m_pending.append(k_piece_head, '\0');
  const size_t before_notes = m_pending.size();
  notes.pack(m_pending);
  const size_t notes_length = m_pending.size() - before_notes;
  m_pending.append(text);
  uint8_t* const h = reinterpret_cast<uint8_t*>(m_pending.data() + head);
  store_le32(h + 4, static_cast<uint32_t>(text.size()));
  store_le32(h + 8, static_cast<uint32_t>(notes_length));
  store_le32(h + 12, static_cast<uint32_t>(facts.mru_position));
  store_le64(h + 16, facts.offset);
  store_le32(h + 24, static_cast<uint32_t>(facts.lnk_size));
  store_le32(h + 28, facts.faults ? 1 : 0);
  m_data_end += m_pending.size() - head;
  text.clear();
  m_entries.push_back(entry{key, m_added++, position, m_pending.size() - head});
  if (m_pending.size() >= k_data_block && !flush_data()) return k_none;
  if (m_entries.size() >= m_run_entries && !write_run()) return k_none;
  return position;
}

void report_spill::drop(uint64_t position) {
  ++m_dropped;
  if (position == k_none || m_error != 0) return;
  if (position >= m_data_flushed) {
    m_pending[static_cast<size_t>(position - m_data_flushed)] = 1;
    return;
  }
  const uint8_t dropped = 1;
  const io_result w = posix_pwrite_full(m_data_fd, &dropped, 1, position);
  if (w.failed() || w.count != 1) fail(w.error);
}

bool report_spill::emit(const entry& e, std::ostream& out, file_notes& notes,
                        const std::function<void(const carved_report&)>& reported) {
  m_piece.resize(static_cast<size_t>(e.length));
  const io_result r = posix_pread_full(m_data_fd, m_piece.data(), m_piece.size(), e.position);
  if (r.failed() || r.count != m_piece.size() || r.count < k_piece_head) {
    fail(r.failed() ? r.error : EIO);
    return false;
  }
  if (m_piece[0] != 0) return true;
  const byte_view h(m_piece.data(), k_piece_head);
  const size_t text_length = h.u32_or_zero(4), notes_length = h.u32_or_zero(8);
  if (k_piece_head + notes_length + text_length != m_piece.size()) {
    fail(EIO);
    return false;
  }
  carved_report facts;
  facts.mru_position = h.i32_or_zero(12);
  facts.offset = h.u64_or_zero(16);
  facts.lnk_size = h.u32_or_zero(24);
  facts.faults = h.u32_or_zero(28) != 0;
  if (m_reported == 0 && !m_titles.empty())
    out.write(m_titles.data(), static_cast<std::streamsize>(m_titles.size()));
  const char* const bytes = reinterpret_cast<const char*>(m_piece.data()) + k_piece_head;
  notes.add_packed(std::string_view(bytes, notes_length));
  out.write(bytes + notes_length, static_cast<std::streamsize>(text_length));
  ++m_reported;
  if (reported) reported(facts);
  return true;
}

bool report_spill::merge(const std::vector<run>& from,
                         const std::function<bool(const entry&)>& take) {
  struct cursor {
    run left;
    std::vector<uint8_t> bytes;
    size_t at = 0, count = 0;
  };
  std::vector<cursor> cursors(from.size());
  const auto refill = [&](cursor& c) {
    c.count = static_cast<size_t>(std::min<uint64_t>(c.left.count, k_merge_read));
    c.at = 0;
    if (c.count == 0) return true;
    c.bytes.resize(c.count * k_entry_bytes);
    const io_result r =
        posix_pread_full(m_runs_fd, c.bytes.data(), c.bytes.size(), c.left.start * k_entry_bytes);
    if (r.failed() || r.count != c.bytes.size()) {
      fail(r.failed() ? r.error : EIO);
      return false;
    }
    c.left.start += c.count;
    c.left.count -= c.count;
    return true;
  };
  const auto later = [&](size_t x, size_t y) {
    return before(unpack_entry(&cursors[y].bytes[cursors[y].at * k_entry_bytes]),
                  unpack_entry(&cursors[x].bytes[cursors[x].at * k_entry_bytes]));
  };
  std::priority_queue<size_t, std::vector<size_t>, decltype(later)> next(later);
  for (size_t i = 0; i < from.size(); ++i) {
    cursors[i].left = from[i];
    if (!refill(cursors[i])) return false;
    if (cursors[i].count != 0) next.push(i);
  }
  while (!next.empty()) {
    const size_t i = next.top();
    next.pop();
    cursor& c = cursors[i];
    if (!take(unpack_entry(&c.bytes[c.at * k_entry_bytes]))) return false;
    if (++c.at == c.count && !refill(c)) return false;
    if (c.at < c.count) next.push(i);
  }
  return true;
}

bool report_spill::report(std::ostream& out, file_notes& notes,
                          const std::function<void(const carved_report&)>& reported) {
  if (m_error != 0 || !flush_data()) return false;
  const auto give = [&](const entry& e) { return emit(e, out, notes, reported); };
  if (m_runs.empty()) {
    std::sort(m_entries.begin(), m_entries.end(), before);
    for (const entry& e : m_entries)
      if (!give(e)) return false;
    return true;
  }
  if (!write_run()) return false;
  std::vector<entry>().swap(m_entries);
  // Past the fan-in, runs are merged into longer ones first.
  while (m_runs.size() > k_fan_in) {
    const std::vector<run> group(m_runs.begin(), m_runs.begin() + k_fan_in);
    m_runs.erase(m_runs.begin(), m_runs.begin() + k_fan_in);
    run merged{m_runs_end, 0};
    std::vector<uint8_t> bytes;
    const auto flush = [&] {
      const io_result w = posix_pwrite_full(m_runs_fd, bytes.data(), bytes.size(),
                                            (merged.start + merged.count) * k_entry_bytes);
      if (w.failed() || w.count != bytes.size()) {
        fail(w.error);
        return false;
      }
      merged.count += bytes.size() / k_entry_bytes;
      bytes.clear();
      return true;
    };
    if (!merge(group,
               [&](const entry& e) {
                 bytes.resize(bytes.size() + k_entry_bytes);
                 pack_entry(&bytes[bytes.size() - k_entry_bytes], e);
                 return bytes.size() < k_merge_read * k_entry_bytes || flush();
               }) ||
        !flush())
      return false;
    m_runs_end = merged.start + merged.count;
    m_runs.push_back(merged);
    ++m_merges;
  }
  ++m_merges;
  return merge(m_runs, give);
}

}  // namespace vk
