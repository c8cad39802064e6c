#include "reader/output/chrome_writer.h"

#include <rapidjson/filewritestream.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <optional>
#include <variant>

#include "reader/input/utf8.h"
#include "reader/model/run.h"

namespace kolvaprof::reader {

struct ChromeWriter::Json {
  explicit Json(std::FILE* out) : stream(out, buffer, sizeof buffer), writer(stream) {}
  char buffer[1 << 16];
  rapidjson::FileWriteStream stream;
  rapidjson::Writer<rapidjson::FileWriteStream> writer;
};

namespace {

// "ph", then "ts" when it has one (a count, or microseconds), "pid" and "tid"
// when it has one.
template <class Writer>
void eventHead(Writer& w, const char* phase, std::variant<std::monostate, std::uint64_t, double> ts,
               std::optional<std::uint64_t> tid) {
  w.Key("ph");
  w.String(phase);
  if (const auto* count = std::get_if<std::uint64_t>(&ts)) {
    w.Key("ts");
    w.Uint64(*count);
  } else if (const auto* microseconds = std::get_if<double>(&ts)) {
    w.Key("ts");
    w.Double(*microseconds);
  }
  w.Key("pid");
  w.Int(1);
  if (tid) {
    w.Key("tid");
    w.Uint64(*tid);
  }
}

// A "M" event naming the process or a thread.
template <class Writer>
void metadata(Writer& w, const char* what, std::optional<std::uint64_t> tid, const std::string& name) {
  w.StartObject();
  w.Key("name");
  w.String(what);
  eventHead(w, "M", std::monostate(), tid);
  w.Key("args");
  w.StartObject();
  w.Key("name");
  w.String(validUtf8(name));
  w.EndObject();
  w.EndObject();
}

}  // namespace

ChromeWriter::ChromeWriter(const FrameTable& frames, std::FILE* out, const std::string& processName,
                           std::size_t maxDepth)
    : frames(frames), json(std::make_unique<Json>(out)), maxDepth(maxDepth) {
  auto& w = json->writer;
  w.StartObject();
  w.Key("displayTimeUnit");
  w.String("ns");
  w.Key("traceEvents");
  w.StartArray();
  metadata(w, "process_name", std::nullopt, processName);
}

ChromeWriter::~ChromeWriter() = default;

const std::string& ChromeWriter::shownName(NameId name) {
  while (shownNames.size() <= name) shownNames.push_back(validUtf8(frames.name(shownNames.size())));
  return shownNames[name];
}

void ChromeWriter::enter(const ThreadState& thread, const Entry& entry) {
  if (maxDepth > 0 && thread.stack.size() > maxDepth) return;
  if (announced.size() <= thread.ordinal) announced.resize(thread.ordinal + 1);
  if (!announced[thread.ordinal]) {
    announced[thread.ordinal] = true;
    metadata(json->writer, "thread_name", thread.ordinal + 1, thread.name);
  }
  event("B", thread, entry.frame, entry.time);
}

void ChromeWriter::event(const char* phase, const ThreadState& thread, FrameId frame,
                         std::optional<std::int64_t> time) {
  auto& w = json->writer;
  w.StartObject();
  w.Key("name");
  w.String(shownName(frames.nameOf(frame)));
  if (time) {
    eventHead(w, phase, static_cast<double>(*time) / 1000.0, thread.ordinal + 1);
  } else {
    eventHead(w, phase, clock++, thread.ordinal + 1);
  }
  w.EndObject();
}

// Importers that pair events by name (speedscope) nest every later call
// inside one whose "E" they cannot match, so the "E" names its call as "B" did.
void ChromeWriter::endEvent(const ThreadState& thread, FrameId frame, std::optional<std::int64_t> time) {
  event("E", thread, frame, time);
}

void ChromeWriter::exit(const ThreadState& thread, const Exit& exit) {
  if (maxDepth > 0 && thread.stack.size() > maxDepth) return;
  endEvent(thread, thread.stack.back(), exit.time);
}

void ChromeWriter::finish(const CallStream& stream) {
  for (const ThreadState& thread : stream.threads()) {
    const std::size_t shown = maxDepth > 0 ? std::min(thread.stack.size(), maxDepth) : thread.stack.size();
    for (std::size_t depth = shown; depth > 0; --depth) endEvent(thread, thread.stack[depth - 1], thread.lastTime);
  }
  auto& w = json->writer;
  w.EndArray();
  w.EndObject();
  json->stream.Put('\n');
  json->stream.Flush();
}

int writeChrome(Run& run, Diagnostics& diagnostics, const WriterOptions& options, std::FILE* out) {
  ChromeWriter writer(run.frames(), out, "kolvaprof " + options.runName, options.maxDepth);
  run.read(writer, diagnostics);
  return 0;
}

}  // namespace kolvaprof::reader
