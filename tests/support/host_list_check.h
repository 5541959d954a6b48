// Test support: expands a merged host expression the way its readers do,
// to check TokenizedHost::get_merged_hosts in the unit tests and in its fuzz
// target. Plain functions without a test framework.
#pragma once

#include <cstddef>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "postprocessor/host/str.h"

namespace qorv::testing {

namespace host_list_detail {

// The decimal digit string that follows d: same width while it fits, one
// digit wider past all nines.
inline std::string Increment(std::string d) {
  std::size_t i = d.size();
  while (i > 0 && d[i - 1] == '9') d[--i] = '0';
  if (i == 0) return "1" + d;
  ++d[i - 1];
  return d;
}

inline bool Digits(std::string_view s) {
  return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos;
}

// Expands one item, "name" or "prefix[elements]suffix", into out. A range
// takes the width of its first bound when that is padded, and then its last
// bound must have the same width. At most `limit` names; false when the item
// is malformed or names more.
inline bool ExpandItem(std::string_view item, std::size_t limit, std::vector<std::string>& out) {
  const std::size_t open = item.find('[');
  if (open == std::string_view::npos) {
    if (item.empty() || item.find_first_of("],") != std::string_view::npos) return false;
    out.emplace_back(item);
    return true;
  }
  const std::size_t close = item.find(']', open);
  if (close == std::string_view::npos) return false;
  const std::string_view prefix = item.substr(0, open), suffix = item.substr(close + 1);
  if ((prefix.find_first_of("[],") != std::string_view::npos) ||
      suffix.find_first_of("[],") != std::string_view::npos) {
    return false;
  }
  std::string_view body = item.substr(open + 1, close - open - 1);
  while (true) {
    const std::size_t comma = body.find(',');
    const std::string_view element = body.substr(0, comma);
    const std::size_t dash = element.find('-');
    const std::string first(element.substr(0, dash));
    const std::string last(dash == std::string_view::npos ? first : element.substr(dash + 1));
    if (!Digits(first) || !Digits(last)) return false;
    const bool padded = first.size() > 1 && first[0] == '0';
    if (padded ? last.size() != first.size() : last.size() > 1 && last[0] == '0') return false;
    for (std::string d = first;; d = Increment(d)) {
      if (out.size() >= limit || d.size() > last.size()) return false;
      out.push_back(std::string(prefix) + d + std::string(suffix));
      if (d == last) break;
    }
    if (comma == std::string_view::npos) return true;
    body.remove_prefix(comma + 1);
  }
}

// Whether list[pos...] names exactly `remaining`, each once, trying each
// literal (a name the notation cannot express) where it fits as an item.
// Spends `budget`; leaves `remaining` as it found it.
inline bool Parse(std::string_view list, std::size_t pos, std::set<std::string>& remaining,
                  const std::set<std::string>& literals, std::size_t& budget) {
  if (budget == 0) return false;
  --budget;
  if (pos == list.size()) return remaining.empty();
  auto rest_after = [&](std::size_t end) {
    if (end == list.size()) return Parse(list, end, remaining, literals, budget);
    return list[end] == ',' && end + 1 < list.size() && Parse(list, end + 1, remaining, literals, budget);
  };
  for (const std::string& literal : literals) {
    if (!remaining.count(literal) || list.compare(pos, literal.size(), literal) != 0) continue;
    remaining.erase(literal);
    const bool found = rest_after(pos + literal.size());
    remaining.insert(literal);
    if (found) return true;
  }
  std::size_t end = pos;
  for (int depth = 0; end < list.size() && !(list[end] == ',' && depth == 0); ++end) {
    depth += list[end] == '[' ? 1 : list[end] == ']' ? -1 : 0;
  }
  std::vector<std::string> names;
  if (!ExpandItem(list.substr(pos, end - pos), remaining.size(), names)) return false;
  std::vector<std::string> taken;
  bool found = true;
  for (const std::string& name : names) {
    if (literals.count(name) || !remaining.erase(name)) {
      found = false;
      break;
    }
    taken.push_back(name);
  }
  found = found && rest_after(end);
  remaining.insert(taken.begin(), taken.end());
  return found;
}

}  // namespace host_list_detail

// Checks that `merged` names exactly the non-empty names of `hosts` as
// they are shown (control characters escaped), each once. Names holding
// '[', ']' or ',' are items of their own, as they are; since such an item
// can be read in more than one way, the check accepts any reading that
// gives the names, and gives up (accepting) after a large number of
// readings. Returns "" when it names them, else what is wrong.
inline std::string CheckMergedHosts(const std::vector<std::string>& hosts, const std::string& merged) {
  std::set<std::string> names, literals;
  for (const std::string& host : hosts) {
    if (host.empty()) continue;
    const std::string shown = str::escape_controls(host, false);
    names.insert(shown);
    if (shown.find_first_of("[],") != std::string::npos) literals.insert(shown);
  }
  std::size_t budget = 100000;
  if (host_list_detail::Parse(merged, 0, names, literals, budget) || budget == 0) return "";
  return "'" + merged + "' does not name exactly the " + std::to_string(names.size()) + " distinct hosts given";
}

}  // namespace qorv::testing
