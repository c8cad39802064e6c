#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "reader/model/call_stream.h"

namespace kolvaprof::reader {

// Calls merged by their stack: one node per distinct path from a root, with
// the number of calls made at exactly that path and, when the logs carry
// times, the self time spent there. Its size grows with the program's
// distinct stacks, not with the length of the trace.
class CallTree : public EventSink {
 public:
  static constexpr std::uint32_t kRoot = 0;

  struct Node {
    std::uint32_t parent = kRoot;
    NameId name = 0;
    std::uint64_t calls = 0;     // made at this path
    std::uint64_t selfTime = 0;  // nanoseconds, of the finished calls at this path
    std::uint64_t total = 0;     // weight at this path and below; see computeTotals
    std::size_t depth = 0;
  };

  // byThread: each thread's calls hang below a node named after the thread.
  // bySelfTime: a node weighs its self time rather than its calls.
  // maxDepth: calls deeper than this (0: no limit) count as calls and self
  // time of their ancestor at that depth, so the totals stay whole.
  CallTree(FrameTable& frames, bool byThread, bool bySelfTime = false, std::size_t maxDepth = 0)
      : frames(frames), byThread(byThread), bySelfTime(bySelfTime), maxDepth(maxDepth), treeNodes(1) {}

  void enter(const ThreadState& thread, const Entry& entry) override;
  void exit(const ThreadState& thread, const Exit& exit) override;

  const std::vector<Node>& nodes() const { return treeNodes; }
  std::uint64_t weight(const Node& node) const { return bySelfTime ? node.selfTime : node.calls; }
  bool weighsSelfTime() const { return bySelfTime; }
  // Whether any call had a duration: the logs carry times.
  bool timed() const { return sawTime; }
  // Fills Node::total; children come after their parents, so one backward
  // sweep does.
  void computeTotals();
  // The children of every node, ordered by name, so outputs do not depend on
  // the order in which paths were first seen.
  std::vector<std::vector<std::uint32_t>> sortedChildren() const;
  // Folds every node whose total is under `percent` of the whole, with all
  // below it, into its parent's own weight: the widths of the nodes kept do
  // not change. Fills Node::total. For after the reading.
  void fold(double percent);
  const FrameTable& frameTable() const { return frames; }

 private:
  std::uint32_t child(std::uint32_t parent, NameId name);

  FrameTable& frames;
  bool byThread;
  bool bySelfTime;
  std::size_t maxDepth;
  bool sawTime = false;
  std::vector<Node> treeNodes;
  std::unordered_map<std::uint64_t, std::uint32_t> children;  // (parent, name) -> node
  std::vector<std::vector<std::uint32_t>> stacks;             // node path per thread ordinal
};

// Throws ReaderError when the tree weighs self time but the logs carry no
// times to weigh.
void requireTimes(const CallTree& tree);

}  // namespace kolvaprof::reader
