#include "postprocessor/host/fwd.h"

#include <unordered_set>

namespace qorv {

std::vector<TreeLine> FwdNode::create_tree(std::vector<bool> flags, bool last) const {
  // Depth first with an explicit stack, so a long dependency chain cannot
  // exhaust the call stack. A node already on the path from the top node is
  // a dependency cycle: it is listed, marked, and not descended into.
  struct Frame {
    const FwdNode* node;
    std::vector<bool> child_flags;
    std::vector<const FwdNode*> children;
    std::size_t next = 0;
  };
  std::vector<TreeLine> lines;
  std::vector<Frame> stack;
  std::unordered_set<const FwdNode*> on_path;

  // A cut line: the final child of a node whose children get child_flags.
  auto cut = [&lines](std::vector<bool> child_flags) {
    child_flags.back() = false;
    child_flags.push_back(true);
    lines.emplace_back(kTreeCutMark, std::move(child_flags));
  };

  auto visit = [&](const FwdNode* node, std::vector<bool> inherited, bool is_last) {
    std::vector<bool> line_flags = inherited;
    line_flags.push_back(is_last);
    std::string name = node->fwd ? node->fwd->name : std::string();
    if (on_path.count(node) != 0) {
      lines.emplace_back(name + kCycleMark, std::move(line_flags));
      return;
    }
    lines.emplace_back(std::move(name), std::move(line_flags));

    Frame frame{node, std::move(inherited), {}, 0};
    if (is_last && !frame.child_flags.empty()) frame.child_flags.back() = false;
    frame.child_flags.push_back(true);
    for (const auto& group : node->dependencies) {
      for (const auto& child : group) {
        if (child) frame.children.push_back(child.get());
      }
    }
    // The stack holds the path from the top node: its size is this node's depth.
    if (stack.size() == kTreeDepthLimit) {
      if (!frame.children.empty()) cut(std::move(frame.child_flags));
      return;
    }
    on_path.insert(node);
    stack.push_back(std::move(frame));
  };

  visit(this, std::move(flags), last);
  while (!stack.empty()) {
    Frame& top = stack.back();
    if (top.next == top.children.size()) {
      on_path.erase(top.node);
      stack.pop_back();
      continue;
    }
    if (lines.size() >= kTreeLineLimit) {
      cut(stack.front().child_flags);
      break;
    }
    const FwdNode* child = top.children[top.next++];
    const bool final_child = top.next == top.children.size();
    if (final_child) top.child_flags.back() = false;
    visit(child, top.child_flags, final_child);  // may reallocate the stack: top is not used after
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
