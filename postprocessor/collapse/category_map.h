// CategoryMap: a run's issues classified by category and subcluster, the
// base of the category report.
//
// An extension constructs one, fills categories and non_issue_categories
// (or lets the convenience constructor do it), calls PopulateSubclusters
// and PopulateIssues once each, in either order, and then asks questions.
// Issues are collapsed issues (type COLLAPSED, from the Collapser) filed
// under (category, subcluster); a key's vector is shared with every caller
// that received it from GetIssuesByCategory. Of an issue only its first
// record is consulted for id, suppressed flag, category and subcluster; an
// issue without one has "" for each and is not suppressed. Subclusters are
// the keys of subcluster_map; "" means an issue's subcluster is unknown and
// is never a subcluster of its own. No operation reports an error.
// Single-threaded: PopulateIssues writes the static MessageTable state.
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "postprocessor/collapse/collapsed_analysis_output.h"
#include "postprocessor/collapse/collapser.h"
#include "postprocessor/postprocessor_extension_data.h"
#include "postprocessor/support/export.h"
#include "postprocessor/utility_functions.h"

namespace qorv::postprocessor {

// The categories a run's map has besides its issues' own: tests that could
// not run, information that counts as no issue, and suppressed issues.
inline constexpr char kErrorCategory[] = "ERROR";
inline constexpr char kInformationalCategory[] = "INFORMATIONAL";
inline constexpr char kSuppressedCategory[] = "SUPPRESSED";

class QORV_EXPORT CategoryMap {
 public:
  using IssueVector = std::vector<std::shared_ptr<CollapsedAnalysisOutput>>;

  // The run's category map as the default reports classify it: the
  // categories are every category an issue of the run carries, plus
  // "ERROR" and "INFORMATIONAL"; subclusters and issues are populated, and
  // an issue whose record names no node group is filed under the node
  // group of its first node that has one (it stays under "" when none
  // has). tables keeps table messages apart (table_mode). The map of each
  // kind is built once per run and shared with every later caller that
  // passes a copy of the same run data; it is read-only to all of them, so
  // no extension can change what a later one reports. A run data whose
  // issue list was replaced, or built by hand, gets a map of its own. A map
  // with tables takes its table definitions from data.message_tables, one
  // without from MessageTable::table_map; neither writes table_map. Never
  // null.
  static std::shared_ptr<const CategoryMap> OfRun(const PostprocessorExtensionData& data, bool tables);

  // Everything empty, table_mode and all collapser options off.
  CategoryMap() = default;

  // The reported categories are category_names; "ERROR" (tests that could
  // not run) and "INFORMATIONAL" are non-issue categories, so neither is
  // counted as an issue whether or not category_names lists it. tables is
  // the table_mode; the collapser options all start off.
  explicit CategoryMap(const std::vector<std::string>& category_names, bool tables = false);

  // Collapses the run's issues (CollapseIssues) and files each collapsed
  // issue, in collapse order, under (category, subcluster): the category is
  // "SUPPRESSED" for a suppressed issue, else its own; the subcluster is
  // GetSubCategory, kept for suppressed issues too, except that an empty one
  // is "default-subcluster" when default_subcluster_only is set (the empty
  // node group key names the default group, as in PopulateSubclusters, and
  // lookups of "" then find the default group's issues). Each issue is first tied
  // to its Framework Definitions through GetOutputFWD (as a diagnosis when
  // its usable id is in diagnosis_ids, else as type COLLAPSED); a failure
  // there is written to standard error by GetOutputFWD and the issue is
  // filed all the same. Calling it twice files every issue twice.
  void PopulateIssues(const PostprocessorExtensionData& data);

  // Adds the subclusters and their nodes, in list order, duplicates kept:
  //  - when default_subcluster_only is set and nodes exists: each node under
  //    its group's name, or "default-subcluster" when that is empty;
  //  - otherwise, when node_groups exists: each group's node names under the
  //    group's name, groups in name order (null groups add nothing);
  //  - otherwise nothing.
  // Nothing is cleared first: calling it twice lists every node twice.
  void PopulateSubclusters(const PostprocessorExtensionData& data);

  // Switches on compare_suppressed, compare_category, compare_subcategory,
  // and compare_secondary without table_mode, or compare_id,
  // compare_message and use_tables with it (then MessageTable::table_map
  // becomes a copy of data.message_tables); never switches an option off.
  // Then collapses data.issues into out, appending.
  void CollapseIssues(const PostprocessorExtensionData& data, IssueVector& out);

  // The first record's subcategory; "" for a null issue or one without
  // records.
  std::string GetSubCategory(std::shared_ptr<CollapsedAnalysisOutput> issue) const;

