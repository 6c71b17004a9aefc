#include "foundation/vk_timestamp_set.h"

#include <algorithm>
#include <exception>

#include "foundation/vk_guard.h"

namespace vk {

void macb_entry::clear() {
  m_state = 1;
  m_raw = 0;
  time_clear(m_time);
  m_macb.clear();
  m_label.clear();
  m_kind = 0;
  m_list.clear();
  m_texts1.clear();
  m_texts2.clear();
  m_source.clear();
  m_filename.clear();
  m_user.clear();
  m_tag = 0;
}

void timestamp_set::timestamp_set_clear() {
  for (int i = 0; i < 4; ++i) {
    m_times[i] = 0;
    m_labels[i].clear();
  }
  m_description.clear();
  m_kind = static_cast<uint32_t>(type_time::filetime);
  m_tag = 0;
  m_extra_times.clear();
  m_extra_labels.clear();
  m_extra_texts1.clear();
  m_extra_texts2.clear();
  m_extra_used.clear();
}

void timestamp_set::timestamp_set_values(uint64_t m, uint64_t a, uint64_t c, uint64_t b,
                                         type_time kind) {
  m_times[k_m] = m;
  m_times[k_a] = a;
  m_times[k_c] = c;
  m_times[k_b] = b;
  m_kind = static_cast<uint32_t>(kind);
}

void timestamp_set::timestamp_set_values_unix(uint64_t m, uint64_t a, uint64_t c, uint64_t b,
                                              type_time kind) {
  const uint64_t in[4] = {m, a, c, b};
  if (kind == type_time::unix_time) {
    for (int i = 0; i < 4; ++i) m_times[i] = in[i];
    m_kind = static_cast<uint32_t>(type_time::unix_time);
    return;
  }
  if (kind != type_time::filetime && kind != type_time::chrome && kind != type_time::firefox3 &&
      kind != type_time::safari_time) {
    return;
  }
  for (int i = 0; i < 4; ++i) {
    m_times[i] = 0;
    if (in[i] == 0) continue;
    int64_t seconds = 0;
    bool ok = false;
    switch (kind) {
      case type_time::filetime:
        ok = filetime_to_unix_seconds(in[i], seconds);
        break;
      case type_time::chrome:
        ok = chrome_to_unix_seconds(in[i], seconds);
        break;
      case type_time::firefox3:
        ok = in[i] <= static_cast<uint64_t>(INT64_MAX) &&
             firefox3_to_unix_seconds(static_cast<int64_t>(in[i]), seconds);
        break;
      default:
        ok = safari_to_unix_seconds(in[i], seconds);
        break;
    }
    // A time before 1970 has no unsigned unix form: it counts as missing.
    if (ok && seconds > 0) m_times[i] = static_cast<uint64_t>(seconds);
  }
  m_kind = static_cast<uint32_t>(type_time::unix_time);
}

void timestamp_set::timestamp_set_labels(const std::string& m, const std::string& a,
                                         const std::string& c, const std::string& b) {
  m_labels[k_m] = m;
  m_labels[k_a] = a;
  m_labels[k_c] = c;
  m_labels[k_b] = b;
}

void timestamp_set::timestamp_set_default_labels() {
  timestamp_set_labels("Last Modified", "Last Access", "Metadata Changed", "Created");
}

void timestamp_set::timestamp_set_add_extra_time(uint64_t ticks, const std::string& label,
                                                 const std::string& text1,
                                                 const std::string& text2) {
  return vk::guarded(
      [&] {
        for (size_t i = 0; i < m_extra_times.size(); ++i) {
          if (m_extra_times[i] != ticks) continue;
          auto gather = [](std::string& stored, const std::string& text) {
            if (text.empty() || stored.find(text) != std::string::npos) return;
            if (!stored.empty()) stored += "; ";
            stored += text;
          };
          gather(m_extra_labels[i], label);
          gather(m_extra_texts1[i], text1);
          gather(m_extra_texts2[i], text2);
          return;
        }
        m_extra_times.push_back(ticks);
        m_extra_labels.push_back(label);
        m_extra_texts1.push_back(text1);
        m_extra_texts2.push_back(text2);
        m_extra_used.push_back(0);
      },
      [&] {
        // The five lists must stay the same length.
        const size_t n =
            std::min({m_extra_times.size(), m_extra_labels.size(), m_extra_texts1.size(),
                      m_extra_texts2.size(), m_extra_used.size()});
        m_extra_times.resize(n);
        m_extra_labels.resize(n);
        m_extra_texts1.resize(n);
        m_extra_texts2.resize(n);
        m_extra_used.resize(n);
      });
}

namespace {

void join_text(std::string& into, const std::string& text) {
  if (text.empty()) return;
  if (!into.empty()) into += "; ";
  into += text;
}

}  // namespace

void macb_summary(macb_map& out, timestamp_set& set, type_time kind) {
  static const char letters[4] = {'M', 'A', 'C', 'B'};
  return vk::guarded([&] {
    time times[4];
    for (int i = 0; i < 4; ++i) time_from_u64(times[i], set.m_times[i], kind);
    const size_t extras = set.m_extra_times.size();
    if (set.m_extra_used.size() != extras) set.m_extra_used.resize(extras, 0);
    auto extra_text = [&](const std::vector<std::string>& list, size_t i) -> const std::string& {
      static const std::string none;
      return i < list.size() ? list[i] : none;
    };
    bool merged[4] = {};

    for (int anchor = 0; anchor < 4; ++anchor) {
      if (!times[anchor].valid() || set.m_times[anchor] == 0 || merged[anchor]) continue;
      const uint64_t ticks = times[anchor].m_filetime;
      bool matched[4] = {};
      matched[anchor] = true;
      std::string macb = "....";
      macb[anchor] = letters[anchor];
      for (int j = anchor + 1; j < 4; ++j) {
        if (times[j].valid() && set.m_times[j] != 0 && !merged[j] && times[j].m_filetime == ticks) {
          macb[j] = letters[j];
          matched[j] = merged[j] = true;
        }
      }

      macb_entry entry;
      std::vector<size_t> placed;
      for (size_t e = 0; e < extras; ++e) {
        if (set.m_extra_used[e] || set.m_extra_times[e] != ticks) continue;
        set.m_extra_used[e] = 1;
        placed.push_back(e);
        join_text(entry.m_texts1, extra_text(set.m_extra_texts1, e));
        join_text(entry.m_texts2, extra_text(set.m_extra_texts2, e));
      }
      if (!placed.empty()) {
        if (anchor == timestamp_set::k_b) {
          macb = "..CB";
        } else if (anchor < timestamp_set::k_c && !matched[timestamp_set::k_c]) {
          macb[timestamp_set::k_c] = 'C';
        }
      }

      // Labels in position order, the extra times at the C position. A
      // missing anchor label with a description gives "desc [MACB]" first.
      std::string label;
      bool wrote = false;
      auto add_label = [&](const std::string& text) {
        if (text.empty()) return;
        if (wrote) label += "; ";
        label += text;
        wrote = true;
      };
      const bool marker = set.m_labels[anchor].empty() && !set.m_description.empty();
      if (marker) label = set.m_description + " [" + macb + "]";
      for (int j = 0; j < 4; ++j) {
        if (matched[j] && !(marker && j == anchor)) add_label(set.m_labels[j]);
        if (j == timestamp_set::k_c) {
          for (size_t e : placed) add_label(extra_text(set.m_extra_labels, e));
        }
      }

      entry.m_raw = set.m_times[anchor];
      entry.m_time = times[anchor];
      entry.m_kind = set.m_kind;
      entry.m_macb = macb;
      entry.m_label = label;
      entry.m_tag = set.m_tag;
      out.emplace(set.m_times[anchor], std::move(entry));
    }

    for (size_t e = 0; e < extras; ++e) {
      if (set.m_extra_used[e]) continue;
      set.m_extra_used[e] = 1;
      macb_entry entry;
      entry.m_raw = set.m_extra_times[e];
      time_from_u64(entry.m_time, set.m_extra_times[e], type_time::filetime);
      entry.m_kind = static_cast<uint32_t>(type_time::filetime);
      entry.m_macb = "..C.";
      entry.m_label = extra_text(set.m_extra_labels, e);
      entry.m_texts1 = extra_text(set.m_extra_texts1, e);
      entry.m_texts2 = extra_text(set.m_extra_texts2, e);
      entry.m_tag = set.m_tag;
      out.emplace(set.m_extra_times[e], std::move(entry));
    }
  });
}

}  // namespace vk
