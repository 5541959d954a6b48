// Framework Definitions of a run as the host hands them in: FWDAttributes
// holds every definition (Fwd) by name and the roots of the dependency trees
// (FwdNode). Plain records shared through std::shared_ptr.
//
// A Fwd and its tree node point at each other; FWDAttributes owns the graph
// and, when it is destroyed, cuts every Fwd's link to its node and the
// node's links to its dependencies, so nothing leaks, cycles included. It
// is therefore not copyable: share it through std::shared_ptr.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "postprocessor/host/issue_key.h"
#include "postprocessor/support/export.h"

namespace qorv {

// Extension library names and the directory in which to look for them.
struct ExtensionSpec {
  std::vector<std::string> names;
  std::string directory;
};

// Message catalogue file names and the directory string they lie in; a
// file's path is the directory immediately followed by its name.
struct FileGroup {
  std::vector<std::string> files;
  std::string directory;
};

struct FwdNode;

struct Fwd {
  std::string name;
  std::string path;  // the definition's file
  std::vector<ExtensionSpec> extension_specs;
  std::vector<FileGroup> catalog_files;
  std::string validation;  // solution validation name; empty for an ordinary definition
  bool pass = true;
  bool skipped = false;
  std::set<std::string> signs;
  std::map<postprocessor::IssueKey, int, postprocessor::CompareBitset> type_counts;
  std::shared_ptr<FwdNode> node;
};

// One tree line: a definition's name and its drawing flags, one per level.
// The last flag tells whether the node is the final one among its siblings;
// each earlier flag j tells whether the ancestor at depth j + 1 has siblings
// after it.
using TreeLine = std::pair<std::string, std::vector<bool>>;

// Appended to the name of a tree line that closes a dependency cycle.
inline constexpr const char kCycleMark[] = " (circular dependency)";

// Bounds of one drawn tree. A few dozen definitions may have millions of
// paths (each depending on the same two of the level below doubles them),
// and a chain thousands deep draws lines thousands of columns wide; real
// trees are a few levels deep and a few dozen lines long.
inline constexpr std::size_t kTreeDepthLimit = 64;    // levels below the top node
inline constexpr std::size_t kTreeLineLimit = 10000;  // lines before the tree is cut
// The name of the line that stands for what a bound leaves out.
inline constexpr const char kTreeCutMark[] = "... (more dependencies not shown)";

struct QORV_EXPORT FwdNode {
  std::shared_ptr<Fwd> fwd;
  // Dependency groups, in order; each holds the child nodes depended on.
  std::vector<std::vector<std::shared_ptr<FwdNode>>> dependencies;

  // Lines of this node's subtree, depth first, parent before children.
  // flags are the inherited flags; last says whether this node is the final
  // child of its parent. A node reached through several parents is listed
  // under each of them. A node that depends on itself, directly or through
  // others, ends the walk down that path: it is listed once more with
  // kCycleMark after its name, without its children.
  // Bounded: the children of a node kTreeDepthLimit levels below this one
  // are not listed; a line kTreeCutMark, its final child, stands for them.
  // Once kTreeLineLimit lines are listed, the walk ends with a line
  // kTreeCutMark as the final child of this node.
  std::vector<TreeLine> create_tree(std::vector<bool> flags, bool last) const;
};

struct QORV_EXPORT FWDAttributes {
  std::map<std::string, std::shared_ptr<Fwd>> fwds;
  std::vector<std::string> names;
  std::vector<std::shared_ptr<FwdNode>> roots;
  std::vector<std::shared_ptr<FwdNode>> dependents;
  std::vector<std::shared_ptr<FwdNode>> leaves;

  FWDAttributes() = default;
  FWDAttributes(const FWDAttributes&) = delete;
  FWDAttributes& operator=(const FWDAttributes&) = delete;
  ~FWDAttributes();
};

}  // namespace qorv
