// The qorv_json report extension: the run's results as one JSON document,
// "qorv_results.json" (or the results log's name with ".json"), for tools
// that read results rather than people. docs/results-json.md describes the
// document; docs/qorv_results.schema.json checks it.
//
// Everything comes from the run data and the toolkit (issue keys, the
// category map, node-range strings); the document is streamed through the
// output log in chunks, so a run with a million records never sits in
// memory as text. The same run data always gives the same bytes.
#include <algorithm>
#include <ctime>
#include <iostream>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "extensions/common/json_writer.h"
#include "extensions/common/severity_group.h"
#include "extensions/common/utc_time.h"
#include "log/output_log.h"
#include "postprocessor/collapse/category_map.h"
#include "postprocessor/collapse/collapsed_analysis_output.h"
#include "postprocessor/host/issue_key.h"
#include "postprocessor/host/str.h"
#include "postprocessor/postprocessor_extension.h"
#include "postprocessor/run_facts.h"
#include "postprocessor/text/string_interface.h"
#include "postprocessor/version.h"

namespace {

using qorv::json_report::JsonWriter;
using qorv::log::OutputLog;
using qorv::postprocessor::CategoryMap;
using qorv::postprocessor::CollapsedAnalysisOutput;
using qorv::postprocessor::IssueKey;
using qorv::postprocessor::PostprocessorExtension;
using qorv::postprocessor::PostprocessorExtensionData;
using qorv::postprocessor::StringInterface;
using Layout = JsonWriter::Layout;

// Bumped only when a key is removed or renamed or a value changes meaning;
// added keys keep it.
constexpr int kSchemaVersion = 1;
constexpr std::size_t kChunkSize = 16 * 1024;

// Hands a chunk to the output log as one message. False when the stream
// behind it has failed (a full disk, say).
bool WriteChunk(const std::string& chunk) {
  {
    OutputLog message(OutputLog::NO_COLOR);
    message.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
  }
  for (const auto& out : OutputLog::singleton_obj->streams) {
    if (out.stream != nullptr && !out.stream->good()) return false;
  }
  return true;
}

std::string OutputName() {
  const auto* log = OutputLog::singleton_obj;
  return log != nullptr && !log->files.empty() ? log->files.front()->path() : std::string("standard output");
}

class JsonReport : public PostprocessorExtension {
 public:
  using PostprocessorExtension::PostprocessorExtension;

  int run() override {
    BuildCategoryMap();
    IndexIssues();

    JsonWriter out(WriteChunk, kChunkSize);
    out.BeginObject();
    out.Key("schema_version");
    out.Int(kSchemaVersion);
    out.Key("product");
    out.BeginObject(Layout::kLine);
    Member(out, "name", qorv::postprocessor::kProductName);
    Member(out, "version", qorv::postprocessor::kProductVersion);
    out.EndObject();
    WriteRun(out);
    WriteResult(out);
    WriteFrameworkDefinitions(out);
    WriteIssues(out);
    WriteCategories(out);
    WriteNodes(out);
    WriteNodeGroups(out);
    WriteReports(out);
    out.EndObject();
    if (!out.Finish()) {
      std::cerr << "Error writing the JSON results to " << qorv::str::escape_controls(OutputName(), false) << "."
                << std::endl;
      return 1;
    }
    return 0;
  }

 private:
  // --- Small writers -------------------------------------------------------

  static void Member(JsonWriter& out, const char* key, const std::string& value) {
    out.Key(key);
    out.String(value);
  }

  template <typename Names>
  static void StringArray(JsonWriter& out, const char* key, const Names& names) {
    out.Key(key);
    out.BeginArray(Layout::kLine);
    for (const auto& name : names) out.String(name);
    out.EndArray();
  }

