#include "postprocessor/collapse/mapping.h"

#include <algorithm>
#include <iostream>
#include <map>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "postprocessor/collapse/collapsed_analysis_output.h"
#include "postprocessor/collapse/issue_index.h"
#include "postprocessor/host/str.h"
#include "postprocessor/run_share.h"
#include "postprocessor/text/string_interface.h"
#include "postprocessor/utility_functions.h"

namespace qorv::postprocessor {

namespace {

const std::vector<std::string>* FindSigns(const std::shared_ptr<IdMap>& map, std::string_view usable_id) {
  if (!map) return nullptr;
  const auto found = map->find(std::string(usable_id));
  return found == map->end() ? nullptr : &found->second;
}

// Writes a mapping error, once per run where the run data has a share: the
// line scripts know, then which map lacks the id and what to add there.
void ReportUnmapped(const PostprocessorExtensionData& data, const std::string& line, std::string_view usable_id,
                    const char* map, const std::string& definition) {
  if (detail::RunShare* share = detail::ShareOf(data); share && !share->reported_errors.insert(line).second) return;
  std::cerr << line << "  Add " << str::escape_controls(usable_id, false) << " to " << map;
  if (!definition.empty()) {
    std::cerr << "; it was being checked against Framework Definition " << str::escape_controls(definition, false);
  }
  std::cerr << ".\n";
}

constexpr char kObservationMap[] =
    "the run's observation sign map (observation_ids), with the names of the signs that produce it";
constexpr char kDiagnosisMap[] =
    "the run's diagnosis sign map (diagnosis_ids), with the ids of the issues that trigger it";

// Whether the definition covers one of the signs.
bool CoversASign(const Fwd& fwd, const std::vector<std::string>& signs) {
  return std::any_of(signs.begin(), signs.end(),
                     [&fwd](const std::string& sign) { return fwd.signs.count(sign) != 0; });
}

// The collapsed issues of group, in order, whose usable id is in signs,
// each as many times as signs lists its id: through the index when there
// is one, else by walking the group.
void AppendListed(const CollapsedIssues& group, const IssueKey& key, const std::vector<std::string>& signs,
                  const detail::UsableIdIndex* index, std::vector<std::shared_ptr<CollapsedAnalysisOutput>>& out) {
  if (!index) {
    for (const auto& issue : group) {
      const std::string_view usable_id = str::usable_id(detail::FirstId(*issue));
      for (const auto& sign : signs) {
        if (sign == usable_id) out.push_back(issue);
      }
    }
    return;
  }
  std::unordered_map<std::string, std::size_t> listed;
  for (const auto& sign : signs) ++listed[sign];
  std::vector<std::pair<std::size_t, std::size_t>> matches;  // position, times listed
  for (const auto& [sign, times] : listed) {
    if (const auto* positions = index->Find(key, sign)) {
      for (std::size_t position : *positions) matches.emplace_back(position, times);
    }
  }
  std::sort(matches.begin(), matches.end());
  for (const auto& [position, times] : matches) out.insert(out.end(), times, group[position]);
}

// Walks the dependencies of fwd depth first, remembering each definition's
// observations, and refuses a cycle instead of going round without end.
// The walk keeps its own stack, so a chain of any depth fits in memory
// rather than in the thread's stack.
class ObservationCollector {
 public:
  using Links = std::vector<std::shared_ptr<CollapsedAnalysisOutput>>;

  ObservationCollector(const UtilityFunctions& utility, const PostprocessorExtensionData& data)
      : utility_(utility), data_(data) {}

