#include "tools/results_diff.h"

#include <simdjson.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "extensions/common/json_writer.h"
#include "postprocessor/host/str.h"
#include "postprocessor/host/tokenized_host.h"
#include "tools/results_document.h"

namespace qorv::tools {

namespace {

using NodeSet = std::set<std::string>;

struct Issue {
  std::string id;
  std::string group;  // "" for a severity outside every group
  std::string message;
  bool contributes_to_fail = false;
  NodeSet nodes;
};

// Issues are the same when these are.
using IssueKey = std::tuple<std::string, std::string, std::string>;

struct Results {
  std::string file;
  std::string time_utc;
  std::map<IssueKey, Issue> issues;
  NodeSet nodes_with_issues;
};

Results Read(const std::string& file) {
  const ResultsDocument document(file);
  const simdjson::dom::object root = document.root();
  Results results;
  results.file = file;
  simdjson::dom::object run;
  if (document.Field(root, "run", "the document").get_object().get(run) == simdjson::SUCCESS) {
    std::string_view time;
    if (run["time_utc"].get_string().get(time) == simdjson::SUCCESS) results.time_utc = std::string(time);
  }
  NodeSet any_issue_nodes;  // for a document without issue_nodes
  document.ForEachIssue([&](simdjson::dom::object object, const std::string& where) {
    Issue issue;
    issue.id = std::string(document.Text(document.Field(object, "id", where), where + ".id"));
    const auto group = document.Field(object, "severity_group", where);
    if (!group.is_null()) issue.group = std::string(document.Text(group, where + ".severity_group"));
    issue.message = std::string(document.Text(document.Field(object, "message", where), where + ".message"));
    if (document.Field(object, "contributes_to_fail", where).get_bool().get(issue.contributes_to_fail) !=
        simdjson::SUCCESS) {
      throw ResultsError(file + ": " + where + ".contributes_to_fail is not true or false");
    }
    for (std::string& name : document.NodeNames(document.Field(object, "nodes", where), where + ".nodes")) {
      issue.nodes.insert(std::move(name));
    }
    any_issue_nodes.insert(issue.nodes.begin(), issue.nodes.end());

    // The same issue filed twice (a diagnosis and an observation, say) is
    // one issue here, on the nodes of both.
    auto& merged = results.issues[{issue.id, issue.group, issue.message}];
    if (merged.id.empty() && merged.nodes.empty()) {
      merged = std::move(issue);
    } else {
      merged.contributes_to_fail = merged.contributes_to_fail || issue.contributes_to_fail;
      merged.nodes.insert(issue.nodes.begin(), issue.nodes.end());
    }
  });
  // The nodes with issues are the run's own, as every report of it states
  // them; a document without them (written by hand) has those of its issues.
  simdjson::dom::element issue_nodes;
  if (root["issue_nodes"].get(issue_nodes) != simdjson::SUCCESS) {
    results.nodes_with_issues = std::move(any_issue_nodes);
    return results;
  }
  for (std::string& name : document.NodeNames(issue_nodes, "issue_nodes")) {
    results.nodes_with_issues.insert(std::move(name));
  }
  return results;
}

std::string Range(const NodeSet& nodes) {
  return TokenizedHost::get_merged_hosts(std::vector<std::string>(nodes.begin(), nodes.end()));
}

std::string CountedRange(const NodeSet& nodes) {
  if (nodes.empty()) return "none";
  return std::to_string(nodes.size()) + (nodes.size() == 1 ? " node: " : " nodes: ") + Range(nodes);
}

// Critical first, then warning, informational and issues of no group; by id
// and message within a group.
int GroupRank(const std::string& group) {
  if (group == "CRITICAL") return 0;
  if (group == "WARNING") return 1;
  if (group == "INFORMATIONAL") return 2;
  return 3;
}

struct Change {
  const Issue* issue;
  const Issue* before = nullptr;  // for a persisting issue: the old run's
};

void Sort(std::vector<Change>& changes) {
  std::stable_sort(changes.begin(), changes.end(), [](const Change& a, const Change& b) {
    return std::make_tuple(GroupRank(a.issue->group), a.issue->id, a.issue->message) <
           std::make_tuple(GroupRank(b.issue->group), b.issue->id, b.issue->message);
  });
}

struct Comparison {
  std::vector<Change> added;
  std::vector<Change> resolved;
  std::vector<Change> persisting;
  NodeSet newly_with_issues;
  NodeSet clean_again;
  std::size_t added_failing = 0;
};

Comparison Compare(const Results& before, const Results& after) {
  Comparison comparison;
  for (const auto& [key, issue] : after.issues) {
    const auto found = before.issues.find(key);
    if (found == before.issues.end()) {
      comparison.added.push_back({&issue});
      comparison.added_failing += issue.contributes_to_fail ? 1 : 0;
    } else {
      comparison.persisting.push_back({&issue, &found->second});
    }
  }
  for (const auto& [key, issue] : before.issues) {
    if (after.issues.count(key) == 0) comparison.resolved.push_back({&issue});
  }
  Sort(comparison.added);
  Sort(comparison.resolved);
  Sort(comparison.persisting);
  for (const auto& node : after.nodes_with_issues) {
    if (before.nodes_with_issues.count(node) == 0) comparison.newly_with_issues.insert(node);
  }
  for (const auto& node : before.nodes_with_issues) {
    if (after.nodes_with_issues.count(node) == 0) comparison.clean_again.insert(node);
  }
  return comparison;
}

std::string Counted(std::size_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

void WriteText(const Comparison& comparison, const Results& before, const Results& after, const DiffOptions& options,
               std::ostream& out) {
  const int width = options.width;
  auto run = [](const Results& results) {
    return results.file + (results.time_utc.empty() ? "" : " (" + results.time_utc + ")");
  };
  out << str::word_wrap("Changes from " + run(before) + " to " + run(after) + "\n", width, "  ");
  // One line a cron mail's reader takes in at a glance.
  out << str::word_wrap("Summary: " + Counted(comparison.added.size(), "new issue", "new issues") + " (" +
                            std::to_string(comparison.added_failing) + " contributing to FAIL), " +
                            std::to_string(comparison.resolved.size()) + " resolved, " +
                            std::to_string(comparison.persisting.size()) + " still present; " +
                            Counted(comparison.newly_with_issues.size(), "node", "nodes") + " with new issues, " +
                            Counted(comparison.clean_again.size(), "node", "nodes") + " clean again\n",
                        width, "  ");
  auto section = [&](const char* title, const std::vector<Change>& changes) {
    out << "\n" << title << ": " << changes.size() << "\n";
    std::size_t number = 0;
    for (const auto& change : changes) {
      const Issue& issue = *change.issue;
      const std::string prefix = "  " + std::to_string(++number) + ". ";
      const std::string indent(prefix.size(), ' ');
      out << str::word_wrap(prefix + (issue.group.empty() ? "NO SEVERITY GROUP" : issue.group) +
                                (issue.contributes_to_fail ? ", contributes to FAIL" : "") + ": " +
                                str::escape_controls(issue.id, false) + "\n",
                            width, indent)
          << str::word_wrap(indent + str::escape_controls(issue.message, false) + "\n", width, indent);
      std::string nodes = indent + "Nodes: " + CountedRange(issue.nodes) + "\n";
      if (change.before != nullptr && change.before->nodes != issue.nodes) {
        nodes += indent + "Before: " + CountedRange(change.before->nodes) + "\n";
      }
      out << str::column_wrap(nodes, width, indent, ':', true);
    }
  };
  section("New issues", comparison.added);
  section("Resolved issues", comparison.resolved);
  if (options.all) {
    section("Still present", comparison.persisting);
  } else {
    out << "\nStill present: " << comparison.persisting.size()
        << (comparison.persisting.empty() ? "" : " (listed with --all)") << "\n";
  }
  out << "\n"
      << str::column_wrap("Nodes with new issues: " + CountedRange(comparison.newly_with_issues) + "\n" +
                              "Nodes clean again: " + CountedRange(comparison.clean_again) + "\n",
                          width, "", ':', true);
}

void WriteNodes(json_report::JsonWriter& json, const char* key, const NodeSet& nodes) {
  json.Key(key);
  json.BeginObject(json_report::JsonWriter::Layout::kLine);
  json.Key("range");
  json.String(Range(nodes));
  json.Key("count");
  json.Int(static_cast<std::int64_t>(nodes.size()));
  json.Key("names");
  json.BeginArray();
  for (const auto& node : nodes) json.String(node);
  json.EndArray();
  json.EndObject();
}

void WriteJson(const Comparison& comparison, const Results& before, const Results& after, std::ostream& out) {
  using Layout = json_report::JsonWriter::Layout;
  json_report::JsonWriter json(
      [&out](const std::string& chunk) {
        out << chunk;
        return static_cast<bool>(out);
      },
      1 << 16);
  json.BeginObject();
  json.Key("diff_version");
  json.Int(1);
  for (const auto* results : {&before, &after}) {
    json.Key(results == &before ? "old" : "new");
    json.BeginObject(Layout::kLine);
    json.Key("file");
    json.String(results->file);
    json.Key("time_utc");
    if (results->time_utc.empty()) {
      json.Null();
    } else {
      json.String(results->time_utc);
    }
    json.EndObject();
  }
  auto list = [&](const char* key, const std::vector<Change>& changes) {
    json.Key(key);
    json.BeginArray();
    for (const auto& change : changes) {
      const Issue& issue = *change.issue;
      json.BeginObject(Layout::kLine);
      json.Key("id");
      json.String(issue.id);
      json.Key("severity_group");
      if (issue.group.empty()) {
        json.Null();
      } else {
        json.String(issue.group);
      }
      json.Key("message");
      json.String(issue.message);
      json.Key("contributes_to_fail");
      json.Bool(issue.contributes_to_fail);
      WriteNodes(json, "nodes", issue.nodes);
      if (change.before != nullptr) WriteNodes(json, "previous_nodes", change.before->nodes);
      json.EndObject();
    }
    json.EndArray();
  };
  list("new_issues", comparison.added);
  list("resolved_issues", comparison.resolved);
  list("persisting_issues", comparison.persisting);
  WriteNodes(json, "nodes_with_new_issues", comparison.newly_with_issues);
  WriteNodes(json, "nodes_clean_again", comparison.clean_again);
  json.Key("new_issues_contributing_to_fail");
  json.Int(static_cast<std::int64_t>(comparison.added_failing));
  json.EndObject();
  json.Finish();
}

}  // namespace

int DiffResults(const DiffOptions& options, std::ostream& out) {
  const Results before = Read(options.old_file);
  const Results after = Read(options.new_file);
  const Comparison comparison = Compare(before, after);
  if (options.json) {
    WriteJson(comparison, before, after, out);
  } else {
    WriteText(comparison, before, after, options, out);
  }
  return comparison.added_failing > 0 ? 1 : 0;
}

}  // namespace qorv::tools
