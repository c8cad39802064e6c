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
  const std::uint32_t node = child(stack.back(), frames.nameOf(entry.frame));
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

void requireTimes(const CallTree& tree) {
  if (tree.weighsSelfTime() && !tree.timed())
    throw ReaderError("the logs carry no times to weigh by; record them with RecordTime=1");
}

}  // namespace kolvaprof::reader
