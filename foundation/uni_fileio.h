// The file object: one POSIX descriptor, or a byte vector held in memory,
// behind the same positioned reads, appends and offset writes.
//
// Nothing here throws. Every operation answers with a bool, a count, or an
// all-ones position, and an allocation failure becomes a false result. Paths
// are held as wide text in the path form of vk_path.h and handed to the
// system as the exact bytes of the name, UTF-8 or not.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

namespace uni {

class fileio_output;

// All-ones position returned by the seeks on failure.
inline constexpr uint64_t k_bad_position = ~uint64_t{0};

// Opens `path` with `flags` (O_NONBLOCK added, so a FIFO cannot block the
// open) and refuses FIFOs and sockets, which cannot be read as files.
// Returns the descriptor, or -1.
int open_file_fd(const std::string& path, int flags, mode_t mode);
int open_file_fd_wide(const std::wstring& path, int flags, mode_t mode);
// The same, handing back the status of the open descriptor.
int open_file_fd(const std::string& path, int flags, mode_t mode, struct stat& st);
int open_file_fd_wide(const std::wstring& path, int flags, mode_t mode, struct stat& st);

class fileio {
 public:
  // Called for each chunk of scan_with_callback: the chunk's bytes, how many
  // leading bytes repeat the end of the chunk before, and its file offset.
  using chunk_callback = void (*)(fileio& file, void* context, const uint8_t* bytes,
                                  uint32_t length, uint32_t overlap, uint64_t offset);
  // Called for each chunk of scan_text_lines with the complete lines found.
  using lines_callback = void (*)(fileio& file, void* context,
                                  const std::vector<std::string>& lines, uint64_t count,
                                  uint64_t offset);

  fileio();
  fileio(const std::string& path, bool write, bool crlf = false, short share = 0);
  fileio(const std::wstring& path, bool write, bool crlf = false, short share = 0);
  fileio(const std::vector<uint8_t>& bytes, bool write, bool crlf);
  virtual ~fileio();

  fileio(const fileio&) = delete;
  fileio& operator=(const fileio&) = delete;

  // --- state -------------------------------------------------------------
  // Memory mode over a copy of `bytes`, positioned at the end.
  bool attach_memory(const std::vector<uint8_t>& bytes, bool write, bool crlf);
  // Memory mode over `bytes`, taken over without a copy (`bytes` is left
  // empty), positioned at the end.
  bool adopt_memory(std::vector<uint8_t>& bytes, bool write, bool crlf);
  // Memory mode over `count` zero bytes, positioned at 0.
  bool open_memory(uint32_t count, bool write, bool crlf);
  // Back to the empty, closed state. The attached stream is drained and
  // deleted and an open descriptor closed, so nothing leaks or is lost.
  void reset();
  bool is_open() const;
  bool usable() const { return is_open(); }
  // The size recorded at open and after each write; 0 when not usable.
  uint64_t stored_size() const { return usable() ? m_size : 0; }

  bool writable() const { return m_writable; }
  bool crlf() const { return m_crlf; }
  bool is_memory() const { return m_memory; }
  int fd() const { return m_fd; }
  const std::wstring& path() const;
  // The status the descriptor had when it was opened (no further system
  // call); false for memory mode or a closed object.
  bool opened_status(struct stat& st) const;
  const std::vector<uint8_t>& data() const { return m_data; }

  // --- opening -----------------------------------------------------------
  // Writing with `truncate` creates or empties the file; writing without it
  // needs an existing file; reading never creates one.
  bool open(const std::wstring& path, bool write, bool crlf, bool truncate);
  // The path's bytes as they are (the name need not be UTF-8).
  bool open_utf8(const std::string& path, bool write, bool crlf, bool truncate, short share = 0);
  // Opens for appending, creating the file.
  bool open_append(const std::wstring& path, bool crlf);
  bool open_append(const std::string& path, bool crlf);
  // Drains and deletes the attached stream, then closes the descriptor (or
  // drops the memory content).
  void close();

  // --- size and position -------------------------------------------------
  uint64_t fileio_size();
  uint64_t refresh_size();
  uint64_t tell();
  uint64_t seek_to(uint64_t offset);
  uint64_t seek_from_end(uint64_t count);
  bool set_length(uint64_t length);