  std::set<std::string> GetCategories() const;
  // The keys of subcluster_map.
  std::set<std::string> GetSubclusters() const;

  // The stored vector of the pair (shared: changing it changes the map), or
  // a new empty vector each time when the pair has none; the map is never
  // changed by the call. Where only the default node group is defined, ""
  // stands for "default-subcluster".
  std::shared_ptr<IssueVector> GetIssuesByCategory(const std::string& category, const std::string& subcluster);
  // The same lookup, read-only.
  std::shared_ptr<const IssueVector> GetIssuesByCategory(const std::string& category,
                                                         const std::string& subcluster) const;
  // GetIssuesByCategory("SUPPRESSED", ""): suppressed issues filed under a
  // named subcluster are not among them.
  std::shared_ptr<IssueVector> GetSuppressedIssues();
  std::shared_ptr<const IssueVector> GetSuppressedIssues() const;
  // The issues of every key, in key order (category, then subcluster).
  IssueVector GetAllIssues() const;

  // Issues filed under the category, in any subcluster ("" included).
  int GetNumIssuesByCategory(const std::string& category) const;
  // Issues filed under the category in the subclusters of GetSubclusters,
  // "" not included: what the overall result line counts.
  std::size_t GetNumIssuesInSubclusters(const std::string& category) const;
  // Issues of every key whose category is not a non-issue category, in any
  // subcluster ("" included), reported category or not.
  int GetNumIssuesFound() const;
  // True when a subcluster of GetSubclusters has an issue in the category;
  // issues with an unknown subcluster ("") are not seen.
  bool FoundIssues(const std::string& category) const;
  bool IsNonIssueCategory(const std::string& category) const;

  // The subcluster's node names, or an empty vector when it is unknown.
  std::vector<std::string> GetNodesInSubcluster(const std::string& subcluster) const;

  // Adds to issue_nodes, and returns a copy of it, the nodes of every issue
  // that is neither suppressed nor of a non-issue category (its own), filed
  // under a reported category for which FoundIssues holds, in a subcluster
  // or in "". The set is never cleared: it only grows over calls. Nothing
  // is added when there are no subclusters.
  std::set<std::string> GetIssueNodes();
  // The same nodes, read-only: issue_nodes together with those the
  // non-const call would add.
  std::set<std::string> GetIssueNodes() const;

  // "  Overall Result: " followed by, counting only issues in subclusters
  // of GetSubclusters and of reported categories that are not non-issue
  // categories:
  //  - "<n> issue(s) found -" and " <category> (<count>)" for each category
  //    with issues in ascending order, joined by ",", when n > 0;
  //  - else "Could not run all tests." when "ERROR" has an issue in a
  //    subcluster;
  //  - else "No issues found".
  // Control characters in category names are shown as escapes.
  std::string GetOverallResultString() const;

  bool table_mode = false;
  Collapser collapser;
  UtilityFunctions utility;
  std::map<std::pair<std::string, std::string>, std::shared_ptr<IssueVector>> issue_map;
  std::map<std::string, std::vector<std::string>> subcluster_map;
  std::set<std::string> categories;
  std::set<std::string> non_issue_categories;
  std::set<std::string> issue_nodes;

 private:
  // Set on the maps OfRun shares, whose issue nodes are gathered when they
  // are built.
  bool frozen_ = false;
  // Set by PopulateIssues where only the default node group is defined.
  bool default_group_ = false;

  // The table definitions the last collapse saw.
  std::map<std::string, std::vector<std::pair<std::string, std::string>>> tables_seen_;

  // The nodes GetIssueNodes adds to issue_nodes.
  void GatherIssueNodes(std::set<std::string>& nodes) const;
  // The key a lookup of (category, subcluster) reads.
  std::pair<std::string, std::string> LookupKey(const std::string& category, const std::string& subcluster) const;
  // The collapser options CollapseIssues switches on.
  void SwitchOnCollapseOptions();
  // Those options, and the table map.
  void SetCollapseOptions(const PostprocessorExtensionData& data);
  // Collapses data.issues under the collapser's options with the given
  // table definitions and files the issues as PopulateIssues does;
  // group_by_nodes files an issue without a node group under the group of
  // its first grouped node.
  void FileIssues(const PostprocessorExtensionData& data,
                  const std::map<std::string, std::vector<std::pair<std::string, std::string>>>& definitions,
                  bool group_by_nodes);
  // OfRun's map, built anew with the given table definitions, leaving
  // MessageTable::table_map as it is.
  static std::shared_ptr<CategoryMap> Build(
      const PostprocessorExtensionData& data, bool tables,
      const std::map<std::string, std::vector<std::pair<std::string, std::string>>>& definitions);
};

}  // namespace qorv::postprocessor
