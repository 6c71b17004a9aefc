// Path-level changes to the file system: create directories, write a file
// after creating its directory, remove and rename files, open a stdio stream.
//
// These are the only routines that change names on a file system, so they act
// on exactly the path they are handed: the process file-creation mask is never
// touched, and a relative path whose working directory cannot be read is
// refused rather than guessed. Every call goes through the POSIX table
// (vk_posix.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace vkportdir {

// Creates one directory with mode 0777 (less the process mask); true when it
// was created or a directory (or a link to one) already stands there; false
// for an empty path, an existing file of another kind, or any other error.
bool make_dir(const std::string& path);
bool make_dir_w(const std::wstring& path);

// Creates every missing directory of the path ('"' dropped, '\' read as '/');
// true when the last one exists at the end. Directories made before a failure
// stay.
bool make_dirs(std::string path);
bool make_dirs_w(const std::wstring& path);

// Replaces the file at path with count bytes: they go to a new file beside
// it, which is flushed and renamed over the path. A failed write removes the
// new file and leaves the old one whole; a link or a second name at the path
// is replaced as a name, so nothing it points to changes. A regular file
// keeps its permission bits; a directory, device or pipe at the path is
// refused. True only when every byte was written and the rename done.
bool replace_file_contents(const std::string& path, const void* data, size_t count);

// make_dirs on the path's directory, then replace_file_contents.
bool write_file_make_dirs(const std::string& path, const void* data, size_t count);
bool write_file_make_dirs_w(const std::wstring& path, const void* data, size_t count);

// Removes a file; true on success.
bool remove_file(const std::string& path);
bool remove_file_w(const std::wstring& path);

// Renames or moves; with make_absolute, relative paths are taken from the
// working directory. True on success.
bool rename_file(const std::string& from, const std::string& to, bool make_absolute);
bool rename_file_w(const std::wstring& from, const std::wstring& to);

// Opens a stdio stream: "w+" when write or create is set, else "r"; "b"
// added in raw mode. For writing, a link at the path is not followed and a
// regular file with more than one name is refused (false). True when the
// handle is not null.
bool open_cfile(FILE*& out, const std::wstring& path, bool write, uint32_t reserved, bool create,
                bool raw);
bool open_cfile_write(FILE*& out, const std::wstring& path, bool raw);
bool open_cfile_read(FILE*& out, const std::wstring& path, bool raw);

// User-profile enumeration does not exist on this platform: clears and
// returns false.
bool list_user_profile_dirs(std::vector<std::string>& out);
bool empty_path_stub(std::string& out);

// The running program's path (the target of "/proc/self/exe"), "" on failure.
std::string exe_path_from_proc();
std::wstring exe_path_w();

}  // namespace vkportdir
