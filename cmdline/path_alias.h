// Rewriting of reported paths through the "-alias" (whole path) and
// "-aliaspath" (path prefix) maps of the settings.
#pragma once

#include <string>

#include "cmdline/cmd_params.h"

namespace vk {

// The path to report: `out` holding the rewritten path, or `path` itself
// when no alias applies. `out` is emptied in every case. A whole-path alias
// is matched ignoring letter case; otherwise the first "-aliaspath" key, in
// key order, that is shorter than the path and occurs in it (ignoring case)
// replaces everything up to the end of its occurrence.
const std::string& apply_path_alias(const cmd_params& settings, std::string& out,
                                    const std::string& path);

}  // namespace vk
