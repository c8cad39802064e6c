#include "reader/output/text_writer.h"

#include <filesystem>

#include "format/text_line.h"
#include "reader/input/diagnostics.h"
#include "reader/input/run_directory.h"
#include "reader/model/run.h"

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
    buffer.append("== ").append(log.name).append("\n");
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
void TextWriter::header(const ThreadState& thread) {
  if (thread.number >= 0 && thread.named && headed.insert(thread.key).second)
    buffer += makeThreadHeaderLine(thread.number, thread.name);
}

void TextWriter::enter(const ThreadState& thread, const Entry& entry) {
  header(thread);
  const MethodName& m = frames.method(entry.frame);
  appendTextEntryLine(buffer, TextEntry{{m.returnType, m.packageName, m.className, m.methodName, m.parameters},
                                       {entry.tag, thread.number >= 0, thread.number, entry.callNumber.has_value(),
                                        entry.callNumber.value_or(0), entry.location.value_or(""), entry.time}});
  flush(false);
}

void TextWriter::exit(const ThreadState& thread, const Exit& exit) {
  if (exit.implicit) return;
  header(thread);
  appendTextExitLine(buffer, thread.number >= 0, thread.number, exit.exception.has_value(),
                     exit.exception.value_or(""), exit.time);
  flush(false);
}

int writeText(Run& run, Diagnostics& diagnostics, const WriterOptions& options, std::FILE* out) {
  TextWriter writer(run.frames(), out, options.outputDirectory);
  run.read(writer, diagnostics);
  return 0;
}

}  // namespace kolvaprof::reader