  // {"range", "count", "names"}: the node-range string and the names as
  // given (the range string cannot express names holding ',', '[' or ']').
  template <typename Names>
  void NodeSet(JsonWriter& out, const char* key, const std::string& range, const Names& names) {
    out.Key(key);
    out.BeginObject(Layout::kLine);
    Member(out, "range", range);
    out.Key("count");
    out.Int(static_cast<std::int64_t>(names.size()));
    StringArray(out, "names", names);
    out.EndObject();
  }
  void NodeSet(JsonWriter& out, const char* key, const std::set<std::string>& names) {
    NodeSet(out, key, strings_.GetNodeStringSet(names), names);
  }
  void NodeSet(JsonWriter& out, const char* key, const std::vector<std::string>& names) {
    NodeSet(out, key, strings_.get_node_string_merge(names), names);
  }

  // A severity group's name ("INFORMATIONAL", "WARNING", "CRITICAL"), or
  // null for a severity or key code outside every group.
  void SeverityGroup(JsonWriter& out, const std::string& name) {
    out.Key("severity_group");
    if (name.empty()) {
      out.Null();
    } else {
      out.String(name);
    }
  }
  std::string GroupOfKey(const IssueKey& key) {
    const auto* group = qorv::extensions::SeverityGroupOfKey(key);
    return group ? strings_.get_severity_string(std::get<0>(group->second)) : std::string();
  }

  static bool ContributesToFail(const IssueKey& key) { return qorv::postprocessor::KeyFails(key); }
  // Whether the severity group of a key of the sorted map contributes to
  // FAIL, as the run's counts decide it.
  bool GroupContributes(const IssueKey& key) const {
    const auto* group = qorv::extensions::SeverityGroupOfKey(key);
    for (const auto& counted : facts_->groups) {
      if (group != nullptr && counted.name == group->first) return counted.contributes_to_fail;
    }
    return ContributesToFail(key);
  }

  // --- Preparation ---------------------------------------------------------

  // The category map the category reports build.
  void BuildCategoryMap() {
    categories_ = qorv::postprocessor::CategoryMap::OfRun(data, true);
    facts_ = qorv::postprocessor::RunFacts::Of(data);
  }

  // Numbers the collapsed issues in document order, so that links between
  // them can be written as references.
  void IndexIssues() {
    if (!data.collapsed_by_type) return;
    std::size_t count = 0;
    for (const auto& entry : *data.collapsed_by_type) count += entry.second.size();
    refs_.reserve(count);
    for (const auto& [key, issues] : *data.collapsed_by_type) {
      for (const auto& issue : issues) {
        if (issue) refs_.emplace(issue.get(), refs_.size());
      }
    }
  }

  // The references of the linked issues, ascending (the sets are ordered by
  // address, which differs between runs). Links to issues outside the
  // document are left out.
  template <typename Links>
  void AddRefs(std::vector<std::int64_t>& refs, const Links& links) const {
    for (const auto& link : links) {
      const auto found = refs_.find(link.get());
      if (found != refs_.end()) refs.push_back(static_cast<std::int64_t>(found->second));
    }
  }
  static void RefArray(JsonWriter& out, const char* key, std::vector<std::int64_t> refs) {
    std::sort(refs.begin(), refs.end());
    refs.erase(std::unique(refs.begin(), refs.end()), refs.end());
    out.Key(key);
    out.BeginArray(Layout::kLine);
    for (const auto ref : refs) out.Int(ref);
    out.EndArray();
  }

  // --- Sections ------------------------------------------------------------

  void WriteRun(JsonWriter& out) {
    out.Key("run");
    out.BeginObject();
    out.Key("timestamp");
    out.Int(static_cast<std::int64_t>(data.timestamp));
    out.Key("time_utc");
    const std::string time = qorv::extensions::UtcTime(data.timestamp, "%Y-%m-%dT%H:%M:%SZ");
    if (time.empty()) {
      out.Null();
    } else {
      out.String(time);
    }
    Member(out, "command_line", data.command_line);
    Member(out, "nodefile", data.nodefile);
    Member(out, "node_groups_file", data.node_groups_file);
    StringArray(out, "databases", data.databases);
    StringArray(out, "include_nodes", data.include_nodes ? *data.include_nodes : std::vector<std::string>());
    out.EndObject();
  }

