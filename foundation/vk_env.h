// Environment references in paths ("%NAME%", and "%vss%" for the device
// prefix of a volume shadow copy), the locale for localised time text, the
// host name, the path of the running program and the temporary folder.
#pragma once

#include <string>

namespace vk {

// Replaces each "%NAME%" by the value of that environment variable (values
// are scanned again, so references inside them expand too).  With vss_rule an
// undefined reference named vss (any case) becomes the shadow-copy device
// prefix.  Undefined references stay as written.  A text of 513 characters or
// more is not expanded further, and self-referring values stop after a fixed
// number of substitutions.
std::string expand_env_vars(std::string text, bool vss_rule);
// Wide form (no vss rule); text receives the result too.
std::wstring expand_env_vars_w(std::wstring& text);

// Picks the locale for localised dates: the environment's, else the one
// named by LC_TIME, else by LANG.  False with name "" when none can be built.
bool pick_time_locale(std::string& name);
// A std::locale of that name can be constructed.
bool locale_exists(const char* name);

// gethostname, or "<unk>" when it fails.
std::string get_host_name();
// Target of /proc/self/exe as wide text; empty on failure.
std::wstring get_exe_path();

// The folder for the run's temporary files: $TMPDIR as given (a relative
// one from the working folder), /tmp when it is unset or empty.
std::string temporary_folder();

}  // namespace vk
