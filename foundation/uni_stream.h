// Buffered output streams over a file object or a byte-sum counter.
//
// The report of a run is written through many small insertions; the stream
// collects them in a 256 KiB put area and hands the file one large append
// whenever the area fills. Flushing the stream (std::flush, std::endl) drains
// the area into the file, so a report is complete on disk as soon as its
// writer flushes, whatever happens to the process afterwards.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <ostream>
#include <streambuf>
#include <typeinfo>
#include <vector>

#include "foundation/vk_guard.h"

namespace uni {

class fileio;
class fileio_stats;

// Put area of the streams that the file object and the stats sink create.
inline constexpr uint32_t k_output_buffer_size = 0x40000;

// A put-area stream buffer that hands its bytes to one pure sink operation.
template <class CharT>
class streambuf_generic_output : public std::basic_streambuf<CharT> {
 public:
  using traits_type = typename std::basic_streambuf<CharT>::traits_type;
  using int_type = typename traits_type::int_type;

  explicit streambuf_generic_output(uint32_t size);
  ~streambuf_generic_output() override = default;

  streambuf_generic_output(const streambuf_generic_output&) = delete;
  streambuf_generic_output& operator=(const streambuf_generic_output&) = delete;

  // Drains the put area: 0 when every pending byte reached the sink, -1 when
  // the sink refused some (those stay pending).
  virtual int flush_buffer();

  uint32_t buffer_size() const { return m_buffer_size; }
  bool usable() const { return m_usable; }
  // Bytes waiting in the put area.
  size_t pending() const { return static_cast<size_t>(this->pptr() - this->pbase()); }
  // Forgets the bytes waiting in the put area: they never reach the sink.
  void drop_pending() { this->setp(this->pbase(), this->epptr()); }

  // At least `count` bytes of free room at the put pointer, the area drained
  // into the sink first when short of it; null when the area cannot give it.
  // Bytes written there count once put_advance moves past them.
  CharT* put_room(size_t count) {
    if (static_cast<size_t>(this->epptr() - this->pptr()) >= count) return this->pptr();
    if (!m_usable || count >= m_buffer_size || flush_buffer() != 0 ||
        static_cast<size_t>(this->epptr() - this->pptr()) < count)
      return nullptr;
    return this->pptr();
  }
  CharT* put_end() const { return this->epptr(); }
  // Takes the bytes up to `to` (within the room handed out) into the area.
  void put_advance(CharT* to) { this->pbump(static_cast<int>(to - this->pptr())); }

  // Appends `count` bytes, copied straight into the put area when they fit;
  // true when every byte was taken.
  bool put_bytes(const CharT* bytes, size_t count) {
    if (static_cast<size_t>(this->epptr() - this->pptr()) >= count) {
      if (count != 0) std::memcpy(this->pptr(), bytes, count * sizeof(CharT));
      this->pbump(static_cast<int>(count));  // below the area's size
      return true;
    }
    return this->sputn(bytes, static_cast<std::streamsize>(count)) ==
           static_cast<std::streamsize>(count);
  }

 protected:
  int sync() override;
  int_type overflow(int_type c) override;

  // Hands `count` bytes to the sink; returns how many it took, or -1.
  virtual int64_t write_out(const CharT* bytes, size_t count) = 0;

 private:
  void reset_put_area(size_t keep);

  uint32_t m_buffer_size = 0;
  std::unique_ptr<CharT[]> m_buffer;
  bool m_usable = false;
};

extern template class streambuf_generic_output<char>;

// Stream buffer whose sink is the end of a file object.
class fileio_ostream : public streambuf_generic_output<char> {
 public:
  fileio_ostream(fileio* owner, uint32_t size);
  ~fileio_ostream() override;

  bool attached() const { return m_attached; }
  fileio* owner() const { return m_owner; }

 protected:
  int64_t write_out(const char* bytes, size_t count) override;

 private:
  fileio* m_owner = nullptr;
  bool m_attached = false;
};

// Stream buffer whose sink adds up the byte values it receives.
class fileio_stats_ostream : public streambuf_generic_output<char> {
 public:
  fileio_stats_ostream(fileio_stats* owner, uint32_t size);
  ~fileio_stats_ostream() override;

  bool attached() const { return m_attached; }

 protected:
  int64_t write_out(const char* bytes, size_t count) override;

 private:
  fileio_stats* m_owner = nullptr;
  bool m_attached = false;
};

// Stream buffer whose sink is an open descriptor (standard output, say),
// written with plain write calls in blocks of the put area's size: no stdio
// buffer and no synchronisation with C streams in between.
class descriptor_ostream : public streambuf_generic_output<char> {
 public:
  descriptor_ostream(int fd, uint32_t size);
  ~descriptor_ostream() override;

