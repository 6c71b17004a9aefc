// Output field templates: a field's label with '!' formatting codes. The
// parser takes the codes out of the text, records each as a bit of one of
// two flag words (with a number, a name, texts or pairs where the code
// carries an argument) and keeps what is left, trimmed, as the label.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace vk {

struct field_template {
  std::string m_label;  // the text once every code is removed, trimmed
  std::string m_name;   // "!AFN(", "!CFN(", or the part before ':' of "!CT("
  int32_t m_index = -1;
  uint32_t m_flags = 0;
  uint32_t m_flags2 = 0;
  uint8_t m_parsed = 0;
  uint32_t m_spare = 0;
  uint32_t m_width = 0;                        // the number argument of a code
  std::map<std::string, std::string> m_pairs;  // "!S(key:value)"
  std::vector<std::string> m_list;             // "!SR(text)"
  std::string m_text;                          // "!SC(text)", or the part after ':' of "!CT("

  // Every text and list emptied, m_index -1, every word 0.
  void reset();
};

// Resets out, takes the codes out of text (which is left holding the
// label), stores the label and sets m_parsed. Always true.
bool parse_field_template(field_template& out, std::string& text);

}  // namespace vk
