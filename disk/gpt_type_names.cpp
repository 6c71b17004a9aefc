#include "disk/gpt_type_names.h"

#include "foundation/vk_numtext.h"

namespace vk {

namespace {

struct type_row {
  const char* guid_text;  // first three groups little-endian in the stored bytes
  const char* name;
};

constexpr type_row kTypes[gpt_type_name_count] = {
    {"024dee41-33e7-11d3-9d69-0008c781f39f", "MBR partition scheme"},
    {"c12a7328-f81f-11d2-ba4b-00a0c93ec93b", "EFI system partition"},
    {"21686148-6449-6e6f-744e-656564454649", "BIOS boot partition"},
    {"d3bfe2de-3daf-11df-ba40-e3a556d89593", "Intel Rapid Start"},
    {"f4019732-066e-4e12-8273-346c5641494f", "Sony system partition"},
    {"bfbfafe7-a34f-448a-9a5b-6213eb736c22", "Lenovo system partition"},
    {"e3c9e316-0b5c-4db8-817d-f92df00215ae", "Microsoft reserved partition"},
    {"4967d63b-2e29-4ad8-8399-f6a339e3d001", "Microsoft partition (4967d63b)"},
    {"ebd0a0a2-b9e5-4433-87c0-68b6b72699c7", "Microsoft basic data"},
    {"796badd3-6bbf-4d9f-b631-466eb71a4965", "Microsoft partition (796badd3)"},
    {"5808c8aa-7e8f-42e0-85d2-e1e90434cfb3", "Windows LDM metadata"},
    {"af9b60a0-1431-4f62-bc68-3311714a69ad", "Windows LDM data"},
    {"de94bba4-06d1-4d40-a16a-bfd50179d6ac", "Windows recovery environment"},
    {"37affc90-ef7d-4e96-91c3-2d7ae055b174", "IBM GPFS"},
    {"e75caf8f-f680-4cee-afa3-b001e56efc2d", "Windows Storage Spaces"},
    {"558d43c5-a1ac-43c0-aac8-d1472b2923d1", "Microsoft Storage Replica"},
    {"75894c1e-3aeb-11d3-b7c1-7b03a0000000", "HP-UX data"},
    {"e2a1e728-32e3-11d6-a682-7b03a0000000", "HP-UX service"},
    {"0fc63daf-8483-4772-8e79-3d69d8477de4", "Linux filesystem"},
    {"a19d880f-05fc-4d3b-a006-743f0f84911e", "Linux RAID"},
    {"44479540-f297-41b2-9af7-d131d5f0458a", "Linux root (x86)"},
    {"4f68bce3-e8cd-4db1-96e7-fbcaf984b709", "Linux root (x86-64)"},
    {"69dad710-2ce4-4e3c-b16c-21a1d49abed3", "Linux root (32-bit ARM)"},
    {"b921b045-1df0-41c3-af44-4c6f280d3fae", "Linux root (64-bit ARM)"},
    {"bc13c2ff-59e6-4262-a352-b275fd6f7172", "Linux extended boot"},
    {"0657fd6d-a4ab-43c4-84e5-0933c84b4f4f", "Linux swap"},
    {"e6d6d379-f507-44c2-a23c-238f2a3df928", "Linux LVM"},
    {"933ac7e1-2eb4-4f13-b844-0e14e2aef915", "Linux /home"},
    {"3b8f8425-20e0-4f3b-907f-1a25a76f98e8", "Linux /srv"},
    {"7ffec5c9-2d00-49b7-8941-3ea10a5586b7", "Linux dm-crypt"},
    {"ca7d7ccb-63ed-4c53-861c-1742536059cc", "Linux LUKS"},
    {"8da63339-0007-60c0-c436-083ac8230908", "Linux reserved"},
    {"48465300-0000-11aa-aa11-00306543ecac", "Apple HFS+"},
    {"7c3457ef-0000-11aa-aa11-00306543ecac", "Apple APFS"},
    {"55465300-0000-11aa-aa11-00306543ecac", "Apple UFS"},
    {"6a898cc3-1dd2-11b2-99a6-080020736631", "Solaris /usr and Mac ZFS"},
    {"52414944-0000-11aa-aa11-00306543ecac", "Apple RAID"},
    {"52414944-5f4f-11aa-aa11-00306543ecac", "Apple RAID offline"},
    {"426f6f74-0000-11aa-aa11-00306543ecac", "Apple boot"},
    {"4c616265-6c00-11aa-aa11-00306543ecac", "Apple label"},
    {"5265636f-7665-11aa-aa11-00306543ecac", "Apple TV recovery"},
    {"53746f72-6167-11aa-aa11-00306543ecac", "Apple Core Storage"},
    {"69646961-6700-11aa-aa11-00306543ecac", "Apple APFS preboot"},
    {"52637672-7900-11aa-aa11-00306543ecac", "Apple APFS recovery"},
};

// Built by the first call of any thread, then copied.
const gpt_type_name_map& type_names() {
  static const gpt_type_name_map built = [] {
    gpt_type_name_map names;
    for (const auto& row : kTypes) {
      guid g;
      guid_from_text(row.guid_text, g);
      names.emplace(g, row.name);
    }
    return names;
  }();
  return built;
}

}  // namespace

bool build_gpt_type_names(gpt_type_name_map& names) {
  if (names.empty()) names = type_names();
  return true;
}

}  // namespace vk