  void WriteResult(JsonWriter& out) {
    out.Key("result");
    out.BeginObject();
    Member(out, "overall", data.passed ? "PASS" : "FAIL");
    out.Key("passed");
    out.Bool(data.passed);
    Member(out, "summary", facts_->OverallResult());

    out.Key("fail_level");
    out.BeginObject(Layout::kLine);
    out.Key("value");
    out.Int(data.fail_level);
    out.Key("set");
    out.Bool(data.fail_level_set);
    SeverityGroup(out, strings_.get_severity_string(data.fail_level));
    out.EndObject();

    out.Key("counts");
    out.BeginObject(Layout::kLine);
    out.Key("contributing_to_fail");
    out.BeginObject();
    out.Key("diagnoses");
    out.Int(static_cast<std::int64_t>(facts_->failing_diagnoses));
    out.Key("observations");
    out.Int(static_cast<std::int64_t>(facts_->failing_observations));
    out.EndObject();
    out.Key("other");
    out.BeginObject();
    out.Key("diagnoses");
    out.Int(static_cast<std::int64_t>(facts_->other_diagnoses));
    out.Key("observations");
    out.Int(static_cast<std::int64_t>(facts_->other_observations));
    out.EndObject();
    out.Key("suppressed");
    out.Int(static_cast<std::int64_t>(facts_->suppressed));
    out.Key("tests_failed_to_run");
    out.Int(static_cast<std::int64_t>(facts_->tests_failed_to_run));
    out.Key("issues_found");
    out.Int(static_cast<std::int64_t>(facts_->issues_found));
    out.EndObject();

    out.Key("severity_groups");
    out.BeginArray();
    for (const auto& group : facts_->groups) {
      out.BeginObject(Layout::kLine);
      SeverityGroup(out, qorv::str::upper(group.name));
      out.Key("contributes_to_fail");
      out.Bool(group.contributes_to_fail);
      out.Key("diagnoses");
      out.Int(static_cast<std::int64_t>(group.diagnoses));
      out.Key("observations");
      out.Int(static_cast<std::int64_t>(group.observations));
      out.EndObject();
    }
    out.EndArray();
    out.EndObject();
  }

  void WriteFrameworkDefinitions(JsonWriter& out) {
    out.Key("framework_definitions");
    out.BeginArray();
    if (data.fwd_attributes) {
      for (const auto& [name, fwd] : data.fwd_attributes->fwds) {
        if (!fwd) continue;
        out.BeginObject(Layout::kLine);
        Member(out, "name", name);
        Member(out, "path", fwd->path);
        Member(out, "short_name", strings_.get_short_name(fwd->path));
        Member(out, "validation", fwd->validation);
        out.Key("passed");
        out.Bool(fwd->pass);
        out.Key("skipped");
        out.Bool(fwd->skipped);
        out.Key("depends_on");
        out.BeginArray();
        if (fwd->node) {
          for (const auto& group : fwd->node->dependencies) {
            out.BeginArray();
            for (const auto& child : group) {
              if (child && child->fwd) out.String(child->fwd->name);
            }
            out.EndArray();
          }
        }
        out.EndArray();
        out.Key("counts");
        out.BeginArray();
        for (const auto& [key, count] : fwd->type_counts) {
          out.BeginObject();
          SeverityGroup(out, GroupOfKey(key));
          // Observation counts cover the observations and the third list.
          const bool diagnoses = qorv::postprocessor::KeyType(key) == qorv::postprocessor::DIAGNOSIS;
          Member(out, "type", diagnoses ? "diagnosis" : "observation");
          out.Key("contributes_to_fail");
          out.Bool(ContributesToFail(key));
          out.Key("count");
          out.Int(count);
          out.EndObject();
        }
        out.EndArray();
        out.EndObject();
      }
    }
    out.EndArray();
  }

