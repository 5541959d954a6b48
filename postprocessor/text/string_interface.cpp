#include "postprocessor/text/string_interface.h"

#include <algorithm>

#include "postprocessor/host/issue_key.h"
#include "postprocessor/host/str.h"
#include "postprocessor/host/tokenized_host.h"

namespace qorv::postprocessor {

std::string StringInterface::get_node_string(std::vector<std::vector<std::string>>& groups) {
  const bool any_name = std::any_of(groups.begin(), groups.end(), [](const auto& group) { return !group.empty(); });
  if (!any_name) return {};

  const bool all_single =
      std::all_of(groups.begin(), groups.end(), [](const auto& group) { return group.size() <= 1; });
  if (all_single) {
    std::vector<std::string> names;
    for (const auto& group : groups) names.insert(names.end(), group.begin(), group.end());
    return get_node_string_merge(names);
  }

  std::string text;
  for (std::size_t i = 0; i < groups.size(); ++i) {
    const auto& group = groups[i];
    if (group.empty()) continue;
    text += "(" + get_node_string_merge(group) + ")";
    if (i + 1 < groups.size()) text += ", ";
  }
  return text;
}

std::string StringInterface::get_node_string_merge(const std::vector<std::string>& names) const {
  if (names.empty()) return {};
  if (names.size() == 1) return str::escape_controls(names.front(), false);
  std::vector<std::string> sorted = names;
  std::sort(sorted.begin(), sorted.end());
  return TokenizedHost::get_merged_hosts(sorted);
}

std::string StringInterface::GetNodeStringSet(const std::set<std::string>& names) const {
  if (names.empty()) return {};
  if (names.size() == 1) return str::escape_controls(*names.begin(), false);
  return TokenizedHost::get_merged_hosts(std::vector<std::string>(names.begin(), names.end()));
}

std::string StringInterface::get_severity_string(const int& severity) {
  for (const auto& [name, group] : severity_groups) {
    if (std::get<0>(group) <= severity && severity <= std::get<1>(group)) return str::upper(name);
  }
  return {};
}

std::string StringInterface::get_short_name(const std::string& path) const {
  std::string name = str::remove_path(path);
  const std::size_t suffix = name.rfind(".xml");
  if (suffix != std::string::npos) name.erase(suffix, 4);
  return name;
}

std::string StringInterface::remove_endl(const std::string& text) const {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c != '\n') out += c;
  }
  return out;
}

}  // namespace qorv::postprocessor
