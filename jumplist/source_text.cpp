#include "jumplist/source_text.h"

#include <cstdint>
#include <cstring>

#include "cmdline/path_alias.h"
#include "foundation/vk_string.h"
#include "foundation/vk_text.h"

namespace vk {

namespace {

bool plain_ascii(std::string_view text) {
  return ascii_run_end(reinterpret_cast<const uint8_t*>(text.data()), 0, text.size()) ==
         text.size();
}

bool no_alias(const lnk::useropts& o) {
  return o.m_aliases.empty() && o.m_alias_paths.empty();
}

}  // namespace

// The source path as the reports show it is the same for every record of a
// file: a plain ASCII path without control characters shows as it stands;
// any other text is made once when the path is set and kept in the run's
// scratch.
void set_source_path(lnk::useropts& o, const std::string& path) {
  o.m_source_path = path;
  shown_source& made = o.m_scratch.source;
  made.made = false;
  // Most paths are printable ASCII: one pass answers for them.
  if (no_alias(o) && (printable_ascii(path) || (plain_ascii(path) && !has_control_char(path))))
    return;
  made.text.clear();
  append_utf8_or_escaped(made.text, path);
  if (!no_alias(o)) {
    std::string aliased;
    const std::string& shown = apply_path_alias(o, aliased, made.text);
    if (&shown != &made.text) made.text = shown;
  }
  // A name can hold any control character; the path stays on its line.
  show_control_chars(made.text);
  made.path = path;
  made.made = true;
}

const std::string& shown_source_text(const lnk::useropts& o) {
  const shown_source& made = o.m_scratch.source;
  if (made.made && made.path == o.m_source_path) return made.text;
  return o.m_source_path;
}

std::string record_source_text(const lnk::useropts& options) {
  return shown_source_text(options);
}

}  // namespace vk
