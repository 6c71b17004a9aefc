#include "foundation/vk_args.h"

#include "foundation/vk_guard.h"
#include "foundation/vk_unicode.h"

namespace vk {

namespace {

template <class Ch>
Ch ascii_lower(Ch c) {
  return (c >= Ch('A') && c <= Ch('Z')) ? static_cast<Ch>(c + 32) : c;
}

template <class Ch>
bool same_word(std::basic_string_view<Ch> a, std::basic_string_view<Ch> b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
  return true;
}

constexpr size_t k_absent = static_cast<size_t>(-1);

// The one scanner: the index of the first argument in [start, count) equal
// to key, or k_absent. arg_at(i) gives the i-th argument (null for none).
template <class Ch, class ArgAt>
size_t scan_args(std::basic_string_view<Ch> key, size_t start, size_t count, ArgAt&& arg_at) {
  for (size_t i = start; i < count; ++i) {
    const Ch* a = arg_at(i);
    if (a != nullptr && same_word(std::basic_string_view<Ch>(a), key)) return i;
  }
  return k_absent;
}

size_t find_in(const char* name, const std::vector<std::string>& args, size_t start) {
  if (name == nullptr) return k_absent;
  return scan_args<char>(name, start, args.size(), [&](size_t i) { return args[i].c_str(); });
}

size_t find_in(const char* name, const std::vector<std::wstring>& args, size_t start) {
  if (name == nullptr) return k_absent;
  const std::wstring key = from_utf8(name);
  return scan_args<wchar_t>(key, start, args.size(), [&](size_t i) { return args[i].c_str(); });
}

size_t find_in_argv(const char* name, int argc, char** argv) {
  if (name == nullptr || argv == nullptr || argc <= 0) return k_absent;
  return scan_args<char>(name, 1, static_cast<size_t>(argc), [&](size_t i) { return argv[i]; });
}

template <typename Ch>
bool remove_arg_impl(uint32_t index, int& argc, Ch** argv) {
  if (argv == nullptr || argc <= 0 || index >= static_cast<uint32_t>(argc)) return false;
  for (int j = static_cast<int>(index); j + 1 < argc; ++j) argv[j] = argv[j + 1];
  --argc;
  return true;
}

template <class S>
bool erase_at(uint32_t index, std::vector<S>& list) {
  if (index >= list.size()) return false;
  list.erase(list.begin() + index);
  return true;
}

// Takes the `n` arguments after the name at i into values and removes the
// name and them; false (nothing changed) when they are not all there.
template <class S>
bool take_values(std::vector<S>& args, size_t i, std::initializer_list<S*> values) {
  if (i == k_absent || i + values.size() >= args.size()) return false;
  size_t k = i;
  for (S* v : values) *v = args[++k];
  args.erase(args.begin() + static_cast<std::ptrdiff_t>(i),
             args.begin() + static_cast<std::ptrdiff_t>(i + 1 + values.size()));
  return true;
}

}  // namespace

bool same_option_word(std::string_view arg, std::string_view name) {
  return same_word(arg, name);
}
bool same_option_word(std::wstring_view arg, std::wstring_view name) {
  return same_word(arg, name);
}

bool take_option_value(const char* name, std::string& value, std::vector<std::string>& args) {
  return guarded([&] { return take_values(args, find_in(name, args, 0), {&value}); });
}

bool find_option_value(const char* name, std::string& value, std::vector<std::string>& args) {
  return take_option_value(name, value, args);
}

bool find_option_value_from(const char* name, std::string& value,
                            const std::vector<std::string>& args, uint8_t start) {
  return guarded([&] {
    const size_t i = find_in(name, args, start);
    if (i == k_absent || i + 1 >= args.size()) return false;
    value = args[i + 1];
    return true;
  });
}

bool take_option_flag(const char* name, std::vector<std::string>& args, bool keep) {
  const size_t i = find_in(name, args, 0);
  if (i == k_absent) return false;
  if (!keep) erase_at(static_cast<uint32_t>(i), args);
  return true;
}

bool has_option(const char* name, const std::vector<std::string>& args, uint8_t start) {
  return find_in(name, args, start) != k_absent;
}

bool erase_string_at(uint32_t index, std::vector<std::string>& list) {
  return erase_at(index, list);
}

bool args_to_vector(std::vector<std::string>& out, int32_t argc, const char* const* argv) {
  guarded([&] {
    for (int32_t i = 0; argv && i < argc; ++i) out.emplace_back(argv[i] ? argv[i] : "");
  });
  return !out.empty();
}

bool find_option_value_w(const char* name, std::wstring& value, std::vector<std::wstring>& args) {
  return guarded([&] { return take_values(args, find_in(name, args, 0), {&value}); });
}

bool find_option_value_pair_w(const char* name, std::wstring& value1, std::wstring& value2,
                              std::vector<std::wstring>& args) {
  return guarded([&] { return take_values(args, find_in(name, args, 0), {&value1, &value2}); });
}

bool take_option_flag_w(const char* name, std::vector<std::wstring>& args, bool keep) {
  return guarded([&] {
    const size_t i = find_in(name, args, 0);
    if (i == k_absent) return false;
    if (!keep) erase_at(static_cast<uint32_t>(i), args);
    return true;
  });
}

bool has_option_w(const char* name, const std::vector<std::wstring>& args, uint8_t start) {
  return guarded([&] { return find_in(name, args, start) != k_absent; });
}

bool erase_wstring_at(uint32_t index, std::vector<std::wstring>& list) {
  return erase_at(index, list);
}

bool wide_args_to_vector(std::vector<std::string>& out, int32_t argc, const wchar_t** argv) {
  guarded([&] {
    for (int32_t i = 0; argv && i < argc; ++i)
      out.push_back(argv[i] ? to_utf8(argv[i]) : std::string());
  });
  return !out.empty();
}

bool take_arg_flag(const char* name, int& argc, char** argv, bool keep) {
  const size_t i = find_in_argv(name, argc, argv);
  if (i == k_absent) return false;
  if (!keep) remove_arg(static_cast<uint32_t>(i), argc, argv);
  return true;
}

bool has_arg(const char* name, int argc, char** argv) {
  return find_in_argv(name, argc, argv) != k_absent;
}

bool find_option_value_argv_keep(const char* name, std::string& value, int32_t* argc, char** argv) {
  if (!argc) return false;
  const size_t i = find_in_argv(name, *argc, argv);
  if (i == k_absent || i + 1 >= static_cast<size_t>(*argc)) return false;
  return guarded([&] {
    value = argv[i + 1] ? argv[i + 1] : "";
    return true;
  });
}

bool find_option_value_argv(const char* name, std::string& value, int32_t* argc, char** argv) {
  if (!find_option_value_argv_keep(name, value, argc, argv)) return false;
  const size_t i = find_in_argv(name, *argc, argv);
  remove_arg(static_cast<uint32_t>(i), *argc, argv);
  remove_arg(static_cast<uint32_t>(i), *argc, argv);
  return true;
}

bool remove_arg(uint32_t index, int& argc, char** argv) {
  return remove_arg_impl(index, argc, argv);
}

bool remove_arg_w(uint32_t index, int& argc, wchar_t** argv) {
  return remove_arg_impl(index, argc, argv);
}

}  // namespace vk
