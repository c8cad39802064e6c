#pragma once

// What every reader fuzzer does with a parsed stream: hand it to all the
// outputs at once, then write them to /dev/null.

#include <cstdio>
#include <string_view>
#include <vector>

#include "reader/input/run_directory.h"
#include "reader/model/call_stream.h"
#include "reader/model/call_tree.h"
#include "reader/output/chrome_writer.h"
#include "reader/output/collapsed_writer.h"
#include "reader/output/flamegraph_writer.h"
#include "reader/output/text_writer.h"

namespace kolvaprof::reader::fuzz {

inline std::FILE* devNull() {
  static std::FILE* file = std::fopen("/dev/null", "w");
  return file;
}

class AllOutputs : public EventSink {
 public:
  explicit AllOutputs(FrameTable& frames)
      : text(frames, devNull()), tree(frames, true), chrome(frames, devNull(), "fuzz") {}

  void beginFile(const LogFileInfo& file) override { text.beginFile(file); }
  void endFile(const LogFileInfo& file) override { text.endFile(file); }
  void enter(const ThreadState& thread, const Entry& entry) override {
    text.enter(thread, entry);
    tree.enter(thread, entry);
    chrome.enter(thread, entry);
  }
  void exit(const ThreadState& thread, const Exit& exit) override {
    text.exit(thread, exit);
    tree.exit(thread, exit);
    chrome.exit(thread, exit);
  }
  void finish(const CallStream& stream) override {
    chrome.finish(stream);
    writeCollapsedTree(tree, devNull());
    writeFlamegraphTree(tree, {}, devNull());
  }

 private:
  TextWriter text;
  CallTree tree;
  ChromeWriter chrome;
};

// Reads `input`, fed in two pieces cut at `cut`, with the parser that
// `makeParser(file, stream, diagnostics)` gives, through every output; then
// lets `after(stream, diagnostics)` look at the end.
template <typename MakeParser, typename After>
void readInTwoPieces(const Index& index, std::string_view input, std::size_t cut, MakeParser makeParser,
                     After after) {
  Diagnostics diagnostics;
  FrameTable frames(&index);
  AllOutputs outputs(frames);
  CallStream stream(frames, index, diagnostics, outputs);
  const LogFileInfo file{0, "main.log", "", input.size()};
  stream.beginFile(file);
  auto parser = makeParser(file, stream, diagnostics);
  parser.feed(input.substr(0, cut));
  parser.feed(input.substr(cut));
  parser.finish();
  stream.endFile(file);
  stream.finish();
  after(stream, diagnostics);
}

}  // namespace kolvaprof::reader::fuzz
