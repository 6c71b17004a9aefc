// A file a run writes ("-out", "-diags"). A run that reads a list of files
// may be handed the file's own path among them, so the file is written to a
// new file beside its target and moved over the target only at the end, when
// it is whole, and never when the target was one of the run's inputs. A
// target whose folder takes no new file (a plain user's report in a shared
// folder), and a disk (a block device, which may be an input too), get the
// new file in the temporary folder, copied into the target once whole. The
// target's folder is opened once: every later step is taken in it. One of
// the process's own streams that holds data (a regular file, a disk) may be
// held the same way until the run has met every input (hold_stream).
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <csignal>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "foundation/uni_stream.h"

namespace vk {

class report_file {
 public:
  report_file() = default;
  // A file never finished is removed; the target stays as it was.
  ~report_file();
  report_file(const report_file&) = delete;
  report_file& operator=(const report_file&) = delete;

  // Makes the file that receives the report: beside the target when the
  // target is absent or a regular file (a link is followed to its file, or
  // to the name it leads to when that is not made yet), else (a character
  // device, a pipe) the target itself, as it is, opened without following a
  // link it was seen not to be; one of the process's own streams named
  // (/dev/stdout, /dev/fd/N, ... by whatever name leads there) is written
  // through that descriptor as it was opened (appending where it appends);
  // a standard stream that was closed when the run began is refused (EBADF).
  // A disk is written only once the report is whole, and never past its
  // size. False, with the system's reason in error(), when it cannot be
  // made; an empty name or one longer than the system takes is refused
  // before anything is made.
  bool open(const std::string& target);
  // The same for the descriptor fd itself (standard output), shown as name.
  bool open_stream(int fd, const std::string& name);
  // Before the first byte: a stream whose descriptor holds data (a regular
  // file, a disk) gets nothing until finish(); the report is written in the
  // temporary folder meanwhile and copied through the descriptor then, at
  // its position, unless the stream's file turned out to be an input (the
  // target kept). A regular file's own folder takes the new file when the
  // temporary folder takes none (held_beside_note() then says so). Other
  // targets are left as they are. False, with error(), when no folder takes
  // the file.
  bool hold_stream();
  // Held beside the stream's file: where, and what the temporary folder
  // said; empty otherwise.
  std::string held_beside_note() const;
  std::ostream& stream();
  int error() const { return m_error; }
  // The system's reason for error(); when the temporary folder was tried
  // too and refused, its name and its own reason follow.
  std::string reason() const;

  // What a path the run is about to read is to the report: the target
  // (an input of the run, which is then left as it was), one file with the
  // target through a loop device (the target a loop device over the path,
  // or both loop devices over one file: the target left as it was too), the
  // file being written (the run's own, never an input), or neither.
  enum class role { other, target, target_by_loop, own };
  role role_of(const std::string& path) const;
  const std::string& target() const { return m_target; }
  // The target was named as an input: the report stays where it is written.
  void keep_target() { m_keep_target = true; }
  bool target_kept() const { return m_keep_target && !m_direct; }

  // Flushes and closes the report and puts it in place of the target unless
  // the target is kept. False when a byte did not reach the file, or the
  // report could not be put in place; error() then holds the system's reason.
  // A report not written whole is removed and the target left as it was.
  // The target replaced by a new file keeps its owner and group where the
  // process may give them. While the report is copied into its target the
  // signals of remove_reports_on_signals are held, and act once the target
  // is whole; a copy that failed holds them until discard() or the end of
  // the object, so that what became of the report is said first.
  bool finish();
  // The target got part of the report when the copy into it failed: the
  // earlier file is lost, the whole report is at written_path().
  bool target_damaged() const { return m_target_damaged; }
  // The run has no report worth keeping: the file written is removed and the
  // target left as it was (a target written directly keeps what reached it,
  // and gets nothing more).
  void discard();
  // Where the report is: the target, or the file written when the target
  // was kept or the report could not be put in place (in its folder as it
  // is named now, when that was moved meanwhile; the target where its folder
  // is now, when that was moved). Empty when no whole report is left
  // anywhere but in a target written directly.
  std::string written_path() const;
  // Put in place, but the folder it was opened in no longer has the named
  // path (moved during the run): written_path() says where it is.
  bool placed_elsewhere() const;
  // The target was written directly (a device, a pipe): it holds whatever
  // reached it.
  bool direct() const { return m_direct; }