  // Appends fwd's observations and then those of its dependencies not
  // held yet (by first record's id, severity and message) to out. Returns
  // 1 at the first observation without a sign list or at a cycle.
  int Collect(const Fwd& fwd, Links& out) {
    std::vector<std::unique_ptr<Frame>> stack;
    int result = Enter(fwd, out, stack);
    while (result != kFailed && !stack.empty()) {
      Frame& frame = *stack.back();
      const auto& groups = frame.fwd->node->dependencies;
      if (frame.group < groups.size()) {
        const auto& group = groups[frame.group];
        if (frame.child == group.size()) {
          ++frame.group;
          frame.child = 0;
          continue;
        }
        const auto& child = group[frame.child++];
        if (!child || !child->fwd) continue;
        frame.collected.clear();
        result = Enter(*child->fwd, frame.collected, stack);
        if (result == kDone) Merge(frame);
        continue;
      }
      // Every dependency is in: this definition is done, and its list is
      // the next dependency result of the one below it.
      Finish(frame);
      stack.pop_back();
      if (!stack.empty()) Merge(*stack.back());
    }
    return result == kFailed ? 1 : 0;
  }

 private:
  // One definition whose dependencies are being collected.
  struct Frame {
    const Fwd* fwd = nullptr;
    Links* out = nullptr;   // its list: its own observations, then merged ones
    std::size_t start = 0;  // where its list begins in out
    // What out holds from start on, by identity; made at the first merge,
    // since most definitions depend on none.
    std::unordered_set<detail::IssueIdentity, detail::IssueIdentityHash> held;
    bool held_made = false;
    std::size_t group = 0;  // next dependency: group and child
    std::size_t child = 0;
    Links collected;  // the result of the dependency being visited
  };

  enum Outcome { kDone, kEntered, kFailed };

  // Starts on fwd with its list going to out: kDone when the list is
  // complete at once (known before, or no dependencies), kEntered when a
  // frame was pushed for its dependencies, kFailed on an error.
  Outcome Enter(const Fwd& fwd, Links& out, std::vector<std::unique_ptr<Frame>>& stack) {
    if (on_path_.count(&fwd)) {
      ReportCycle(fwd);
      return kFailed;
    }
    if (const auto known = done_.find(&fwd); known != done_.end()) {
      out.insert(out.end(), known->second.begin(), known->second.end());
      return kDone;
    }
    auto frame = std::make_unique<Frame>();
    frame->fwd = &fwd;
    frame->out = &out;
    frame->start = out.size();
    path_.push_back(&fwd);
    on_path_.insert(&fwd);
    if (CollectOwn(fwd, out) == 1) return kFailed;
    if (!fwd.node) {
      Finish(*frame);
      return kDone;
    }
    stack.push_back(std::move(frame));
    return kEntered;
  }

  int CollectOwn(const Fwd& fwd, Links& out) {
    for (const auto& group : severity_groups) {
      for (unsigned long type_bits : {1UL, 2UL}) {
        const CollapsedIssues* issues = detail::FindGroup(data_, detail::GroupKey(group, type_bits, data_.fail_level));
        if (!issues) continue;
        for (const auto& issue : *issues) {
          // ObservationFromFWD's answer, with the sign list looked up once
          // per usable id.
          const std::string_view usable_id = str::usable_id(detail::FirstId(*issue));
          auto known = signs_.find(usable_id);
          if (known == signs_.end())
            known = signs_.emplace(usable_id, FindSigns(data_.observation_ids, usable_id)).first;
          if (!known->second) {
            bool found = false;
            if (utility_.ObservationFromFWD(issue, fwd, data_, found) == 1) return 1;
          }
          if (known->second && CoversASign(fwd, *known->second)) out.push_back(issue);
        }
      }
    }
    return 0;
  }

  // Adds the dependency result in frame.collected that frame does not hold.
  static void Merge(Frame& frame) {
    if (!frame.held_made) {
      for (auto it = frame.out->begin() + static_cast<std::ptrdiff_t>(frame.start); it != frame.out->end(); ++it) {
        frame.held.insert(detail::IssueIdentity::Of(**it));
      }
      frame.held_made = true;
    }
    for (const auto& issue : frame.collected) {
      if (frame.held.insert(detail::IssueIdentity::Of(*issue)).second) frame.out->push_back(issue);
    }
  }

