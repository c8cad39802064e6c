#include "reader/output/collapsed_writer.h"

#include <fmt/format.h>

#include <string>
#include <utility>
#include <vector>

#include "format/name_escape.h"
#include "reader/model/call_tree.h"
#include "reader/model/run.h"

namespace kolvaprof::reader {
namespace {

// Folded stacks have no escapes of their own: ";" parts the frames and a line
// feed ends the stack. Thread names (and frames read from damaged logs) may
// hold either, so a frame is written as Index.dat writes a name, with ";" as
// "\x3b" besides; the backslash is escaped too, so the text stays unambiguous.
void appendFrame(std::string& path, const std::string& name) {
  for (const char c : name) {
    if (c == ';' || needsEscape(c)) appendEscapedByte(path, c);
    else path.push_back(c);
  }
}

}  // namespace

void writeCollapsedTree(const CallTree& tree, std::FILE* out) {
  const auto& nodes = tree.nodes();
  const auto children = tree.sortedChildren();
  const FrameTable& frames = tree.frameTable();
  // Depth-first without recursion: stacks of real programs (and garbage) can
  // be deeper than the C++ stack.
  std::vector<std::pair<std::uint32_t, std::size_t>> pending;  // node, length of `path` before it
  for (auto it = children[CallTree::kRoot].rbegin(); it != children[CallTree::kRoot].rend(); ++it)
    pending.emplace_back(*it, 0);
  std::string path;
  fmt::memory_buffer buffer;
  while (!pending.empty()) {
    const auto [node, prefix] = pending.back();
    pending.pop_back();
    path.resize(prefix);
    if (prefix > 0) path.push_back(';');
    appendFrame(path, frames.name(nodes[node].name));
    if (tree.weight(nodes[node]) > 0)
      fmt::format_to(std::back_inserter(buffer), "{} {}\n", path, tree.weight(nodes[node]));
    if (buffer.size() > (1u << 16)) {
      std::fwrite(buffer.data(), 1, buffer.size(), out);
      buffer.clear();
    }
    for (auto it = children[node].rbegin(); it != children[node].rend(); ++it) pending.emplace_back(*it, path.size());
  }
  std::fwrite(buffer.data(), 1, buffer.size(), out);
}

int writeCollapsed(Run& run, Diagnostics& diagnostics, const WriterOptions& options, std::FILE* out) {
  CallTree tree(run.frames(), options.byThread, options.selfTime, options.maxDepth);
  run.read(tree, diagnostics);
  requireTimes(tree);
  if (options.minShare > 0) tree.fold(options.minShare);
  writeCollapsedTree(tree, out);
  return 0;
}

}  // namespace kolvaprof::reader