  bool attached() const { return m_fd >= 0 && usable(); }
  // The system's reason for the first write that failed (ENOSPC on a full
  // disk); 0 while every write went through.
  int error() const { return m_error; }

 protected:
  int64_t write_out(const char* bytes, size_t count) override;

 private:
  int m_fd = -1;
  int m_error = 0;
};

// The std::ostream over a descriptor. The descriptor stays open; whatever is
// pending is written when the stream flushes or goes away. A stream whose
// buffer could not be set up has no buffer: every insertion fails.
class descriptor_output : public std::ostream {
 public:
  explicit descriptor_output(int fd, uint32_t size = k_output_buffer_size);
  ~descriptor_output() override;

  descriptor_output(const descriptor_output&) = delete;
  descriptor_output& operator=(const descriptor_output&) = delete;

  size_t pending() const { return m_buf.pending(); }
  int error() const { return m_buf.error(); }
  // The bytes not yet written never will be.
  void drop_pending() { m_buf.drop_pending(); }

 private:
  descriptor_ostream m_buf;
};

// The std::ostream over one of the stream buffers above. A stream whose
// buffer could not be set up has no buffer: every insertion fails.
template <class Buf, class Owner>
class attached_output : public std::ostream {
 public:
  attached_output(Owner* owner, uint32_t size) : std::ostream(nullptr), m_buf(owner, size) {
    if (m_buf.attached()) {
      rdbuf(&m_buf);
      m_attached = true;
    }
  }
  // Flushes; the buffer's own destruction then drains whatever is left.
  ~attached_output() override { flush_if_attached(); }

  attached_output(const attached_output&) = delete;
  attached_output& operator=(const attached_output&) = delete;

  bool attached() const { return m_attached; }
  // std::ostream::flush when attached, and the stream is detached afterwards.
  void flush_if_attached() {
    if (!m_attached) return;
    flush();
    m_attached = false;
  }
  // Bytes waiting in the put area.
  size_t pending() const { return m_buf.pending(); }

 private:
  Buf m_buf;
  bool m_attached = false;
};

// The stream a file object hands out for its report text.
class fileio_output : public attached_output<fileio_ostream, fileio> {
 public:
  using attached_output::attached_output;
};

class fileio_stats_output : public attached_output<fileio_stats_ostream, fileio_stats> {
 public:
  using attached_output::attached_output;
};

// The put-area buffer under `out` when it is one of the file or descriptor
// buffers above and the stream takes bytes with nothing else to do first
// (good, not tied, not unit-buffered): a block can then go in by put_bytes
// without the stream layer. Null otherwise: use out.write.
inline streambuf_generic_output<char>* direct_output(std::ostream& out) {
  std::streambuf* buf = out.rdbuf();
  if (buf == nullptr || !out.good() || out.tie() != nullptr ||
      (out.flags() & std::ios_base::unitbuf) != 0)
    return nullptr;
  const std::type_info& type = typeid(*buf);
  if (type == typeid(descriptor_ostream) || type == typeid(fileio_ostream))
    return static_cast<streambuf_generic_output<char>*>(buf);
  return nullptr;
}

// Writes a block to `out`, straight into its put area when it can; a block
// the sink refuses sets badbit as out.write would.
inline void write_block(std::ostream& out, const char* bytes, size_t count) {
  if (streambuf_generic_output<char>* direct = direct_output(out)) {
    if (!direct->put_bytes(bytes, count)) out.setstate(std::ios_base::badbit);
    return;
  }
  out.write(bytes, static_cast<std::streamsize>(count));
}

// A new stream of type Out over `owner` with the standard put area, or null
// when it cannot be allocated or its buffer could not be set up (such a
// stream would drop every byte written to it).
template <class Out, class Owner>
Out* new_attached_output(Owner* owner) {
  Out* out = vk::guarded([&]() -> Out* { return new Out(owner, k_output_buffer_size); });
  if (out == nullptr) return nullptr;
  if (!out->attached()) {
    delete out;
    return nullptr;
  }
  return out;
}

// A sink that sums the byte values written to it (modulo 2^32).
class fileio_stats {
 public:
  fileio_stats() = default;
  virtual ~fileio_stats();

  fileio_stats(const fileio_stats&) = delete;
  fileio_stats& operator=(const fileio_stats&) = delete;

  // Adds each byte value; false for a null pointer or a count of 0.
  bool add(const void* bytes, size_t count);
  // The attached stream, created on first use (null when it cannot be set
  // up). Owned by this object.
  fileio_stats_output* stats_output();
  // Drains and deletes the attached stream.
  void release_output();
  // Clears the total and the counters; the attached stream is drained and
  // deleted first so nothing written through it is lost or leaked.
  void reset();

  uint32_t total() const { return m_total; }

 private:
  uint32_t m_total = 0;
  fileio_stats_output* m_output = nullptr;
};

}  // namespace uni
