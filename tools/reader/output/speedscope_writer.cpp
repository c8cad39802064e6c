#include "reader/output/speedscope_writer.h"

#include <fmt/format.h>
#include <rapidjson/filewritestream.h>
#include <rapidjson/writer.h>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "reader/input/diagnostics.h"
#include "reader/input/utf8.h"
#include "reader/model/run.h"

namespace kolvaprof::reader {
namespace {

using JsonWriter = rapidjson::Writer<rapidjson::FileWriteStream>;

// One event of a profile as it waits for its turn in the spill file: its
// position ("at") and its frame, the top bit set for a close.
constexpr std::size_t kEventBytes = 12;
constexpr std::uint32_t kClose = 1u << 31;

struct ThreadProfile {
  ThreadKey key = 0;
  std::string name;
  std::uint64_t events = 0;
  std::uint64_t first = 0;  // of its events
  // Second pass: where its next event goes, and the position it has reached.
  std::uint64_t next = 0;
  std::uint64_t at = 0;
};

// What both passes see alike: the events of each thread that the profile
// shows, calls deeper than the limit left out, and the calls still open at
// the end closed there.
class ShownEvents : public EventSink {
 public:
  explicit ShownEvents(std::size_t maxDepth) : maxDepth(maxDepth) {}
  void enter(const ThreadState& thread, const Entry& entry) override {
    if (!cut(thread.stack.size())) event(thread, false, thread.stack.back(), entry.time);
  }
  void exit(const ThreadState& thread, const Exit& exit) override {
    if (!cut(thread.stack.size())) event(thread, true, thread.stack.back(), exit.time);
  }
  void finish(const CallStream& stream) override {
    for (const ThreadState& thread : stream.threads()) {
      const std::size_t shown = maxDepth > 0 ? std::min(thread.stack.size(), maxDepth) : thread.stack.size();
      for (std::size_t depth = shown; depth > 0; --depth)
        event(thread, true, thread.stack[depth - 1], thread.lastTime);
    }
  }

 protected:
  virtual void event(const ThreadState& thread, bool close, FrameId frame, std::optional<std::int64_t> time) = 0;

 private:
  bool cut(std::size_t depth) const { return maxDepth > 0 && depth > maxDepth; }
  std::size_t maxDepth;
};

// First pass: the threads with events, in order of first sight, and how many
// events each has.
class EventCounter : public ShownEvents {
 public:
  using ShownEvents::ShownEvents;
  std::vector<ThreadProfile> threads;  // by thread ordinal, those without events included
  bool timed = false;                  // the logs carry times

 protected:
  void event(const ThreadState& thread, bool, FrameId, std::optional<std::int64_t> time) override {
    if (threads.size() <= thread.ordinal) threads.resize(thread.ordinal + 1);
    ThreadProfile& profile = threads[thread.ordinal];
    if (profile.events++ == 0) {
      profile.key = thread.key;
      profile.name = thread.name;
    }
    timed = timed || time.has_value();
  }
};

// Second pass: every event at its place in the spill file, so that each
// thread's events come together however the threads' records interleave in
// the logs (all virtual threads share one file). A position is the record's
// time when the logs carry times, never going back, and otherwise a count
// of the thread's events.
class EventSpiller : public ShownEvents {
 public:
  EventSpiller(std::size_t maxDepth, std::vector<ThreadProfile>& threads, bool timed, char* spill)
      : ShownEvents(maxDepth), threads(threads), timed(timed), spill(spill) {}

 protected:
  void event(const ThreadState& thread, bool close, FrameId frame, std::optional<std::int64_t> time) override {
    if (thread.ordinal >= threads.size()) throw ReaderError("the run changed while it was read");
    ThreadProfile& profile = threads[thread.ordinal];
    if (profile.key != thread.key || profile.next == profile.first + profile.events)
      throw ReaderError("the run changed while it was read");
    // Never back: the viewer needs the events in order, and a damaged time
    // has been reported already.
    if (timed && time && *time > 0) profile.at = std::max(profile.at, static_cast<std::uint64_t>(*time));
    const std::uint64_t at = timed ? profile.at : profile.at++;
    const std::uint32_t word = frame | (close ? kClose : 0);
    char* slot = spill + profile.next++ * kEventBytes;
    std::memcpy(slot, &at, sizeof at);
    std::memcpy(slot + sizeof at, &word, sizeof word);
  }

