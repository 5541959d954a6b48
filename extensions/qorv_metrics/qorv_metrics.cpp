// qorv_metrics: the run's results as Prometheus metrics for node_exporter's
// textfile collector, written to "<results log name>.prom" beside the
// results log, or where the host places it (docs/prometheus-metrics.md).
//
// Every metric is a gauge describing the last run: the verdict, its time,
// the FAIL level, the issues by severity group and FAIL contribution, the
// suppressed records, tested nodes, tests that could not run, each
// Framework Definition's verdict and the issues of each node that has any
// (a clean node has no series: a cluster of 100,000 nodes would otherwise
// make 300,000 series of zeros). Families and samples come in a fixed
// order, so the same run gives the same bytes; the file is replaced whole,
// so the collector never reads half of it.
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "extensions/common/publish_result_file.h"
#include "extensions/common/severity_group.h"
#include "extensions/common/utf8.h"
#include "extensions/qorv_metrics/prometheus_text.h"
#include "postprocessor/collapse/collapsed_analysis_output.h"
#include "postprocessor/postprocessor_extension.h"
#include "postprocessor/run_facts.h"

namespace {

using qorv::extensions::AtomicFileWriter;
using qorv::extensions::ValidUtf8;
using qorv::metrics_report::AppendGaugeFamily;
using qorv::metrics_report::AppendSample;
using qorv::postprocessor::PostprocessorExtension;
using qorv::postprocessor::PostprocessorExtensionData;

// Readable by all: node_exporter runs as a user of its own.
constexpr unsigned kMetricsFileMode = 0644;

class MetricsReport : public PostprocessorExtension {
 public:
  using PostprocessorExtension::PostprocessorExtension;

  int run() override {
    return qorv::extensions::PublishResultFile(
        data.output_file, ".prom", "Prometheus metrics", [this](AtomicFileWriter& file) { Exposition(file); },
        kMetricsFileMode);
  }

 private:
  // Severity group name to counts.
  using GroupCounts = std::map<std::string, std::int64_t>;

  static void Gauge(AtomicFileWriter& file, const char* name, const char* help, std::int64_t value) {
    AppendGaugeFamily(file.Out(), name, help);
    AppendSample(file.Out(), name, {}, value);
  }

  void Exposition(AtomicFileWriter& file) const {
    const auto facts = qorv::postprocessor::RunFacts::Of(data);
    // Collapsed issues by node and severity group.
    // Keyed by the label value a name becomes, so that names differing only
    // in ill-formed bytes make one series rather than a duplicate.
    std::map<std::string, GroupCounts> by_node;
    std::unordered_map<std::string_view, GroupCounts*> counts_of;  // by the name as the issue has it
    if (data.collapsed_by_type) {
      for (const auto& [key, list] : *data.collapsed_by_type) {
        const auto* group = qorv::extensions::SeverityGroupOfKey(key);
        if (group == nullptr) continue;
        for (const auto& issue : list) {
          if (!issue) continue;
          for (const auto& node : issue->nodes) {
            // A node has many issues: its label value is made once.
            auto& counts = counts_of[node];
            if (!counts) counts = &by_node[ValidUtf8(node)];
            ++(*counts)[group->first];
          }
        }
      }
    }
    Gauge(file, "qorv_run_passed", "Whether the last run passed (1) or failed (0).", data.passed ? 1 : 0);
    Gauge(file, "qorv_run_timestamp_seconds", "Time of the last run in seconds since the Unix epoch.",
          static_cast<std::int64_t>(data.timestamp));
    Gauge(file, "qorv_fail_level", "Severity (0 to 100) from which issues contribute to FAIL.", data.fail_level);

    AppendGaugeFamily(file.Out(), "qorv_issues",
                      "Issues of the last run, collapsed over nodes, by severity group and contribution to FAIL.");
    // By group name, as the other families order them.
    std::map<std::string, const qorv::postprocessor::RunFacts::GroupCount*> groups;
    for (const auto& group : facts->groups) groups[group.name] = &group;
    for (const auto& [name, group] : groups) {
      for (const bool fail : {true, false}) {
        AppendSample(file.Out(), "qorv_issues", {{"severity", name}, {"contributes_to_fail", fail ? "true" : "false"}},
                     group->contributes_to_fail == fail ? static_cast<std::int64_t>(group->total()) : 0);
      }
    }
    Gauge(file, "qorv_suppressed_issues", "Issue records of the last run suppressed by the configuration.",
          static_cast<std::int64_t>(facts->suppressed));
    Gauge(file, "qorv_tested_nodes", "Nodes the last run tested.",
          static_cast<std::int64_t>(facts->tested_nodes.size()));
    Gauge(file, "qorv_nodes_with_issues", "Nodes with at least one counted issue in the last run.",
          static_cast<std::int64_t>(facts->nodes_with_issues.size()));
    Gauge(file, "qorv_tests_failed_to_run", "Tests that could not run in the last run; its results are incomplete.",
          static_cast<std::int64_t>(facts->tests_failed_to_run));

    // A definition that fails or is skipped under any spelling of its name
    // counts as failed or skipped.
    std::map<std::string, std::pair<bool, bool>> definitions;  // passed, skipped
    for (const auto& [name, fwd] : data.fwd_attributes->fwds) {
      if (!fwd) continue;
      auto& state = definitions.try_emplace(ValidUtf8(name), true, false).first->second;
      state.first = state.first && fwd->pass;
      state.second = state.second || fwd->skipped;
    }
    AppendGaugeFamily(file.Out(), "qorv_framework_definition_passed",
                      "Whether a Framework Definition passed (1) or failed (0) in the last run.");
    for (const auto& [name, state] : definitions) {
      AppendSample(file.Out(), "qorv_framework_definition_passed", {{"definition", name}}, state.first ? 1 : 0);
    }
    AppendGaugeFamily(file.Out(), "qorv_framework_definition_skipped",
                      "Whether a Framework Definition was skipped (1) in the last run.");
    for (const auto& [name, state] : definitions) {
      AppendSample(file.Out(), "qorv_framework_definition_skipped", {{"definition", name}}, state.second ? 1 : 0);
    }

    AppendGaugeFamily(file.Out(), "qorv_node_issues", "Issues of the last run on a node, by severity group.");
    for (const auto& [node, counts] : by_node) {
      for (const auto& [group, count] : counts) {
        AppendSample(file.Out(), "qorv_node_issues", {{"node", node}, {"severity", group}}, count);
      }
    }
  }
};

}  // namespace

extern "C" QORV_EXPORT PostprocessorExtension* create(PostprocessorExtensionData& data) {
  return new MetricsReport(data);
}
