// The options shared by every tool of the family, read out of the argument
// vector into the settings object.
#pragma once

#include <string>
#include <vector>

#include "cmdline/cmd_params.h"

namespace vk {

// Takes every common option it recognises out of `args` (element 0 is the
// program path) and stores it in `settings`; what is left is the tool's own
// options and the input name. The options are read in one fixed order, so
// of two options writing the same field the one read later wins, whatever
// their order on the command line. Returns 1 to go on, 0 when the run is to
// be aborted (the reason is then on standard error where there is one).
int parse_common_options(cmd_params& settings, std::vector<std::string>& args);

// A word that names an option: an alias (or null), whether a value follows
// it, and whether each occurrence adds to a list ("-filter").
struct option_word {
  const char* name;
  const char* alias;
  bool takes_value;
  bool adds;
};

// Before the options are read: an option that needs a value and is the
// last argument is said ("option X needs a value") and false returned. Of an
// option given more than once (the common ones and `own`) only the last
// occurrence is kept, so the last value wins; differing values are said.
bool settle_option_words(std::vector<std::string>& args, const std::vector<option_word>& own);

}  // namespace vk
