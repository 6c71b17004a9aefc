// Argument-list look-ups: whether an option word is in the argument list,
// the value that follows it, and the removal of what was taken. Option words
// compare without regard to (ASCII) case through one comparison, and every
// look-up goes through one scanner, whatever holds the arguments (a vector of
// narrow or wide texts, or a main()-style argv).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vk {

// The one option-word comparison: equal lengths and equal characters once
// ASCII letters are lower-cased.
bool same_option_word(std::string_view arg, std::string_view name);
bool same_option_word(std::wstring_view arg, std::wstring_view name);

// ---- vectors of narrow arguments ----

// The argument after the first one equal to name, removing both; false when
// the name is absent or last (nothing removed).
bool take_option_value(const char* name, std::string& value, std::vector<std::string>& args);
// The same from index 0, removing the name and its value.
bool find_option_value(const char* name, std::string& value, std::vector<std::string>& args);
// The argument after the first one equal to name at or after start; nothing
// is removed. False when absent or last.
bool find_option_value_from(const char* name, std::string& value,
                            const std::vector<std::string>& args, uint8_t start);
// True when name is present; removed unless keep.
bool take_option_flag(const char* name, std::vector<std::string>& args, bool keep);
bool has_option(const char* name, const std::vector<std::string>& args, uint8_t start);
// Removes element index (order kept); false when it is out of range.
bool erase_string_at(uint32_t index, std::vector<std::string>& list);
// Appends every argument (a null one as ""); true when out is not empty.
bool args_to_vector(std::vector<std::string>& out, int32_t argc, const char* const* argv);

// ---- vectors of wide arguments ----

bool find_option_value_w(const char* name, std::wstring& value, std::vector<std::wstring>& args);
bool find_option_value_pair_w(const char* name, std::wstring& value1, std::wstring& value2,
                              std::vector<std::wstring>& args);
bool take_option_flag_w(const char* name, std::vector<std::wstring>& args, bool keep);
bool has_option_w(const char* name, const std::vector<std::wstring>& args, uint8_t start);
bool erase_wstring_at(uint32_t index, std::vector<std::wstring>& list);
// Appends the UTF-8 form of every argument (a null one as "").
bool wide_args_to_vector(std::vector<std::string>& out, int32_t argc, const wchar_t** argv);

// ---- main()-style argument vectors (argv[0], the program, is never matched) ----

bool take_arg_flag(const char* name, int& argc, char** argv, bool keep);
bool has_arg(const char* name, int argc, char** argv);
// The argument after name (a null one as ""), removing both.
bool find_option_value_argv(const char* name, std::string& value, int32_t* argc, char** argv);
// The same, removing nothing.
bool find_option_value_argv_keep(const char* name, std::string& value, int32_t* argc, char** argv);
bool remove_arg(uint32_t index, int& argc, char** argv);
bool remove_arg_w(uint32_t index, int& argc, wchar_t** argv);

}  // namespace vk
