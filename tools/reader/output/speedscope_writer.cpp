#include "reader/output/speedscope_writer.h"

#include <fmt/format.h>
#include <rapidjson/filewritestream.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <optional>
#include <set>
#include <vector>

#include "reader/input/utf8.h"
#include "reader/model/run.h"

namespace kolvaprof::reader {
namespace {

using JsonWriter = rapidjson::Writer<rapidjson::FileWriteStream>;

struct ThreadSighting {
  ThreadKey key = 0;
  std::string name;
  std::set<std::size_t> files;
};

// First pass: the threads with events, in order of first sight, and the
// files they write to.
class ThreadFinder : public EventSink {
 public:
  void beginFile(const LogFileInfo& file) override { current = file.index; }
  void enter(const ThreadState& thread, const Entry& entry) override {
    see(thread);
    timed = timed || entry.time.has_value();
  }
  void exit(const ThreadState& thread, const Exit&) override { see(thread); }
  void finish(const CallStream& stream) override {
    for (const ThreadState& thread : stream.threads())
      if (thread.ordinal < filesByOrdinal.size() && !filesByOrdinal[thread.ordinal].empty())
        threads.push_back({thread.key, thread.name, filesByOrdinal[thread.ordinal]});
  }

  std::vector<ThreadSighting> threads;
  bool timed = false;  // the logs carry times

 private:
  void see(const ThreadState& thread) {
    if (filesByOrdinal.size() <= thread.ordinal) filesByOrdinal.resize(thread.ordinal + 1);
    std::set<std::size_t>& files = filesByOrdinal[thread.ordinal];
    if (files.empty() || *files.rbegin() != current) files.insert(current);
  }
  std::size_t current = 0;
  std::vector<std::set<std::size_t>> filesByOrdinal;
};

// One thread's events as an evented profile: at the records' times, from the
// start of the run, when the logs carry times, and otherwise one step apart.
class ProfileWriter : public EventSink {
 public:
  ProfileWriter(JsonWriter& w, const FrameTable& frames, const std::string& name, bool timed)
      : w(w), frames(frames), timed(timed) {
    w.StartObject();
    w.Key("type");
    w.String("evented");
    w.Key("name");
    w.String(validUtf8(name));
    w.Key("unit");
    w.String(timed ? "nanoseconds" : "none");
    w.Key("startValue");
    w.Int(0);
    w.Key("events");
    w.StartArray();
  }
  void enter(const ThreadState&, const Entry& entry) override {
    event("O", frames.nameOf(entry.frame), entry.time);
  }
  void exit(const ThreadState& thread, const Exit& exit) override {
    event("C", frames.nameOf(thread.stack.back()), exit.time);
  }
  void finish(const CallStream& stream) override {
    for (const ThreadState& thread : stream.threads())
      for (auto frame = thread.stack.rbegin(); frame != thread.stack.rend(); ++frame)
        event("C", frames.nameOf(*frame), thread.lastTime);
    w.EndArray();
    w.Key("endValue");
    w.Uint64(at);
    w.EndObject();
  }

 private:
  void event(const char* type, NameId frame, std::optional<std::int64_t> time) {
    // Never back: the viewer needs the events in order, and a damaged time
    // has been reported already.
    if (timed && time && *time > 0) at = std::max(at, static_cast<std::uint64_t>(*time));
    w.StartObject();
    w.Key("type");
    w.String(type);
    w.Key("frame");
    w.Uint(frame);
    w.Key("at");
    w.Uint64(timed ? at : at++);
    w.EndObject();
  }
  JsonWriter& w;
  const FrameTable& frames;
  bool timed;
  std::uint64_t at = 0;
};

}  // namespace

int writeSpeedscope(Run& run, Diagnostics& diagnostics, const WriterOptions& options, std::FILE* out) {
  ThreadFinder finder;
  run.read(finder, diagnostics, std::nullopt, nullptr, "finding threads");

  char buffer[1 << 16];
  rapidjson::FileWriteStream stream(out, buffer, sizeof buffer);
  JsonWriter w(stream);
  w.StartObject();
  w.Key("$schema");
  w.String("https://www.speedscope.app/file-format-schema.json");
  w.Key("name");
  w.String(validUtf8(options.runName));
  w.Key("exporter");
  w.String("kolvaprof-read " KOLVAPROF_VERSION);
  w.Key("activeProfileIndex");
  w.Int(0);
  w.Key("profiles");
  w.StartArray();
  Diagnostics again(true);  // the first pass has reported everything
  for (std::size_t i = 0; i < finder.threads.size(); ++i) {
    const ThreadSighting& thread = finder.threads[i];
    ProfileWriter profile(w, run.frames(), thread.name, finder.timed);
    const std::vector<std::size_t> files(thread.files.begin(), thread.files.end());
    run.read(profile, again, thread.key, &files, fmt::format("thread {}/{}", i + 1, finder.threads.size()));
  }
  w.EndArray();
  // Every frame was named in the first pass.
  w.Key("shared");
  w.StartObject();
  w.Key("frames");
  w.StartArray();
  const FrameTable& frames = run.frames();
  for (NameId name = 0; name < frames.nameCount(); ++name) {
    w.StartObject();
    w.Key("name");
    w.String(validUtf8(frames.name(name)));
    w.EndObject();
  }
  w.EndArray();
  w.EndObject();
  w.EndObject();
  stream.Put('\n');
  stream.Flush();
  return 0;
}

}  // namespace kolvaprof::reader
