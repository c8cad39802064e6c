#include "reader/output/flamegraph_writer.h"

#include <fmt/format.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "reader/input/utf8.h"
#include "reader/model/call_tree.h"
#include "reader/model/run.h"

namespace kolvaprof::reader {
namespace {

constexpr int kRowHeight = 16;
constexpr int kFontSize = 12;
constexpr double kCharWidth = kFontSize * 0.6;  // monospace
constexpr int kTop = 36;
constexpr int kBottom = 8;
constexpr int kMargin = 10;
constexpr double kNarrowest = 0.1;  // px; narrower boxes and everything above them are left out

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// Valid UTF-8 with &, <, >, " and ' escaped and control characters, which
// XML does not allow, replaced by U+FFFD.
std::string xmlText(std::string_view text) {
  std::string out;
  for (const char c : validUtf8(text)) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n') out += kReplacement;
        else out += c;
    }
  }
  return out;
}

// The warm colours of the classic flame graph, fixed per name so that one
// method has one colour everywhere.
std::string colour(const std::string& name) {
  const std::size_t h = std::hash<std::string>{}(name);
  return fmt::format("rgb({},{},{})", 205 + h % 51, 60 + (h >> 8) % 170, (h >> 16) % 56);
}

std::string label(const std::string& name, double width) {
  const auto fits = static_cast<std::size_t>((width - 6) / kCharWidth);
  if (fits < 3) return "";
  if (name.size() <= fits) return xmlText(name);
  return xmlText(name.substr(0, fits - 2)) + "..";
}

std::string milliseconds(std::uint64_t nanoseconds) {
  return fmt::format("{:.3f} ms", static_cast<double>(nanoseconds) / 1e6);
}

}  // namespace

void writeFlamegraphTree(CallTree& tree, const FlamegraphOptions& options, std::FILE* out) {
  tree.computeTotals();
  const auto& nodes = tree.nodes();
  const auto children = tree.sortedChildren();
  const FrameTable& frames = tree.frameTable();
  const std::uint64_t all = nodes[CallTree::kRoot].total;
  const double scale = all == 0 ? 0 : (options.width - 2.0 * kMargin) / static_cast<double>(all);

  struct Box {
    std::uint32_t node;
    double x;
  };
  // Lay out first: the height depends on the deepest box drawn.
  std::vector<Box> boxes;
  std::size_t deepest = 0;
  std::vector<Box> pending{{CallTree::kRoot, static_cast<double>(kMargin)}};
  while (!pending.empty()) {
    const Box box = pending.back();
    pending.pop_back();
    if (nodes[box.node].total * scale < kNarrowest && box.node != CallTree::kRoot) continue;
    boxes.push_back(box);
    deepest = std::max(deepest, nodes[box.node].depth);
    double x = box.x;
    for (const std::uint32_t child : children[box.node]) {
      pending.push_back({child, x});
      x += nodes[child].total * scale;
    }
  }
  const auto height = static_cast<int>(kTop + (deepest + 1) * kRowHeight + kBottom);

  fmt::memory_buffer svg;
  auto to = std::back_inserter(svg);
  fmt::format_to(to,
                 "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\n"
                 "<svg version=\"1.1\" width=\"{0}\" height=\"{1}\" viewBox=\"0 0 {0} {1}\" "
                 "xmlns=\"http://www.w3.org/2000/svg\">\n"
                 "<style>text {{ font-family: monospace; font-size: {2}px; fill: #000; }} "
                 "g.f:hover rect {{ stroke: #000; stroke-width: 0.7; }}</style>\n"
                 "<rect x=\"0\" y=\"0\" width=\"{0}\" height=\"{1}\" fill=\"#f8f8f8\"/>\n"
                 "<text x=\"{3}\" y=\"22\" text-anchor=\"middle\" style=\"font-size: 16px\">{4}</text>\n",
                 options.width, height, kFontSize, options.width / 2, xmlText(options.title));
  for (const Box& box : boxes) {
    const CallTree::Node& node = nodes[box.node];
    const std::string name = box.node == CallTree::kRoot ? "all" : frames.name(node.name);
    const double width = box.node == CallTree::kRoot ? options.width - 2.0 * kMargin : node.total * scale;
    const double y = height - kBottom - (static_cast<double>(node.depth) + 1) * kRowHeight;
    const double share = all == 0 ? 0 : 100.0 * static_cast<double>(node.total) / static_cast<double>(all);
    const bool byTime = tree.weighsSelfTime();
    fmt::format_to(to,
                   "<g class=\"f\"><title>{} \u2014 {} ({:.2f}%), {} at this stack</title>"
                   "<rect x=\"{:.2f}\" y=\"{:.0f}\" width=\"{:.2f}\" height=\"{}\" fill=\"{}\" rx=\"2\" ry=\"2\"/>",
                   xmlText(name), byTime ? milliseconds(node.total) : counted(node.total, "call"), share,
                   byTime ? milliseconds(node.selfTime) : std::to_string(node.calls), box.x, y, width, kRowHeight - 1,
                   box.node == CallTree::kRoot ? "rgb(230,150,80)" : colour(name));
    const std::string text = label(name, width);
    if (!text.empty()) fmt::format_to(to, "<text x=\"{:.2f}\" y=\"{:.0f}\">{}</text>", box.x + 3, y + kRowHeight - 4, text);
    fmt::format_to(to, "</g>\n");
    if (svg.size() > (1u << 16)) {
      std::fwrite(svg.data(), 1, svg.size(), out);
      svg.clear();
    }
  }
  fmt::format_to(to, "</svg>\n");
  std::fwrite(svg.data(), 1, svg.size(), out);
}

int writeFlamegraph(Run& run, Diagnostics& diagnostics, const WriterOptions& options, std::FILE* out) {
  CallTree tree(run.frames(), options.byThread, options.selfTime, options.maxDepth);
  run.read(tree, diagnostics);
  requireTimes(tree);
  if (options.minShare > 0) tree.fold(options.minShare);
  const std::string what = options.selfTime ? "Self time in " : "Calls in ";
  const FlamegraphOptions flamegraph{options.title.empty() ? what + options.runName : options.title, options.width};
  writeFlamegraphTree(tree, flamegraph, out);
  return 0;
}

}  // namespace kolvaprof::reader