  // --- reading -----------------------------------------------------------
  // Positioned reads: the sequential position (tell, read) is not moved.
  // Reads up to `len` bytes at `offset`; `len` receives the count read
  // (short only at the end of the file or when the device stopped), or all
  // ones when the read failed before any byte arrived. A call refused before
  // reading (closed object, offset at or past the size) leaves `len` alone.
  bool read_at(void* buf, uint32_t& len, uint64_t offset);
  bool read(void* buf, uint32_t& len);
  bool read_at64(void* buf, uint64_t& len, uint64_t offset);
  bool read_bytes_at(std::vector<uint8_t>& out, uint64_t count, uint64_t offset);
  bool read_text_at(std::string& out, uint64_t count, uint64_t offset);

  // --- writing -----------------------------------------------------------
  bool append(const uint8_t* buf, uint32_t len);
  // Appends; `written` receives how many bytes reached the file, also when
  // the write failed partway (a full disk after a partial write).
  bool append_counted(const uint8_t* buf, size_t len, size_t& written);
  bool append_bytes(const std::vector<uint8_t>& bytes);
  bool append_stream_text(const std::ostringstream& text);
  bool write_at(const uint8_t* buf, uint32_t len, uint64_t offset);
  bool write_bytes_at(const std::vector<uint8_t>& bytes, uint64_t offset);
  bool append_fill(uint8_t value, uint32_t count);
  bool append_printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
  bool append_lines(const std::vector<std::string>& lines);
  bool append_hex_dump(const uint8_t* buf, uint32_t len, uint64_t first_offset);
  bool append_hex_dump(const std::vector<uint8_t>& bytes, uint64_t first_offset);
  bool set_mode_octal(const std::string& mode);
  bool stat_of(struct stat& st);

  // --- attached output ---------------------------------------------------
  // Drains the attached stream's pending bytes into the file.
  void flush_output();
  // The buffered stream over this file, created on first use and owned by
  // this object (close() drains and deletes it). Null when the file is not
  // usable or the stream cannot be set up.
  fileio_output* output_stream();

  // --- whole-file utilities ----------------------------------------------
  bool read_all_lines(std::vector<std::string>& lines);
  bool read_lines_at(std::vector<std::string>& lines, uint32_t& len, uint64_t offset);
  bool copy_to(const std::wstring& path, bool append, bool allow_empty);
  bool copy_to_utf8(const std::string& path, bool append, bool allow_empty);
  bool save_memory_to(const std::string& path);
  bool copy_range_to(fileio& dest, uint64_t offset, uint64_t count, uint64_t dest_offset,
                     uint32_t chunk, bool progress);
  bool copy_range_to_stream(std::ostream& os, uint64_t offset, uint64_t count, uint32_t chunk,
                            bool progress);
  bool scan_with_callback(chunk_callback callback, void* context, uint32_t chunk, uint32_t overlap,
                          uint64_t start);
  bool scan_text_lines(lines_callback callback, void* context, bool trim, bool skip_empty,
                       bool progress, uint64_t max_lines, bool bom);
  bool zone_identifier_stream(std::vector<std::string>& out);

 private:
  void clear_state();
  // Closes what is open and holds `data` (taken over) in memory mode.
  bool enter_memory(std::vector<uint8_t>& data, bool write, bool crlf, uint64_t position);
  void release_output();
  // Closes what is open and records the flags and the path of a new opening.
  void begin_open(std::wstring& path, bool write, bool crlf);
  // Takes the descriptor of an opening (-1 when it failed) and its size.
  bool attach_descriptor(int fd);
  bool append_raw(const uint8_t* buf, size_t len);
  bool append_raw(const uint8_t* buf, size_t len, size_t& written);

  int m_fd = -1;
  uint64_t m_size = 0;
  bool m_writable = false;
  bool m_opened = false;
  bool m_crlf = false;
  // The path as opened: wide, or the bytes of a UTF-8 opening whose wide
  // form is made on first use.
  mutable std::wstring m_path;
  std::string m_path_bytes;
  mutable bool m_path_pending = false;
  bool m_has_status = false;
  struct stat m_status {};
  std::vector<uint8_t> m_data;
  bool m_memory = false;
  uint64_t m_position = 0;
  fileio_output* m_output = nullptr;
};

}  // namespace uni
