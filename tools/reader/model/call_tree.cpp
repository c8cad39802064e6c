#include "reader/model/call_tree.h"

#include <algorithm>

#include "reader/input/diagnostics.h"

namespace kolvaprof::reader {

std::uint32_t CallTree::child(std::uint32_t parent, NameId name) {
  const std::uint64_t key = static_cast<std::uint64_t>(parent) << 32 | name;
  const auto found = children.find(key);
  if (found != children.end()) return found->second;
  const auto id = static_cast<std::uint32_t>(treeNodes.size());
  treeNodes.push_back({parent, name, 0, 0, 0, treeNodes[parent].depth + 1});
  children.emplace(key, id);
  return id;
}

void CallTree::enter(const ThreadState& thread, const Entry& entry) {
  if (stacks.size() <= thread.ordinal) stacks.resize(thread.ordinal + 1);
  std::vector<std::uint32_t>& stack = stacks[thread.ordinal];
  if (stack.empty()) stack.push_back(byThread ? child(kRoot, frames.internName(thread.name)) : kRoot);
  // The stack holds its root first, so its size is the depth of this call.
  const std::uint32_t node =
      maxDepth > 0 && stack.size() > maxDepth ? stack.back() : child(stack.back(), frames.nameOf(entry.frame));
  ++treeNodes[node].calls;
  stack.push_back(node);
}

void CallTree::exit(const ThreadState& thread, const Exit& exit) {
  std::vector<std::uint32_t>& stack = stacks[thread.ordinal];
  if (stack.size() <= 1) return;
  if (exit.self) {
    treeNodes[stack.back()].selfTime += static_cast<std::uint64_t>(*exit.self);
    sawTime = true;
  }
  stack.pop_back();
}

void CallTree::computeTotals() {
  for (Node& node : treeNodes) node.total = weight(node);
  for (std::size_t i = treeNodes.size() - 1; i > 0; --i) treeNodes[treeNodes[i].parent].total += treeNodes[i].total;
}

std::vector<std::vector<std::uint32_t>> CallTree::sortedChildren() const {
  std::vector<std::vector<std::uint32_t>> lists(treeNodes.size());
  for (std::uint32_t i = 1; i < treeNodes.size(); ++i) lists[treeNodes[i].parent].push_back(i);
  for (std::vector<std::uint32_t>& list : lists)
    std::sort(list.begin(), list.end(), [this](std::uint32_t a, std::uint32_t b) {
      return frames.name(treeNodes[a].name) < frames.name(treeNodes[b].name);
    });
  return lists;
}

void CallTree::fold(double percent) {
  computeTotals();
  const double least = percent / 100.0 * static_cast<double>(treeNodes[kRoot].total);
  // Parents come before their children, so one forward sweep renumbers them.
  std::vector<std::uint32_t> renumbered(treeNodes.size(), kRoot);
  std::vector<Node> kept{treeNodes[kRoot]};
  for (std::uint32_t i = 1; i < treeNodes.size(); ++i) {
    const Node& node = treeNodes[i];
    const bool parentKept = node.parent == kRoot || renumbered[node.parent] != kRoot;
    if (!parentKept) continue;
    if (static_cast<double>(node.total) < least) {
      Node& parent = kept[renumbered[node.parent]];
      (bySelfTime ? parent.selfTime : parent.calls) += node.total;
      continue;
    }
    renumbered[i] = static_cast<std::uint32_t>(kept.size());
    kept.push_back(node);
    kept.back().parent = renumbered[node.parent];
  }
  treeNodes = std::move(kept);
  children.clear();
  stacks.clear();
  computeTotals();
}

void requireTimes(const CallTree& tree) {
  if (tree.weighsSelfTime() && !tree.timed())
    throw ReaderError("the logs carry no times to weigh by; record them with RecordTime=1");
}

}  // namespace kolvaprof::reader
