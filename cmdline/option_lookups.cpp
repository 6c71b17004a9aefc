#include "cmdline/option_lookups.h"

#include <algorithm>
#include <sstream>

#include "foundation/vk_args.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_text_parse.h"

namespace vk {

namespace {

constexpr size_t k_absent = static_cast<size_t>(-1);

size_t find_arg(const char* name, size_t start, size_t count, const char* const* argv) {
  if (!name || !argv) return k_absent;
  for (size_t i = start; i < count; ++i) {
    if (argv[i] && same_option_word(argv[i], name)) return i;
  }
  return k_absent;
}

size_t find_arg(const char* name, const std::vector<std::string>& args) {
  if (!name) return k_absent;
  for (size_t i = 0; i < args.size(); ++i) {
    if (same_option_word(args[i], name)) return i;
  }
  return k_absent;
}

bool take_argv_values(const char* name, std::initializer_list<std::string*> values, int& argc,
                      char** argv) {
  if (argc <= 0) return false;
  const size_t count = static_cast<size_t>(argc);
  const size_t i = find_arg(name, 1, count, argv);
  if (i == k_absent || i + values.size() >= count) return false;
  return vk::guarded([&] {
    std::vector<std::string> taken;
    for (size_t k = 1; k <= values.size(); ++k) taken.emplace_back(argv[i + k] ? argv[i + k] : "");
    size_t k = 0;
    for (std::string* v : values) *v = std::move(taken[k++]);
    for (size_t n = 0; n <= values.size(); ++n) remove_arg(static_cast<uint32_t>(i), argc, argv);
    return true;
  });
}

bool take_vector_values(const char* name, std::initializer_list<std::string*> values,
                        std::vector<std::string>& args) {
  const size_t i = find_arg(name, args);
  if (i == k_absent || i + values.size() >= args.size()) return false;
  return vk::guarded([&] {
    size_t k = i;
    for (std::string* v : values) *v = args[++k];
    const auto first = args.begin() + static_cast<std::ptrdiff_t>(i);
    args.erase(first, first + static_cast<std::ptrdiff_t>(values.size() + 1));
    return true;
  });
}

}  // namespace

bool take_option_values2(const char* name, std::string& v1, std::string& v2, int& argc,
                         char** argv) {
  return take_argv_values(name, {&v1, &v2}, argc, argv);
}

bool take_option_values3(const char* name, std::string& v1, std::string& v2, std::string& v3,
                         int& argc, char** argv) {
  return take_argv_values(name, {&v1, &v2, &v3}, argc, argv);
}

bool take_option_values4(const char* name, std::string& v1, std::string& v2, std::string& v3,
                         std::string& v4, int& argc, char** argv) {
  return take_argv_values(name, {&v1, &v2, &v3, &v4}, argc, argv);
}

bool take_option_values2_v(const char* name, std::string& v1, std::string& v2,
                           std::vector<std::string>& args) {
  return take_vector_values(name, {&v1, &v2}, args);
}

bool take_option_values3_v(const char* name, std::string& v1, std::string& v2, std::string& v3,
                           std::vector<std::string>& args) {
  return take_vector_values(name, {&v1, &v2, &v3}, args);
}

bool take_option_list(const char* name, std::vector<std::string>& values,
                      std::vector<std::string>& args) {
  values.clear();
  const size_t i = find_arg(name, args);
  if (i == k_absent || i + 1 >= args.size()) return false;
  uint32_t raw = 0;
  if (!parse_int_text(args[i + 1], &raw)) return false;
  // The count is signed: "-1" reads as all bits set.
  const int32_t n = static_cast<int32_t>(raw);
  if (n < 0 || static_cast<size_t>(n) > args.size() - (i + 2)) return false;
  return vk::guarded(
      [&] {
        const auto first = args.begin() + static_cast<std::ptrdiff_t>(i);
        values.assign(first + 2, first + 2 + n);
        args.erase(first, first + 2 + n);
        return true;
      },
      [&] { values.clear(); });
}

bool take_option_spelling(const char* name, std::string& spelling, std::vector<std::string>& args) {
  const size_t i = find_arg(name, args);
  if (i == k_absent) return false;
  return vk::guarded([&] {
    spelling = args[i];
    args.erase(args.begin() + static_cast<std::ptrdiff_t>(i));
    return true;
  });
}

bool take_letter_option(std::vector<std::string>& args, uint32_t first, uint32_t second,
                        bool keep) {
  std::string name = "-";
  for (uint32_t word : {first, second}) {
    for (int shift = 24; shift >= 0; shift -= 8) {
      char c = static_cast<char>((word >> shift) & 0xFF);
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      if (c >= 'a' && c <= 'z') name += c;
    }
  }
  if (name.size() == 1) return false;
  const size_t i = find_arg(name.c_str(), args);
  if (i == k_absent) return false;
  if (!keep) args.erase(args.begin() + static_cast<std::ptrdiff_t>(i));
  return true;
}

bool column_widths(std::vector<uint32_t>& widths,
                   const std::vector<std::vector<std::string>>& rows) {
  widths.clear();
  vk::guarded(
      [&] {
        for (const auto& row : rows) {
          for (size_t c = 0; c < row.size(); ++c) {
            const auto length = static_cast<uint32_t>(std::min<size_t>(row[c].size(), UINT32_MAX));
            if (c < widths.size()) {
              widths[c] = std::max(widths[c], length);
            } else {
              widths.push_back(length);
            }
          }
        }
      },
      [&] { widths.clear(); });
  return !widths.empty();
}

bool update_column_widths(std::vector<uint32_t>& widths, const std::vector<std::string>& row,
                          uint32_t cap) {
  if (row.empty()) return false;
  return vk::guarded([&] {
    for (size_t c = 0; c < row.size(); ++c) {
      const auto length = static_cast<uint32_t>(std::min<size_t>(row[c].size(), cap));
      if (c < widths.size()) {
        widths[c] = std::max(widths[c], length);
      } else {
        widths.push_back(length);
      }
    }
    return true;
  });
}

bool join_with_flags(std::string& out, uint32_t flags, const std::vector<std::string>& items) {
  out.clear();
  const size_t count = flags & 0xF;
  if (count == 0 || count > items.size()) return false;
  return vk::guarded(
      [&] {
        std::vector<const void*> handles;
        for (size_t i = 0; i < count; ++i) handles.push_back(&items[i]);
        std::ostringstream os;
        join_words(
            os, flags, [](const void* h) { return *static_cast<const std::string*>(h); },
            handles.data());
        out = os.str();
        return true;
      },
      [&] { out.clear(); });
}

bool join_with_flags_cb(std::string& out, uint32_t flags, const word_callback& get,
                        const void* const* items) {
  out.clear();
  return vk::guarded(
      [&] {
        std::ostringstream os;
        join_words(os, flags, get, items);
        out = os.str();
        return !out.empty();
      },
      [&] { out.clear(); });
}

}  // namespace vk