  void Finish(const Frame& frame) {
    path_.pop_back();
    on_path_.erase(frame.fwd);
    done_[frame.fwd].assign(frame.out->begin() + static_cast<std::ptrdiff_t>(frame.start), frame.out->end());
  }

  // A long cycle is named by its first members and its length, on one line.
  void ReportCycle(const Fwd& fwd) {
    constexpr std::size_t kNamed = 5;
    auto it = std::find(path_.begin(), path_.end(), &fwd);
    const auto members = static_cast<std::size_t>(path_.end() - it);
    std::string problem = "the Framework Definitions depend on each other in a cycle";
    if (members > kNamed) problem += " of " + std::to_string(members) + " definitions";
    problem += ": ";
    for (std::size_t k = 0; k < kNamed && it != path_.end(); ++k, ++it) problem += (*it)->name + " -> ";
    if (members > kNamed) problem += "... -> ";
    std::cerr << "Error: " << str::escape_controls(problem + fwd.name, false) << "\n";
  }

  const UtilityFunctions& utility_;
  const PostprocessorExtensionData& data_;
  std::vector<const Fwd*> path_;
  std::unordered_set<const Fwd*> on_path_;
  std::unordered_map<const Fwd*, Links> done_;
  std::unordered_map<std::string_view, const std::vector<std::string>*> signs_;  // by usable id
};

}  // namespace

int UtilityFunctions::map_sign(const std::string& usable_id, std::vector<std::string>& signs,
                               const PostprocessorExtensionData& data) const {
  const auto* found = FindSigns(data.observation_ids, usable_id);
  if (!found) return 1;
  signs = *found;
  return 0;
}

int UtilityFunctions::ObservationFromFWD(std::shared_ptr<CollapsedAnalysisOutput> issue, const Fwd& fwd,
                                         const PostprocessorExtensionData& data, bool& found) const {
  found = false;
  const auto* signs = FindSigns(data.observation_ids, str::usable_id(detail::FirstId(*issue)));
  if (!signs) {
    ReportUnmapped(data,
                   "Error mapping observation " + str::escape_controls(issue->get_id(), false) +
                       " to the rule/Framework Definition that triggered it.\n",
                   str::usable_id(detail::FirstId(*issue)), kObservationMap, fwd.name);
    return 1;
  }
  found = CoversASign(fwd, *signs);
  return 0;
}

int UtilityFunctions::DiagnosisMapping(std::shared_ptr<CollapsedAnalysisOutput> diagnosis,
                                       const PostprocessorExtensionData& data,
                                       std::vector<std::shared_ptr<CollapsedAnalysisOutput>>& out, Type type) const {
  return detail::DiagnosisMapping(*diagnosis, data, nullptr, out, type);
}

int UtilityFunctions::GetOutputFWD(std::shared_ptr<CollapsedAnalysisOutput> issue, Type type,
                                   const PostprocessorExtensionData& data) const {
  return detail::GetOutputFWD(issue, type, data, nullptr);
}

int UtilityFunctions::PopulateCollapsedOutput(std::shared_ptr<CollapsedAnalysisOutput> issue, Type type,
                                              const PostprocessorExtensionData& data) const {
  return detail::PopulateCollapsedOutput(issue, type, data, nullptr);
}

namespace detail {

int PopulateCollapsedOutput(const std::shared_ptr<CollapsedAnalysisOutput>& issue, Type type,
                            const PostprocessorExtensionData& data, const UsableIdIndex* index) {
  if (type != DIAGNOSIS) return GetOutputFWD(issue, type, data, index);

  // The observations that give a diagnosis its definitions are also its
  // first links: look them up once.
  std::vector<std::shared_ptr<CollapsedAnalysisOutput>> triggers;
  if (DiagnosisMapping(*issue, data, index, triggers, OBSERVATION) == 1) return 1;
  if (AddDefinitionsOf(*issue, triggers, data) == 1) return 1;
  if (DiagnosisMapping(*issue, data, index, triggers, DIAGNOSIS) == 1) return 1;
  for (const auto& trigger : triggers) {
    issue->related[trigger->type].insert(trigger);
    if (trigger->type == DIAGNOSIS) {
      trigger->triggered_diagnoses.insert(issue);
    } else {
      trigger->related[DIAGNOSIS].insert(issue);
    }
  }
  return 0;
}

int DiagnosisMapping(const CollapsedAnalysisOutput& diagnosis, const PostprocessorExtensionData& data,
                     const UsableIdIndex* index, std::vector<std::shared_ptr<CollapsedAnalysisOutput>>& out,
                     Type type) {
  // Looked up once; a missing entry counts only when a group has issues.
  const auto* signs = FindSigns(data.diagnosis_ids, str::usable_id(FirstId(diagnosis)));
  for (const auto& group : severity_groups) {
    const IssueKey key = GroupKey(group, static_cast<unsigned long>(type), data.fail_level);
    const CollapsedIssues* issues = FindGroup(data, key);
    if (!issues || issues->empty()) continue;
    if (!signs) {
      ReportUnmapped(data,
                     "Error mapping diagnosis " + str::escape_controls(diagnosis.get_id(), false) +
                         " to the signs that triggered it.\n",
                     str::usable_id(FirstId(diagnosis)), kDiagnosisMap, "");
      return 1;
    }
    AppendListed(*issues, key, *signs, index, out);
  }
  return 0;
}

int GetOutputFWD(const std::shared_ptr<CollapsedAnalysisOutput>& issue, Type type,
                 const PostprocessorExtensionData& data, const UsableIdIndex* index) {
  std::vector<std::shared_ptr<CollapsedAnalysisOutput>> candidates;
  if (type == DIAGNOSIS) {
    if (DiagnosisMapping(*issue, data, index, candidates, OBSERVATION) == 1) return 1;
  } else {
    candidates.push_back(issue);
  }
  return AddDefinitionsOf(*issue, candidates, data);
}

int AddDefinitionsOf(CollapsedAnalysisOutput& issue,
                     const std::vector<std::shared_ptr<CollapsedAnalysisOutput>>& candidates,
                     const PostprocessorExtensionData& data) {
  // What ObservationFromFWD answers depends only on the candidate's usable
  // id, and a diagnosis's candidates share few ids: ask once per id.
  struct Outcome {
    bool unknown = false;                      // the id has no sign list
    std::vector<const std::string*> covering;  // definitions covering one of its signs
  };
  std::unordered_map<std::string_view, Outcome> outcomes;
  const auto& fwds = data.fwd_attributes->fwds;

  bool failed = false;
  for (const auto& candidate : candidates) {
    const std::string_view usable_id = str::usable_id(detail::FirstId(*candidate));
    auto known = outcomes.find(usable_id);
    if (known == outcomes.end()) {
      Outcome outcome;
      const auto* signs = FindSigns(data.observation_ids, usable_id);
      outcome.unknown = signs == nullptr;
      for (const auto& [name, fwd] : fwds) {
        if (signs && fwd && CoversASign(*fwd, *signs)) {
          outcome.covering.push_back(&name);
        }
      }
      known = outcomes.emplace(usable_id, std::move(outcome)).first;
    }
    if (known->second.unknown) {
      // The walk asks the first definition the issue does not name yet, and
      // that question fails; with none left to ask, nothing is reported.
      const auto asked = std::find_if(
          fwds.begin(), fwds.end(), [&](const auto& entry) { return entry.second && !issue.fwds.count(entry.first); });
      if (asked != fwds.end()) {
        ReportUnmapped(data,
                       "Error mapping observation " + str::escape_controls(candidate->get_id(), false) +
                           " to the rule/Framework Definition that triggered it.\n",
                       usable_id, kObservationMap, asked->first);
        failed = true;
      }
      continue;
    }
    for (const std::string* name : known->second.covering) issue.fwds.insert(*name);
  }
  return failed ? 1 : 0;
}

}  // namespace detail

int UtilityFunctions::FWDObservations(const Fwd& fwd, const PostprocessorExtensionData& data,
                                      std::vector<std::shared_ptr<CollapsedAnalysisOutput>>& out) const {
  return ObservationCollector(*this, data).Collect(fwd, out);
}

namespace {

// PopulateFWD once fwd's observations are collected.
int CountObservations(Fwd& fwd, const std::vector<std::shared_ptr<CollapsedAnalysisOutput>>& observations,
                      const PostprocessorExtensionData& data) {
  if (observations.empty()) return 0;

  StringInterface strings;
  std::unordered_set<std::string_view> observed_ids;
  std::unordered_map<int, unsigned long> code_of;  // severity group code by severity
  for (const auto& observation : observations) {
    const int severity = observation->get_severity();
    if (severity >= data.fail_level) fwd.pass = false;
    auto known = code_of.find(severity);
    if (known == code_of.end()) {
      const auto group = severity_groups.find(str::lower(strings.get_severity_string(severity)));
      const unsigned long code =
          group == severity_groups.end() ? 0UL : static_cast<unsigned long>(std::get<2>(group->second));
      known = code_of.emplace(severity, code).first;
    }
    ++fwd.type_counts[MakeIssueKey(kAnyObservation, known->second, severity >= data.fail_level)];
    observed_ids.insert(str::usable_id(detail::FirstId(*observation)));
  }

  if (!data.collapsed_by_type) return 0;
  for (const auto& group : severity_groups) {
    const IssueKey key = detail::GroupKey(group, DIAGNOSIS, data.fail_level);
    const CollapsedIssues* diagnoses = detail::FindGroup(data, key);
    if (!diagnoses) continue;
    for (const auto& diagnosis : *diagnoses) {
      const auto* signs = FindSigns(data.diagnosis_ids, str::usable_id(detail::FirstId(*diagnosis)));
      if (!signs) {
        ReportUnmapped(data,
                       "Error mapping diagnosis " + str::escape_controls(diagnosis->get_id(), false) +
                           " to the observation(s) that triggered it.\n",
                       str::usable_id(detail::FirstId(*diagnosis)), kDiagnosisMap, fwd.name);
        return 1;
      }
      // Counted once when any of the observations is listed among its signs.
      if (std::any_of(signs->begin(), signs->end(), [&](const std::string& id) { return observed_ids.count(id); })) {
        ++fwd.type_counts[key];
      }
    }
  }
  return 0;
}

}  // namespace

int UtilityFunctions::PopulateFWD(Fwd& fwd, const PostprocessorExtensionData& data) const {
  std::vector<std::shared_ptr<CollapsedAnalysisOutput>> observations;
  if (FWDObservations(fwd, data, observations) == 1) return 1;
  return CountObservations(fwd, observations, data);
}

namespace detail {

int PopulateFWDs(const UtilityFunctions& utility, const PostprocessorExtensionData& data) {
  // One collector for all: a definition's list is gathered once and then
  // reused by every definition that depends on it, where a collector per
  // definition walks the whole chain below each one again.
  ObservationCollector collector(utility, data);
  for (const auto& entry : data.fwd_attributes->fwds) {
    if (!entry.second) continue;
    std::vector<std::shared_ptr<CollapsedAnalysisOutput>> observations;
    if (collector.Collect(*entry.second, observations) == 1) return 1;
    if (CountObservations(*entry.second, observations, data) == 1) return 1;
  }
  return 0;
}

}  // namespace detail

}  // namespace qorv::postprocessor
