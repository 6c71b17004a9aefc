#include "jumplist/lnk_names.h"

#include <array>
#include <bit>
#include <cstring>
#include <string_view>

#include "foundation/vk_guard.h"

namespace vk {

namespace {

constexpr std::array<const char*, 12> kShowCommands = {
    "SW_HIDE",           "SW_SHOWNORMAL", "SW_SHOWMINIMIZED", "SW_SHOWMAXIMIZED",
    "SW_SHOWNOACTIVATE", "SW_SHOW",       "SW_MINIMIZE",      "SW_SHOWMINNOACTIVE",
    "SW_SHOWNA",         "SW_RESTORE",    "SW_SHOWDEFAULT",   "SW_FORCEMINIMIZE"};

constexpr std::array<std::string_view, 26> kLinkFlags = {"HasLinkTargetIDList",
                                                         "HasLinkInfo",
                                                         "HasName",
                                                         "HasRelativePath",
                                                         "HasWorkingDir",
                                                         "HasArguments",
                                                         "HasIconLocation",
                                                         "IsUnicode",
                                                         "ForceNoLinkInfo",
                                                         "HasExpString",
                                                         "RunInSeparateProcess",
                                                         "Unused1",
                                                         "HasDarwinID",
                                                         "RunAsUser",
                                                         "HasExpIcon",
                                                         "NoPidlAlias",
                                                         "Unused2",
                                                         "RunWithShimLayer",
                                                         "EnableTargetMetadata",
                                                         "DisableLinkPathTracking",
                                                         "DisableKnownFolderTracking",
                                                         "DisableKnownFolderAlias",
                                                         "AllowLinkToLink",
                                                         "UnaliasOnSave",
                                                         "PreferEnvironmentPath",
                                                         "KeepLocalIDListForUNCTarget"};

constexpr std::array<const char*, 7> kDriveTypes = {"unk",    "no root dir", "removable", "fixed",
                                                    "remote", "cdrom",       "RAM drive"};

// CSIDL 0 to 62; null where the number has no name.
constexpr std::array<const char*, 63> kCsidl = {"CSIDL_DESKTOP",
                                                "CSIDL_INTERNET",
                                                "CSIDL_PROGRAMS",
                                                "CSIDL_CONTROLS",
                                                "CSIDL_PRINTERS",
                                                "CSIDL_PERSONAL",
                                                "CSIDL_FAVORITES",
                                                "CSIDL_STARTUP",
                                                "CSIDL_RECENT",
                                                "CSIDL_SENDTO",
                                                "CSIDL_BITBUCKET",
                                                "CSIDL_STARTMENU",
                                                "CSIDL_MYDOCUMENTS",
                                                "CSIDL_MYMUSIC",
                                                "CSIDL_MYVIDEO",
                                                nullptr,
                                                "CSIDL_DESKTOPDIRECTORY",
                                                "CSIDL_DRIVES",
                                                "CSIDL_NETWORK",
                                                "CSIDL_NETHOOD",
                                                "CSIDL_FONTS",
                                                "CSIDL_TEMPLATES",
                                                "CSIDL_COMMON_STARTMENU",
                                                "CSIDL_COMMON_PROGRAMS",
                                                "CSIDL_COMMON_STARTUP",
                                                "CSIDL_COMMON_DESKTOPDIRECTORY",
                                                "CSIDL_APPDATA",
                                                "CSIDL_PRINTHOOD",
                                                "CSIDL_LOCAL_APPDATA",
                                                "CSIDL_ALTSTARTUP",
                                                "CSIDL_COMMON_ALTSTARTUP",
                                                "CSIDL_COMMON_FAVORITES",
                                                "CSIDL_INTERNET_CACHE",
                                                "CSIDL_COOKIES",
                                                "CSIDL_HISTORY",
                                                "CSIDL_COMMON_APPDATA",
                                                "CSIDL_WINDOWS",
                                                "CSIDL_SYSTEM",
                                                "CSIDL_PROGRAM_FILES",
                                                "CSIDL_MYPICTURES",
                                                "CSIDL_PROFILE",
                                                "CSIDL_SYSTEMX86",
                                                "CSIDL_PROGRAM_FILESX86",
                                                "CSIDL_PROGRAM_FILES_COMMON",
                                                "CSIDL_PROGRAM_FILES_COMMONX86",
                                                "CSIDL_COMMON_TEMPLATES",
                                                "CSIDL_COMMON_DOCUMENTS",
                                                "CSIDL_COMMON_ADMINTOOLS",
                                                "CSIDL_ADMINTOOLS",
                                                "CSIDL_CONNECTIONS",
                                                nullptr,
                                                nullptr,
                                                nullptr,
                                                "CSIDL_COMMON_MUSIC",
                                                "CSIDL_COMMON_PICTURES",
                                                "CSIDL_COMMON_VIDEO",
                                                "CSIDL_RESOURCES",
                                                "CSIDL_RESOURCES_LOCALIZED",
                                                "CSIDL_COMMON_OEM_LINKS",
                                                "CSIDL_CDBURN_AREA",
                                                "CSID_UNUSED",
                                                "CSIDL_COMPUTERSNEARME",
                                                "IDLIST_COMMON_FILE_UNICODE"};

}  // namespace

const char* show_command_name(uint32_t value) {
  return value < kShowCommands.size() ? kShowCommands[value] : "unk";
}

namespace {

// The names in fixed-size slots, so that each is copied whole in one move.
constexpr size_t k_flag_slot = 32;
struct flag_slot {
  char text[k_flag_slot];
  uint8_t size;
};
constexpr std::array<flag_slot, kLinkFlags.size()> kFlagSlots = [] {
  std::array<flag_slot, kLinkFlags.size()> slots{};
  for (size_t i = 0; i < kLinkFlags.size(); ++i) {
    for (size_t k = 0; k < kLinkFlags[i].size(); ++k) slots[i].text[k] = kLinkFlags[i][k];
    slots[i].size = static_cast<uint8_t>(kLinkFlags[i].size());
  }
  return slots;
}();

constexpr size_t all_link_flags_size() {
  size_t n = 0;
  for (const std::string_view name : kLinkFlags) {
    if (name.size() > k_flag_slot) return ~size_t{0};
    n += name.size() + 2;
  }
  return n;
}
// Every name written, with the slot's overhang past the last.
static_assert(all_link_flags_size() + k_flag_slot <= k_link_flags_names_room);

}  // namespace

char* put_link_flags_names(char* at, uint32_t flags) {
  if (flags == 0) {
    std::memcpy(at, "Default", 7);
    return at + 7;
  }
  char* p = at;
  // Only the set bits are visited, lowest first.
  for (uint32_t rest = flags & ((1u << kLinkFlags.size()) - 1); rest != 0; rest &= rest - 1) {
    if (p != at) {
      std::memcpy(p, ", ", 2);
      p += 2;
    }
    const flag_slot& name = kFlagSlots[static_cast<size_t>(std::countr_zero(rest))];
    std::memcpy(p, name.text, k_flag_slot);
    p += name.size;
  }
  return p;
}

void append_link_flags_names(std::string& out, uint32_t flags) {
  char text[k_link_flags_names_room];
  out.append(text, static_cast<size_t>(put_link_flags_names(text, flags) - text));
}

std::string link_flags_names(uint32_t flags) {
  return guarded([&] {
    std::string out;
    append_link_flags_names(out, flags);
    return out;
  });
}

const char* drive_type_text(uint32_t type) {
  return type < kDriveTypes.size() ? kDriveTypes[type] : "unk";
}

std::ostream& drive_type_name(std::ostream& out, uint32_t type) {
  return out << drive_type_text(type);
}

const char* csidl_name(uint32_t id) {
  if (id < kCsidl.size()) return kCsidl[id] ? kCsidl[id] : "unk";
  switch (id) {
    case 0x0800:
      return "CSIDL_FLAG_PER_USER_INIT";
    case 0x1000:
      return "CSIDL_FLAG_NO_ALIAS";
    case 0x4000:
      return "CSIDL_FLAG_DONT_VERIFY";
    case 0x8000:
      return "CSIDL_FLAG_CREATE";
    case 0xFF00:
      return "CSIDL_FLAG_MASK";
    default:
      return "unk";
  }
}

uint64_t u64_distance(int64_t a, int64_t b) {
  const uint64_t ua = static_cast<uint64_t>(a), ub = static_cast<uint64_t>(b);
  return a > b ? ua - ub : ub - ua;
}

}  // namespace vk
