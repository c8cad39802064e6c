#pragma once

// What every reader fuzzer does with a parsed stream: hand it to all the
// outputs at once, then write them to /dev/null.

#include <cstdio>
#include <vector>

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

}  // namespace kolvaprof::reader::fuzz