 private:
  void close_descriptor();
  void close_folders();
  void remove_temp();
  bool copy_into_target();
  bool open_direct(const struct stat& seen);
  bool open_named_stream(int fd);
  bool open_elsewhere(int refused);
  bool open_beside_stream();
  int make_held_temp(const std::string& folder, mode_t mode);
  void keep_owner(int fd) const;
  void hold_signals();
  void release_signals();

  std::string m_target;             // as given
  std::string m_dest;               // the file the report replaces (a link's file)
  std::string m_temp;               // the file written; empty when writing the target directly
  std::string m_temp_folder_named;  // the temp's folder as named, with its '/'
  int m_fd = -1;
  int m_dest_fd = -1;      // the target, open for the copy when the temp is elsewhere
  int m_dir_fd = -1;       // the target's folder, opened once
  int m_temp_dir_fd = -1;  // the temp's folder, opened once
  int m_slot = -1;         // the temp's place among those removed on a signal
  std::unique_ptr<uni::descriptor_output> m_out;
  bool m_direct = false;
  bool m_keep_target = false;
  bool m_placed = false;
  bool m_target_exists = false;
  bool m_target_damaged = false;
  bool m_holding = false;
  bool m_keep_owner = false;
  uid_t m_keep_uid = 0;
  gid_t m_keep_gid = 0;
  mode_t m_keep_mode = 0;
  sigset_t m_held_mask;       // the mask before the signals were held
  std::string m_temp_folder;  // the temporary folder, when it refused the file too
  int m_temp_error = 0;
  bool m_only_temp_folder = false;  // the target's folder was not asked (a disk)
  bool m_held_beside = false;       // a held stream's file is written beside it
  bool m_dest_regular = false;
  bool m_make_dest = false;  // the target is made when the report is copied in
  struct stat m_target_st {};
  struct stat m_own_st {};
  std::vector<struct stat> m_target_layers;  // the target and the file behind it (a loop device)
  bool m_stream = false;       // the target is a descriptor of the process, written at its place
  bool m_device = false;       // the target is a disk
  uint64_t m_device_size = 0;  // its size in bytes
  int m_error = 0;
};

// The descriptor a name of the process's own streams stands for: a name
// that leads, through its links and however it is spelt, to an entry of the
// process's descriptor folder ("/dev/stdout", "/dev/fd/N", "//dev/./stderr",
// "/proc/self/fd/N", "/proc/thread-self/fd/N", "/proc/PID/fd/N", a link to
// any of them); -1 for any other name.
int named_stream_descriptor(const std::string& path);

// The files a path reaches: the file itself and, for a loop device, the file
// (or disk) it reads, and what a loop device so read reads in turn. Empty
// when the path cannot be looked at.
std::vector<struct stat> file_layers(const std::string& path);
// The same for an open descriptor.
std::vector<struct stat> descriptor_layers(int fd);
// Whether two such lists share a file.
bool layers_meet(const std::vector<struct stat>& a, const std::vector<struct stat>& b);

// From now on every signal whose default ends the process (SIGINT, SIGTERM,
// SIGHUP, SIGPIPE, SIGQUIT, SIGUSR1, SIGALRM, the real-time ones, ...)
// removes the unfinished files of the open reports, then ends the process by
// the same signal (the shell sees 128 plus its number). A signal the process
// was started ignoring stays ignored, and one that has a handler already (a
// sanitizer's) keeps it. SIGXFSZ is ignored: a write past the file-size
// limit fails with EFBIG and the report takes the failed-write road.
void remove_reports_on_signals();

// The name a report for path is put at: a symbolic link is followed, link
// by link, to the name it leads to, made or not (a relative link from its
// own folder); any other path is that name. Empty, errno ELOOP, on a loop.
std::string output_destination(const std::string& path);

// A name a file can be made at: not empty (ENOENT) and not longer than the
// system takes whole (ENAMETOOLONG). False with errno set.
bool output_name_accepted(const std::string& path);

}  // namespace vk
