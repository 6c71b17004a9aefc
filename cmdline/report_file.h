// The report file of a run ("-out"). A run that reads a list of files may
// be handed its own report path among them, so the report is written to a
// new file beside its target and moved over the target only at the end, and
// never when the target was one of the run's inputs.
#pragma once

#include <sys/types.h>

#include <memory>
#include <ostream>
#include <string>

namespace vk {

class report_file {
 public:
  report_file() = default;
  ~report_file();
  report_file(const report_file&) = delete;
  report_file& operator=(const report_file&) = delete;

  // Makes the file that receives the report: beside the target when the
  // target is absent or a regular file (a link is followed to its file),
  // else (a device, a pipe) the target itself, as it is. False, with the
  // system's reason in error(), when it cannot be made.
  bool open(const std::string& target);
  std::ostream& stream() { return *m_out; }
  int error() const { return m_error; }

  // What a path the run is about to read is to the report: the target
  // (an input of the run, which is then left as it was), the file being
  // written (the run's own, never an input), or neither.
  enum class role { other, target, own };
  role role_of(const std::string& path) const;
  // The target was named as an input: the report stays where it is written.
  void keep_target() { m_keep_target = true; }
  bool target_kept() const { return m_keep_target && !m_direct; }

  // Flushes and closes the report and moves it over the target unless the
  // target is kept. False when a byte did not reach the file or the move
  // failed; error() then holds the reason (0 for a stream failure).
  bool finish();
  // Where the report is: the target, or the file beside it when the
  // target was kept or the move failed.
  const std::string& written_path() const;

 private:
  std::string m_target;  // as given
  std::string m_dest;    // the file the report replaces (a link's file)
  std::string m_temp;    // the file written; empty when writing the target directly
  int m_fd = -1;
  std::unique_ptr<std::ostream> m_out;
  bool m_direct = false;
  bool m_keep_target = false;
  bool m_moved = false;
  bool m_target_exists = false;
  dev_t m_target_dev = 0;
  ino_t m_target_ino = 0;
  dev_t m_own_dev = 0;
  ino_t m_own_ino = 0;
  int m_error = 0;
};

}  // namespace vk
