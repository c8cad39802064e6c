#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "reader/model/call_stream.h"

namespace kolvaprof::reader {

// Calls merged by their stack: one node per distinct path from a root, with
// the number of calls made at exactly that path. Its size grows with the
// program's distinct stacks, not with the length of the trace.
class CallTree : public EventSink {
 public:
  static constexpr std::uint32_t kRoot = 0;

  struct Node {
    std::uint32_t parent = kRoot;
    NameId name = 0;
    std::uint64_t calls = 0;  // made at this path
    std::uint64_t total = 0;  // calls at this path and below; see computeTotals
    std::size_t depth = 0;
  };

  // byThread: each thread's calls hang below a node named after the thread.
  CallTree(FrameTable& frames, bool byThread) : frames(frames), byThread(byThread), treeNodes(1) {}

  void enter(const ThreadState& thread, const Entry& entry) override;
  void exit(const ThreadState& thread, const Exit& exit) override;

  const std::vector<Node>& nodes() const { return treeNodes; }
  // Fills Node::total; children come after their parents, so one backward
  // sweep does.
  void computeTotals();
  // The children of every node, ordered by name, so outputs do not depend on
  // the order in which paths were first seen.
  std::vector<std::vector<std::uint32_t>> sortedChildren() const;
  const FrameTable& frameTable() const { return frames; }

 private:
  std::uint32_t child(std::uint32_t parent, NameId name);

  FrameTable& frames;
  bool byThread;
  std::vector<Node> treeNodes;
  std::unordered_map<std::uint64_t, std::uint32_t> children;  // (parent, name) -> node
  std::vector<std::vector<std::uint32_t>> stacks;             // node path per thread ordinal
};

}  // namespace kolvaprof::reader
