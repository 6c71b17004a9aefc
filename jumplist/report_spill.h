// Reports held in the temporary folder until their turn: a carved file's
// records past the memory budget are written at once, as the report would
// write them, into a file of their texts, each with a small entry (its key,
// its place among equal keys, where its text lies). The entries are sorted
// in bounded memory (sorted runs kept in a second file when a fixed buffer
// fills, then merged) and the texts copied to the report from the highest
// key down, of equal keys the later added first. Both files are made
// without a name ($TMPDIR), so that nothing is left behind on any exit and
// no input can be one of them. When the folder takes no file, or a write
// there fails (a full disk, a size limit), what the files hold whole stays
// there and the rest is held in memory from then on, so that every record
// is still reported, in the same order and bytes; only memory running out
// loses records.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

#include "jumplist/file_notes.h"

namespace vk {

// What the report's caller is told of a record once its text is in place.
struct carved_report {
  uint64_t offset = 0;    // the record's file offset
  uint64_t lnk_size = 0;  // the link's size
  int32_t mru_position = 0;
  bool faults = false;  // its parse left faults
};

class report_spill {
 public:
  // run_entries: the entries sorted in memory before they are kept as a run;
  // drops_held: the dropped records kept by position in memory before each
  // is marked in the file.
  report_spill(size_t run_entries, size_t drops_held);
  ~report_spill();
  report_spill(const report_spill&) = delete;
  report_spill& operator=(const report_spill&) = delete;

  // The stream a record's text is written to before add() takes it: the
  // text goes on to the file as it comes, so a large one is never held.
  std::ostream& text() { return m_text_stream; }
  // The stream a record's report is written to once before it is written
  // again to text(): what it holds before that text (the titles a report
  // begins with) is kept by set_titles() and written before the first text
  // copied out. Only its first k_titles_most bytes are kept.
  std::ostream& first_text();
  void end_first();
  void set_titles();
  const std::string& titles() const { return m_titles; }
  // Takes the text written since the last add() with the notes its report
  // gave and what the caller is told of it, under key. Where it is held
  // (for drop), or k_none when it was lost (memory ran out while its text
  // was written, or what the files held could not be read back).
  static constexpr uint64_t k_none = UINT64_MAX;
  uint64_t add(int64_t key, uint64_t order, const file_notes& notes, const carved_report& facts);
  // The record held at position is not to be reported.
  void drop(uint64_t position);
  // Copies every text not dropped to out in report order, adding its notes
  // to notes and telling reported of it. False when what the files held
  // could not be read back (the system's reason in lost_error()).
  bool report(std::ostream& out, file_notes& notes,
              const std::function<void(const carved_report&)>& reported);

  // The files failed (the system's reason): what came after is in memory.
  bool held_in_memory() const { return m_file_error != 0; }
  int file_error() const { return m_file_error; }
  int lost_error() const { return m_lost_error; }
  uint64_t held() const { return m_added; }
  // Records offered to add() and neither dropped nor reported.
  uint64_t unreported() const { return m_offered - std::min(m_offered, m_dropped + m_reported); }
  uint64_t reported() const { return m_reported; }
  uint64_t bytes() const { return m_data_end; }
  uint64_t runs() const { return m_runs_made; }
  uint64_t merges() const { return m_merges; }

  struct entry {
    int64_t key;
    uint64_t order;  // among equal keys: the later added higher
    uint64_t position;
    uint64_t length;  // of its piece, read at once
  };

 private:
  // The rendered text goes to put_text().
  class text_buf : public std::streambuf {
   public:
    explicit text_buf(report_spill& to) : m_to(to) {}

   protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* s, std::streamsize n) override;

   private:
    report_spill& m_to;
  };
  struct run {
    uint64_t start = 0;  // entry index in the runs file
    uint64_t count = 0;
  };
  void put_text(const char* s, size_t n);
  void open_files();
  void flush_data();
  void write_run();
  bool merge(const std::vector<run>& from, const std::vector<entry>& held,
             const std::function<bool(const entry&)>& take);
  bool read_data(uint64_t at, size_t count);
  bool read_file_data(uint64_t at, size_t count);
  bool emit(const entry& e, std::ostream& out, file_notes& notes,
            const std::function<void(const carved_report&)>& reported);
  void files_failed(int error);
  void lose(int error);

  static constexpr size_t k_head_bytes = 32;
  size_t m_run_entries;
  int m_data_fd = -1, m_runs_fd = -1;
  bool m_opened = false;
  int m_file_error = 0, m_lost_error = 0;
  // The head of the piece open when the files failed, where that piece
  // began in the file's whole part: the file's bytes there are not it.
  bool m_head_held = false;
  uint64_t m_head_at = 0;
  uint8_t m_head[k_head_bytes] = {};
  // Pieces in the file's whole part dropped once the files failed.
  std::vector<uint64_t> m_drops_held;
  std::string m_titles;
  // The first writing of a record (its first k_titles_most bytes, and its
  // length) and the first bytes of the second, while the titles are sought.
  bool m_capturing = false, m_keep_head = false;
  std::string m_capture, m_text_head;
  uint64_t m_capture_total = 0;
  // The piece being written: where it begins, and its text's length.
  bool m_piece_open = false;
  uint64_t m_piece_start = 0, m_text_length = 0;
  text_buf m_text_buf{*this};
  std::ostream m_text_stream{&m_text_buf};
  // The data from m_data_flushed on: not yet written, or (the files
  // failed) held here; the file is whole up to m_data_flushed.
  std::string m_pending;
  uint64_t m_data_flushed = 0;
  uint64_t m_data_end = 0;
  std::vector<entry> m_entries;  // not yet in a run (all since the files failed)
  std::vector<run> m_runs;
  uint64_t m_runs_end = 0;  // entries in the runs file
  uint64_t m_offered = 0, m_dropped = 0;
  uint64_t m_added = 0, m_reported = 0, m_runs_made = 0, m_merges = 0;
  size_t m_drops_most;
  std::vector<uint8_t> m_piece;
  // Data read ahead of pieces reported in the order they were written or
  // its reverse: m_ahead holds the file's bytes from m_ahead_at on; the
  // last piece read began at m_read_at and ended at m_read_next.
  std::vector<uint8_t> m_ahead;
  uint64_t m_ahead_at = 0, m_read_at = 0, m_read_next = UINT64_MAX, m_ahead_step = 0, m_follows = 0;
  int m_direction = 0;  // of the reads running: 1 on, -1 back, 0 none
};

}  // namespace vk
