#include "postprocessor/collapse/collapsed_analysis_output.h"

#include "postprocessor/host/str.h"

namespace qorv::postprocessor {

void CollapsedAnalysisOutput::append(const std::shared_ptr<analysis::AnalysisOutput>& issue) {
  // A null entry would stop every reader of the first record.
  if (!issue) return;
  issues.push_back(issue);
  // Records mostly arrive in node order (the lists are sorted by node after
  // severity and id): a hint at the end makes each such insert constant.
  for (const auto& node : issue->nodes) nodes.emplace_hint(nodes.end(), node);
}

std::string CollapsedAnalysisOutput::get_id() const { return issues.empty() ? std::string() : issues.front()->id; }

std::string CollapsedAnalysisOutput::get_message() const {
  return issues.empty() ? std::string() : issues.front()->message;
}

std::string CollapsedAnalysisOutput::get_category() const {
  return issues.empty() ? std::string() : issues.front()->category;
}

int CollapsedAnalysisOutput::get_severity() const { return issues.empty() ? 0 : issues.front()->severity; }

std::vector<std::string> CollapsedAnalysisOutput::get_nodes() const {
  std::vector<std::string> all;
  for (const auto& issue : issues) all.insert(all.end(), issue->nodes.begin(), issue->nodes.end());
  return all;
}

std::string CollapsedAnalysisOutput::get_message_string(std::string prefix) const {
  if (issues.empty() || issues.front()->message.empty()) return {};
  return prefix + "Message: " + str::escape_controls(functions.remove_endl(issues.front()->message), false) + "\n";
}

std::string CollapsedAnalysisOutput::get_remedy_string(std::string prefix) const {
  if (issues.empty() || issues.front()->remedy.empty()) return {};
  return prefix + "Remedy: " + str::escape_controls(functions.remove_endl(issues.front()->remedy), false) + "\n";
}

std::string CollapsedAnalysisOutput::get_long_node_string(std::string prefix) const {
  if (nodes.empty()) return {};
  return prefix + std::to_string(nodes.size()) + " node" + (nodes.size() > 1 ? "s" : "") + ": " +
         functions.GetNodeStringSet(nodes) + "\n";
}

std::string CollapsedAnalysisOutput::get_fwd_string(std::string prefix, std::string label) const {
  if (fwds.empty()) return {};
  std::string line = prefix + label + (fwds.size() > 1 ? "s" : "") + ": ";
  bool first = true;
  for (const auto& name : fwds) {
    if (!first) line += ", ";
    line += str::escape_controls(functions.get_short_name(name), false);
    first = false;
  }
  return line + "\n";
}

}  // namespace qorv::postprocessor