 private:
  std::vector<ThreadProfile>& threads;
  bool timed;
  char* spill;
};

// A temporary file mapped into memory, gone when this is.
class SpillFile {
 public:
  explicit SpillFile(std::uint64_t bytes) : length(bytes) {
    if (length == 0) return;
    file = std::tmpfile();
    if (file == nullptr) throw ReaderError("cannot make a temporary file");
    if (::ftruncate(fileno(file), static_cast<off_t>(length)) != 0)
      throw ReaderError("cannot make a temporary file of " + counted(length, "byte"));
    void* mapped = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fileno(file), 0);
    if (mapped == MAP_FAILED) throw ReaderError("cannot map a temporary file of " + counted(length, "byte"));
    data = static_cast<char*>(mapped);
  }
  ~SpillFile() {
    if (data != nullptr) ::munmap(data, length);
    if (file != nullptr) std::fclose(file);
  }
  SpillFile(const SpillFile&) = delete;
  SpillFile& operator=(const SpillFile&) = delete;
  char* get() const { return data; }

 private:
  std::uint64_t length;
  std::FILE* file = nullptr;
  char* data = nullptr;
};

// "12.345678 ms" after the start of the run.
std::string fromStart(std::uint64_t nanoseconds) {
  return fmt::format("{:.6f} ms", static_cast<double>(nanoseconds) / 1e6);
}

// One thread's events as an evented profile.
void writeProfile(JsonWriter& w, const FrameTable& frames, const ThreadProfile& thread, const char* spill,
                  bool timed, bool commonStart) {
  std::uint64_t start = 0;
  if (timed && !commonStart && thread.events > 0) std::memcpy(&start, spill + thread.first * kEventBytes, sizeof start);
  w.StartObject();
  w.Key("type");
  w.String("evented");
  w.Key("name");
  w.String(validUtf8(timed && !commonStart ? thread.name + " (from " + fromStart(start) + ")" : thread.name));
  w.Key("unit");
  w.String(timed ? "nanoseconds" : "none");
  w.Key("startValue");
  w.Uint64(start);
  w.Key("events");
  w.StartArray();
  for (std::uint64_t i = thread.first; i < thread.first + thread.events; ++i) {
    std::uint64_t at;
    std::uint32_t word;
    std::memcpy(&at, spill + i * kEventBytes, sizeof at);
    std::memcpy(&word, spill + i * kEventBytes + sizeof at, sizeof word);
    w.StartObject();
    w.Key("type");
    w.String(word & kClose ? "C" : "O");
    w.Key("frame");
    w.Uint(frames.nameOf(word & ~kClose));
    w.Key("at");
    w.Uint64(at);
    w.EndObject();
  }
  w.EndArray();
  w.Key("endValue");
  w.Uint64(thread.at);
  w.EndObject();
}

}  // namespace

// Two passes over the logs, whatever the number of threads: one counts each
// thread's events, the other puts each event at its thread's place in a
// spill file, from which the profiles are written one after another.
int writeSpeedscope(Run& run, Diagnostics& diagnostics, const WriterOptions& options, std::FILE* out) {
  EventCounter counter(options.maxDepth);
  run.read(counter, diagnostics, std::nullopt, nullptr, "counting events");
  std::vector<ThreadProfile>& threads = counter.threads;
  std::uint64_t total = 0;
  for (ThreadProfile& thread : threads) {
    thread.first = thread.next = total;
    total += thread.events;
  }
  SpillFile spill(total * kEventBytes);
  if (total > 0) {
    EventSpiller spiller(options.maxDepth, threads, counter.timed, spill.get());
    Diagnostics again(true);  // the first pass has reported everything
    run.read(spiller, again, std::nullopt, nullptr, "sorting events");
  }
  for (const ThreadProfile& thread : threads)
    if (thread.next != thread.first + thread.events) throw ReaderError("the run changed while it was read");

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
  for (const ThreadProfile& thread : threads)
    if (thread.events > 0) writeProfile(w, run.frames(), thread, spill.get(), counter.timed, options.commonStart);
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
