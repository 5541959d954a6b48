#include "postprocessor/host/fwd.h"

namespace qorv {

std::vector<TreeLine> FwdNode::create_tree(std::vector<bool> flags, bool last) const {
  std::vector<bool> child_flags = flags;
  flags.push_back(last);
  std::vector<TreeLine> lines;
  lines.emplace_back(fwd ? fwd->name : std::string(), flags);

  if (last && !child_flags.empty()) child_flags.back() = false;
  child_flags.push_back(true);

  std::vector<const FwdNode*> children;
  for (const auto& group : dependencies) {
    for (const auto& child : group) {
      if (child) children.push_back(child.get());
    }
  }
  for (std::size_t i = 0; i < children.size(); ++i) {
    const bool final_child = i + 1 == children.size();
    if (final_child) child_flags.back() = false;
    auto sub = children[i]->create_tree(child_flags, final_child);
    lines.insert(lines.end(), std::make_move_iterator(sub.begin()), std::make_move_iterator(sub.end()));
  }
  return lines;
}

FWDAttributes::~FWDAttributes() {
  // A Fwd and its node hold each other, and a faulty definition set may
  // even depend on itself in a circle: cut every such link.
  for (auto& entry : fwds) {
    if (!entry.second || !entry.second->node) continue;
    entry.second->node->dependencies.clear();
    entry.second->node.reset();
  }
}

}  // namespace qorv
