#include "postprocessor/collapse/collapse_plan.h"

#include <utility>

#include "postprocessor/collapse/candidate_index.h"
#include "postprocessor/collapse/record_prefetch.h"
#include "postprocessor/host/str.h"

namespace qorv::postprocessor::detail {

const analysis::AnalysisOutput& FirstRecord(const CollapsedAnalysisOutput& issue) {
  // The values of a candidate without a first record.
  static const analysis::AnalysisOutput kNoRecord{};
  return issue.issues.empty() || !issue.issues.front() ? kNoRecord : *issue.issues.front();
}

CollapsePlan::CollapsePlan(const Collapser& options, const Records& records, CollapsedList& out,
                           const TableDefinitions& tables)
    : options_(options), records_(records), out_(out), tables_(tables), existing_(out.size()), joins_(records.size()) {
  for (const auto& table : tables_) table_ids_.Number(table.first);

  CandidateIndex index(options);
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (out[i]) index.Add(i, FirstRecord(*out[i]), out[i]->is_table);
  }
  const RecordPrefetch prefetch(records,
                                kId | kCategory | kMessage | kSecondary | kSeverity | kSubcategory | kMessageText);
  const auto skipped = [&](const std::shared_ptr<analysis::AnalysisOutput>& record) {
    return !record || (options.skip_suppressed && record->suppressed);
  };
  // Each record's probe is prepared kProbeAhead records before its lookup.
  constexpr std::size_t kProbeAhead = 4;
  std::vector<CandidateIndex::Probe> probes(kProbeAhead + 1);
  const auto prepare = [&](std::size_t i) {
    if (i < records.size() && !skipped(records[i])) index.Prepare(*records[i], probes[i % probes.size()]);
  };
  for (std::size_t i = 0; i < kProbeAhead; ++i) prepare(i);
  for (std::size_t i = 0; i < records.size(); ++i) {
    prefetch.At(i);
    prepare(i + kProbeAhead);
    const auto& record = records[i];
    if (skipped(record)) continue;

    const CandidateIndex::Matches found = index.Find(probes[i % probes.size()]);
    // The two lists never share a position, and joining one issue does not
    // touch another, so taking them one after the other gives what the walk
    // in out order gives.
    for (const auto& [any, positions] :
         {std::pair{found.exact_found, found.exact}, std::pair{found.usable_found, found.usable}}) {
      if (!any) continue;
      joins_.Add(positions.first, i);
      if (positions.more) {
        for (std::size_t position : *positions.more) joins_.Add(position, i);
      }
    }
    if (!found.exact_found && !found.usable_found) {
      // The record will be the new issue's first.
      const bool table = TableId(record->id);
      index.Add(out.size(), *record, table);
      joins_.Add(out.size(), i);
      out.push_back(nullptr);
      new_table_.push_back(table);
    }
  }
}

void CollapsePlan::Finish() {
  // The index is gone before the joins are ordered, so that the two are
  // not held at once.
  joins_.Sort(out_.size());
  // A new table issue takes its first record's row whatever the options;
  // a record joining an issue adds its row under use_tables.
  bool creating = false;
  joins_.Each(
      records_, kCount | kNodes | kNodeNames,
      [&](std::size_t position, const GroupedJoins::Index* first, const GroupedJoins::Index* last) {
        creating = position >= existing_;
        if (creating) {
          auto issue = std::make_shared<CollapsedAnalysisOutput>(COLLAPSED);
          if (new_table_[position - existing_]) {
            issue->table = Table(HeadersIn(tables_, records_[*first]->id));
            issue->is_table = true;
          }
          out_[position] = std::move(issue);
        }
        auto& issues = out_[position]->issues;
        issues.reserve(issues.size() + static_cast<std::size_t>(last - first));
        return true;
      },
      [&](std::size_t position, std::size_t i) {
        const auto& record = records_[i];
        CollapsedAnalysisOutput& issue = *out_[position];
        issue.append(record);
        if (creating ? issue.is_table
                     : options_.use_tables && issue.is_table && issue.table.IsValid() && TableId(record->id)) {
          issue.table.InsertRow(RowIn(tables_, record->id, record->message_args), record->nodes);
        }
        creating = false;
      });
  // Sorting fewer than two rows changes nothing.
  for (const auto& issue : out_) {
    if (issue && issue->table.rows.size() > 1) issue->table.Sort();
  }
}

// Whether an id is a table message depends on its usable id alone.
bool CollapsePlan::TableId(const std::string& id) const { return table_ids_.Contains(str::usable_id(id)); }

}  // namespace qorv::postprocessor::detail
