#include "foundation/uni_stream.h"

#include <cstring>
#include <new>

#include "foundation/uni_fileio.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_posix.h"

namespace uni {

template <class CharT>
streambuf_generic_output<CharT>::streambuf_generic_output(uint32_t size) {
  // One byte stays in reserve for the character that triggers overflow().
  if (size < 2) return;
  if (!vk::guarded([&] {
        // Left unfilled: only bytes written into it are ever read.
        m_buffer = std::make_unique_for_overwrite<CharT[]>(size);
        return true;
      }))
    return;
  m_buffer_size = size;
  m_usable = true;
  reset_put_area(0);
}

template <class CharT>
void streambuf_generic_output<CharT>::reset_put_area(size_t keep) {
  CharT* begin = m_buffer.get();
  this->setp(begin, begin + (m_buffer_size - 1));
  this->pbump(static_cast<int>(keep));
}

template <class CharT>
typename streambuf_generic_output<CharT>::int_type streambuf_generic_output<CharT>::overflow(
    int_type c) {
  if (!m_usable) return traits_type::eof();
  CharT* begin = m_buffer.get();
  CharT* end = begin + m_buffer_size;
  const bool has_char = !traits_type::eq_int_type(c, traits_type::eof());
  bool stored = false;
  // Store into the reserved byte only while it is free; the put pointer never
  // reaches the end of the storage.
  if (has_char && this->pptr() < end) {
    *this->pptr() = traits_type::to_char_type(c);
    this->pbump(1);
    stored = true;
  }

  size_t pending = static_cast<size_t>(this->pptr() - begin);
  size_t done = 0;
  bool failed = false;
  while (done < pending) {
    int64_t n = write_out(begin + done, pending - done);
    if (n <= 0 || static_cast<size_t>(n) > pending - done) {
      failed = true;
      break;
    }
    done += static_cast<size_t>(n);
  }

  if (failed) {
    // Keep what the sink did not take, once, at the start of the area, and
    // give back the character this call added: the caller sees the failure
    // and the byte was never accepted.
    size_t left = pending - done;
    if (done > 0) std::memmove(begin, begin + done, left * sizeof(CharT));
    if (stored) --left;
    reset_put_area(left);
    return traits_type::eof();
  }

  reset_put_area(0);
  if (has_char && !stored) {
    *this->pptr() = traits_type::to_char_type(c);
    this->pbump(1);
  }
  return has_char ? c : traits_type::not_eof(c);
}

template <class CharT>
int streambuf_generic_output<CharT>::flush_buffer() {
  if (!m_usable) return 0;
  return traits_type::eq_int_type(overflow(traits_type::eof()), traits_type::eof()) ? -1 : 0;
}

template <class CharT>
int streambuf_generic_output<CharT>::sync() {
  return flush_buffer();
}

template class streambuf_generic_output<char>;

// ---------------------------------------------------------------------------

fileio_ostream::fileio_ostream(fileio* owner, uint32_t size) : streambuf_generic_output(size) {
  if (!usable() || owner == nullptr) return;
  m_owner = owner;
  m_attached = owner->usable();
}

fileio_ostream::~fileio_ostream() {
  flush_buffer();
}

int64_t fileio_ostream::write_out(const char* bytes, size_t count) {
  if (m_owner == nullptr) return -1;
  // A write that failed partway still hands back what reached the file, so
  // that those bytes leave the area and are never written twice.
  size_t written = 0;
  m_owner->append_counted(reinterpret_cast<const uint8_t*>(bytes), count, written);
  return written > 0 ? static_cast<int64_t>(written) : -1;
}

descriptor_ostream::descriptor_ostream(int fd, uint32_t size) : streambuf_generic_output(size) {
  if (usable() && fd >= 0) m_fd = fd;
}

descriptor_ostream::~descriptor_ostream() {
  flush_buffer();
}

int64_t descriptor_ostream::write_out(const char* bytes, size_t count) {
  if (m_fd < 0) return -1;
  // What reached the descriptor before a failure leaves the area, so that no
  // byte is written twice.
  const vk::io_result r = vk::posix_write_full(m_fd, bytes, count);
  if (r.failed() && m_error == 0) m_error = r.error;
  return r.count > 0 ? static_cast<int64_t>(r.count) : -1;
}

descriptor_output::descriptor_output(int fd, uint32_t size)
    : std::ostream(nullptr), m_buf(fd, size) {
  if (m_buf.attached()) rdbuf(&m_buf);
}

descriptor_output::~descriptor_output() {
  if (rdbuf() != nullptr) flush();
}

fileio_stats_ostream::fileio_stats_ostream(fileio_stats* owner, uint32_t size)
    : streambuf_generic_output(size) {
  if (!usable() || owner == nullptr) return;
  m_owner = owner;
  m_attached = true;
}

fileio_stats_ostream::~fileio_stats_ostream() {
  flush_buffer();
}

int64_t fileio_stats_ostream::write_out(const char* bytes, size_t count) {
  if (m_owner == nullptr) return -1;
  m_owner->add(bytes, count);
  return static_cast<int64_t>(count);
}

// ---------------------------------------------------------------------------

fileio_stats::~fileio_stats() {
  release_output();
}

bool fileio_stats::add(const void* bytes, size_t count) {
  if (bytes == nullptr || count == 0) return false;
  const auto* p = static_cast<const uint8_t*>(bytes);
  uint32_t total = m_total;
  for (size_t i = 0; i < count; ++i) total += p[i];
  m_total = total;
  return true;
}

fileio_stats_output* fileio_stats::stats_output() {
  if (m_output == nullptr) m_output = new_attached_output<fileio_stats_output>(this);
  return m_output;
}

void fileio_stats::release_output() {
  if (m_output == nullptr) return;
  m_output->flush();
  delete m_output;
  m_output = nullptr;
}

void fileio_stats::reset() {
  release_output();
  m_total = 0;
}

}  // namespace uni
