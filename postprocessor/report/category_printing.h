// CategoryPrinting: the printer of the category report, the main report a
// user reads after a run.
//
// An extension builds it over a filled CategoryMap and the run data and
// calls its sections in the order it wants them: the run summary, the
// validation verdicts and the node counts, then the categories with their
// issues per subcluster or node group, in short or long form. Every section
// is written through the output log as whole blocks, without colour,
// wrapped to the run data's width. The map is not owned and must outlive
// the printer, which only reads it. No operation reports an error: missing data prints
// fewer lines. Single-threaded, like the output log.
#pragma once

#include <memory>
#include <string>

#include "postprocessor/collapse/category_map.h"
#include "postprocessor/collapse/collapsed_analysis_output.h"
#include "postprocessor/postprocessor_extension_data.h"
#include "postprocessor/support/export.h"
#include "postprocessor/text/string_interface.h"
#include "postprocessor/utility_functions.h"

namespace qorv::postprocessor {

class QORV_EXPORT CategoryPrinting : public StringInterface, public UtilityFunctions {
 public:
  // map must be non-null and outlive the printer; the run data is copied
  // (shared fields stay shared). long_format selects PrintIssueLong. The
  // summary and the node counts are the map's, counted as RunFacts counts
  // them: over the map of the run with tables, they are the run's facts.
  CategoryPrinting(const CategoryMap* map, const PostprocessorExtensionData& data, bool long_format = false);

  // "SUMMARY", the node filter note, the command line, the tests run, the
  // number of tests that failed to run, the overall result line and a rule.
  void PrintSummary();
  // "VALIDATION PASSED" / "VALIDATION FAILED" with the solution validations
  // of the root definitions, and a rule; nothing when there are none.
  void PrintValidation();
  // The numbers of tested nodes, nodes without issues and nodes with issues
  // (the last two only without a node filter), aligned, with their nodes in
  // range form, and a rule. A node reported by its long name (node1.example)
  // counts as the tested node of its short name (node1).
  void PrintNodes();

  // Every category of the map that is not a non-issue category, in order.
  void PrintCategories();
  // One category: title, introduction and its issues per subcluster or node
  // group. "ERROR" is titled "RUNTIME ERRORS"; "INFORMATIONAL" prints
  // nothing at all when it has no issues. A category without issues prints
  // its title and "No issues detected.".
  void PrintCategory(const std::string& category);
  // The category's blocks per subcluster, "default-subcluster" last as
  // "Remaining Nodes"; a single subcluster prints without a header.
  void PrintSubclusters(const std::string& category);
  // The category's blocks per node group, the groups whose names contain
  // "All" last; a single group prints without a header.
  void PrintNodeGroups(const std::string& category);
  // indent, title and ":", with the subcluster's nodes in range form when
  // only the default node group is defined.
  void PrintHeader(const std::string& title, const std::string& subcluster, const std::string& indent) const;
  // The numbered issues of (category, subcluster), numbers aligned, then an
  // empty line; indent and "No issues detected." when there are none.
  void PrintIssues(const std::string& category, const std::string& subcluster, const std::string& indent);
  // Short form: the issue's text after prefix, then its node line.
  void PrintIssue(std::shared_ptr<CollapsedAnalysisOutput> issue, std::string prefix);
  // prefix, the number of nodes and the nodes in range form.
  void PrintNodes(std::shared_ptr<CollapsedAnalysisOutput> issue, std::string prefix);
  // Long form: id, message, remedy, nodes and tests, then a table issue's
  // table lines.
  void PrintIssueLong(std::shared_ptr<CollapsedAnalysisOutput> issue, std::string prefix);

  const CategoryMap* cat_map;
  PostprocessorExtensionData run_data;
  bool long_format;
};

}  // namespace qorv::postprocessor