  void WriteIssues(JsonWriter& out) {
    static const char* const kTypeNames[] = {"diagnosis", "observation", "third_list", "collapsed"};
    std::vector<std::int64_t> runtime_problems;
    out.Key("issues");
    out.BeginArray();
    if (data.collapsed_by_type) {
      for (const auto& [key, issues] : *data.collapsed_by_type) {
        const auto type = qorv::postprocessor::KeyType(key);
        const std::string group = GroupOfKey(key);
        const bool contributes = GroupContributes(key);
        for (const auto& issue : issues) {
          if (!issue) continue;
          const std::int64_t ref = static_cast<std::int64_t>(refs_.at(issue.get()));
          if (type == qorv::postprocessor::THIRD_LIST) runtime_problems.push_back(ref);
          out.BeginObject(Layout::kLine);
          out.Key("ref");
          out.Int(ref);
          Member(out, "id", issue->get_id());
          Member(out, "type", kTypeNames[type]);
          out.Key("severity");
          out.Int(issue->get_severity());
          SeverityGroup(out, group);
          out.Key("contributes_to_fail");
          out.Bool(contributes);
          WriteTexts(out, *issue);
          NodeSet(out, "nodes", issue->nodes);
          StringArray(out, "framework_definitions", issue->fwds);
          WriteLinks(out, *issue);
          out.Key("records");
          out.Int(static_cast<std::int64_t>(issue->issues.size()));
          out.EndObject();
        }
      }
    }
    out.EndArray();
    RefArray(out, "runtime_problems", std::move(runtime_problems));
  }

  // Message, remedy and category of the issue's first record.
  static void WriteTexts(JsonWriter& out, const CollapsedAnalysisOutput& issue) {
    const auto* first = issue.issues.empty() ? nullptr : issue.issues.front().get();
    Member(out, "message", issue.get_message());
    Member(out, "remedy", first ? first->remedy : std::string());
    Member(out, "category", issue.get_category());
  }

  // A diagnosis's related issues are those that triggered it; an
  // observation's related diagnoses are those it triggered.
  void WriteLinks(JsonWriter& out, const CollapsedAnalysisOutput& issue) const {
    std::vector<std::int64_t> triggered_by;
    std::vector<std::int64_t> triggers;
    AddRefs(triggers, issue.triggered_diagnoses);
    for (const auto& [type, links] : issue.related) {
      if (issue.type == qorv::postprocessor::DIAGNOSIS) {
        AddRefs(triggered_by, links);
      } else if (type == qorv::postprocessor::DIAGNOSIS) {
        AddRefs(triggers, links);
      }
    }
    RefArray(out, "triggered_by", std::move(triggered_by));
    RefArray(out, "triggers", std::move(triggers));
  }

  void WriteCategories(JsonWriter& out) {
    std::map<std::string, std::vector<std::string>> subclusters_by_category;
    for (const auto& entry : categories_->issue_map) {
      subclusters_by_category[entry.first.first].push_back(entry.first.second);
    }
    for (const auto& name : categories_->categories) subclusters_by_category[name];

    out.Key("categories");
    out.BeginArray();
    for (const auto& [name, subclusters] : subclusters_by_category) {
      out.BeginObject();
      Member(out, "name", name);
      // Counted as issues where the overall result line counts them:
      // reported categories that are not non-issue ones.
      const bool reported = categories_->categories.count(name) != 0;
      out.Key("reported");
      out.Bool(reported);
      out.Key("counts_as_issue");
      out.Bool(reported && !categories_->IsNonIssueCategory(name));
      out.Key("issue_count");
      out.Int(static_cast<std::int64_t>(categories_->GetNumIssuesInSubclusters(name)));
      out.Key("subclusters");
      out.BeginArray();
      for (const auto& subcluster : subclusters) {
        out.BeginObject();
        Member(out, "name", subcluster);
        out.Key("issues");
        out.BeginArray();
        const auto issues = categories_->GetIssuesByCategory(name, subcluster);
        for (const auto& issue : *issues) {
          if (issue) WriteCategoryIssue(out, *issue);
        }
        out.EndArray();
        out.EndObject();
      }
      out.EndArray();
      out.EndObject();
    }
    out.EndArray();

    out.Key("subclusters");
    out.BeginArray();
    for (const auto& name : categories_->GetSubclusters()) {
      out.BeginObject(Layout::kLine);
      Member(out, "name", name);
      NodeSet(out, "nodes", categories_->GetNodesInSubcluster(name));
      out.EndObject();
    }
    out.EndArray();
  }

