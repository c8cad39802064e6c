#include "reader/output/text_writer.h"

#include <filesystem>

#include "reader/input/diagnostics.h"
#include "reader/input/run_directory.h"
#include "reader/model/run_reader.h"

namespace kolvaprof::reader {

TextWriter::TextWriter(const FrameTable& frames, std::FILE* out, std::string outputDirectory)
    : frames(frames), out(out), outputDirectory(std::move(outputDirectory)) {
  if (this->outputDirectory.empty()) return;
  std::error_code error;
  std::filesystem::create_directories(this->outputDirectory, error);
  if (error) throw ReaderError("cannot create " + this->outputDirectory + ": " + error.message());
}

TextWriter::~TextWriter() {
  if (file != nullptr && file != out) std::fclose(file);
}

void TextWriter::beginFile(const LogFileInfo& log) {
  headed.clear();
  if (outputDirectory.empty()) {
    file = out;
    fmt::format_to(std::back_inserter(buffer), "== {}\n", log.name);
    return;
  }
  const std::string path = outputDirectory + "/" + log.name;
  file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) throw ReaderError("cannot write " + path);
}

void TextWriter::endFile(const LogFileInfo&) {
  flush(true);
  if (file != out && std::fclose(file) != 0) throw ReaderError("cannot write the text of a log file");
  file = nullptr;
}

void TextWriter::flush(bool force) {
  if (buffer.size() < (1u << 16) && !force) return;
  if (std::fwrite(buffer.data(), 1, buffer.size(), file) != buffer.size()) throw ReaderError("write error");
  buffer.clear();
}

// The agent writes a thread's header just before its first record in a file.
void TextWriter::prefix(const ThreadState& thread) {
  if (thread.number < 0) return;
  if (thread.named && headed.insert(thread.key).second)
    fmt::format_to(std::back_inserter(buffer), "@thread {} = \"{}\"\n", thread.number, thread.name);
  fmt::format_to(std::back_inserter(buffer), "@{} ", thread.number);
}

void TextWriter::enter(const ThreadState& thread, const Entry& entry) {
  prefix(thread);
  auto to = std::back_inserter(buffer);
  if (entry.callNumber) fmt::format_to(to, "{} ", *entry.callNumber);
  if (entry.location) fmt::format_to(to, "From:{} ", *entry.location);
  const MethodName& m = frames.method(entry.frame);
  fmt::format_to(to, "{} {}.{}({}).{}({}){{\n", m.returnType, m.packageName, m.className, entry.tag, m.methodName,
                 m.parameters);
  flush(false);
}

void TextWriter::exit(const ThreadState& thread, const Exit& exit) {
  if (exit.implicit) return;
  prefix(thread);
  if (exit.exception)
    fmt::format_to(std::back_inserter(buffer), "}} {}\n", *exit.exception);
  else
    fmt::format_to(std::back_inserter(buffer), "}}\n");
  flush(false);
}

int writeText(Run& run, Diagnostics& diagnostics, const WriterOptions& options, std::FILE* out) {
  TextWriter writer(run.frames(), out, options.outputDirectory);
  run.read(writer, diagnostics);
  return 0;
}

}  // namespace kolvaprof::reader