  void WriteCategoryIssue(JsonWriter& out, const CollapsedAnalysisOutput& issue) {
    const auto* first = issue.issues.empty() ? nullptr : issue.issues.front().get();
    out.BeginObject(Layout::kLine);
    Member(out, "id", issue.get_id());
    out.Key("severity");
    out.Int(issue.get_severity());
    SeverityGroup(out, strings_.get_severity_string(issue.get_severity()));
    out.Key("suppressed");
    out.Bool(first != nullptr && first->suppressed);
    WriteTexts(out, issue);
    Member(out, "secondary_message", first ? first->secondary_message : std::string());
    NodeSet(out, "nodes", issue.nodes);
    StringArray(out, "framework_definitions", issue.fwds);
    out.Key("records");
    out.Int(static_cast<std::int64_t>(issue.issues.size()));
    out.EndObject();
  }

  void WriteNodes(JsonWriter& out) {
    NodeSet(out, "tested_nodes", facts_->tested_nodes);
    NodeSet(out, "issue_nodes", facts_->nodes_with_issues);
    NodeSet(out, "nodes_without_issues", facts_->nodes_without_issues);
  }

  void WriteNodeGroups(JsonWriter& out) {
    out.Key("node_groups");
    out.BeginArray();
    if (data.node_groups) {
      for (const auto& [name, group] : *data.node_groups) {
        if (!group) continue;
        out.BeginObject(Layout::kLine);
        Member(out, "name", name);
        out.Key("automatic");
        out.Bool(group->automatic);
        out.Key("valid");
        out.Bool(group->is_valid_data());
        NodeSet(out, "nodes", group->get_node_names());
        StringArray(out, "root_framework_definitions", group->get_root_fwd_names());
        StringArray(out, "excluded_groups", group->excluded_groups);
        out.Key("test_exclusions");
        out.BeginArray();
        for (const auto& [test, exclusions] : group->test_exclusions) {
          out.BeginObject();
          Member(out, "test", test);
          StringArray(out, "exclusions", exclusions);
          out.EndObject();
        }
        out.EndArray();
        out.EndObject();
      }
    }
    out.EndArray();
  }

  void WriteReports(JsonWriter& out) {
    out.Key("reports");
    out.BeginArray();
    if (data.reports) {
      for (const auto& [id, messages] : *data.reports) {
        out.BeginObject();
        Member(out, "id", id);
        out.Key("messages");
        out.BeginArray();
        for (const auto& [text, nodes] : messages) {
          out.BeginObject(Layout::kLine);
          Member(out, "text", text);
          NodeSet(out, "nodes", nodes);
          out.EndObject();
        }
        out.EndArray();
        out.EndObject();
      }
    }
    out.EndArray();
  }

  StringInterface strings_;
  std::shared_ptr<const CategoryMap> categories_;
  std::shared_ptr<const qorv::postprocessor::RunFacts> facts_;
  std::unordered_map<const CollapsedAnalysisOutput*, std::size_t> refs_;
};

}  // namespace

extern "C" QORV_EXPORT PostprocessorExtension* create(PostprocessorExtensionData& data) { return new JsonReport(data); }
