#include "reader/input/layout_detection.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>

#include "format/thread_block.h"
#include "reader/input/diagnostics.h"
#include "reader/input/index_file_parser.h"
#include "reader/input/run_directory.h"

namespace kolvaprof::reader {
namespace {

// A year in nanoseconds: longer than any traced run.
constexpr std::int64_t kLongestRun = std::int64_t{365} * 24 * 3600 * 1000000000;

// The blocks of a file of virtual threads: each thread's records, its
// blocks put back together, are fitted like a file of their own, and every
// block must hold whole records (which tells most layouts apart at once).
void fitBlocks(const std::vector<RecordLayout>& candidates, std::string_view sample, std::size_t sampleRecords,
               const Index& index, std::vector<LayoutFit>& fits) {
  struct Thread {
    std::string records;
    std::vector<std::uint64_t> blockSizes;
  };
  std::map<std::int32_t, Thread> threads;
  while (!sample.empty()) {
    const std::size_t end = sample.find('\n');
    if (end == std::string_view::npos) break;
    const std::optional<ThreadBlockHeader> header = parseThreadBlockHeader(sample.substr(0, end));
    if (!header || header->recordBytes > sample.size() - end - 1) break;  // damage, or past the sample
    Thread& thread = threads[header->threadNumber];
    thread.records.append(sample.substr(end + 1, header->recordBytes));
    thread.blockSizes.push_back(header->recordBytes);
    sample.remove_prefix(end + 1 + header->recordBytes);
  }
  for (const auto& [number, thread] : threads) {
    for (std::size_t i = 0; i < candidates.size(); ++i) {
      const std::size_t records = std::min(thread.records.size() / candidates[i].bytes(), sampleRecords);
      LayoutFit fit = fitLayout(candidates[i], std::string_view(thread.records).substr(0, records * candidates[i].bytes()),
                                0, index);
      fit.unevenFiles = std::any_of(thread.blockSizes.begin(), thread.blockSizes.end(),
                                    [&](std::uint64_t size) { return size % candidates[i].bytes() != 0; });
      fit.soundFiles = fit.records > 0 && fit.faults == 0 && fit.unevenFiles == 0;
      fits[i].add(fit);
    }
  }
}

}  // namespace

std::string describeLayout(RecordLayout layout) {
  std::string present;
  std::string absent;
  for (const RecordFieldForm& form : kRecordFields) {
    if (form.field == RecordField::Time) continue;  // said only when there
    std::string& to = layout.*form.member ? present : absent;
    to += fmt::format("{}{}{}", to.empty() ? "" : ", ", layout.*form.member ? "" : "no ", form.name);
  }
  return fmt::format("{}-byte records ({}{})", layout.bytes(), present.empty() ? absent : present,
                     layout.withTime ? ", times" : "");
}

std::string layoutOptions(RecordLayout layout) {
  std::string options;
  for (const RecordFieldForm& form : kRecordFields)
    options += fmt::format("{}--{}{}", options.empty() ? "" : " ", layout.*form.member ? "" : "no-", form.option);
  return options;
}

RecordLayout LayoutRequest::applyTo(RecordLayout layout) const {
  for (std::size_t i = 0; i < kRecordFieldCount; ++i)
    if (fields[i]) layout.*kRecordFields[i].member = *fields[i];
  return layout;
}

std::vector<RecordLayout> candidateLayouts(const LayoutRequest& request) {
  // Every combination of the fields, the first row's varying fastest.
  std::vector<RecordLayout> layouts;
  for (unsigned bits = 0; bits < (1u << kRecordFieldCount); ++bits) {
    RecordLayout layout;
    for (std::size_t i = 0; i < kRecordFieldCount; ++i) layout.*kRecordFields[i].member = (bits >> i & 1u) != 0;
    if (request.applyTo(layout) == layout) layouts.push_back(layout);
  }
  return layouts;
}

void LayoutFit::add(const LayoutFit& other) {
  records += other.records;
  faults += other.faults;
  unnamedMethods += other.unnamedMethods;
  unnamedThreads += other.unnamedThreads;
  unevenFiles += other.unevenFiles;
  soundFiles += other.soundFiles;
}

LayoutFit fitLayout(RecordLayout layout, std::string_view sample, std::uint64_t fileSize, const Index& index) {
  LayoutFit fit;
  fit.unevenFiles = fileSize % layout.bytes() != 0;
  std::map<std::int32_t, std::int64_t> openByThread;  // a handful of threads per file
  std::map<std::int32_t, std::int64_t> lastTimeByThread;
  std::optional<std::int32_t> fileThread;
  for (std::size_t at = 0; at + layout.bytes() <= sample.size(); at += layout.bytes()) {
    const BinaryRecord r = decodeRecord(sample.data() + at, layout);
    ++fit.records;
    if (layout.withThreadNumber) {
      if (index.threads.empty()) {
        fit.faults += (fileThread && *fileThread != r.thread) || r.thread < 0;
      } else {
        fit.faults += r.thread < 0;
        fit.unnamedThreads += r.thread >= 0 && index.threads.count(r.thread) == 0;
      }
      if (!fileThread) fileThread = r.thread;
    }
    // Depths are followed as recorded, so one broken record costs one fault.
    const std::int32_t thread = layout.withThreadNumber ? r.thread : 0;
    if (layout.withTime) {
      // Two words that are no time read as one far beyond any run, or as
      // one that jumps back.
      std::int64_t& last = lastTimeByThread[thread];
      fit.faults += r.time < last || r.time > kLongestRun;
      last = std::max(last, r.time);
    }
    std::int64_t& open = openByThread[thread];
    if (!r.isExit()) {
      fit.faults += r.method < 0 || r.depth != open + 1;
      if (index.present && r.method > 0 && index.methods.count(r.method) == 0) ++fit.unnamedMethods;
      open = r.depth;
    } else {
      fit.faults += r.tag != 0 || r.callNumber != 0 || r.depth != open || r.depth < 1;
      open = r.depth - 1;
    }
  }
  fit.soundFiles = fit.records > 0 && fit.faults == 0 && fit.unevenFiles == 0;
  return fit;
}

LayoutChoice chooseLayout(const std::vector<RecordLayout>& candidates, const std::vector<LayoutFit>& fits) {
  std::vector<std::size_t> exact;
  for (std::size_t i = 0; i < candidates.size(); ++i)
    if (fits[i].faults == 0 && fits[i].unnamedMethods == 0 && fits[i].unnamedThreads == 0 &&
        fits[i].unevenFiles == 0)
      exact.push_back(i);
  auto names = [&](const std::vector<std::size_t>& which) {
    std::string text;
    for (const std::size_t i : which)
      text += fmt::format("\n  {}: {}", describeLayout(candidates[i]), layoutOptions(candidates[i]));
    return text;
  };
  if (exact.size() == 1) return {candidates[exact.front()], ""};
  if (exact.size() > 1)
    return {std::nullopt, "cannot tell the record layout: several fit every file" + names(exact) +
                              "\ngive the settings of the run with the options shown"};
  // Damaged run: rank by the structural rules alone, since truncation hurts
  // every candidate alike and a partial index hurts most the right one.
  std::vector<std::size_t> order(candidates.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  // Layouts of the same size read a damaged file alike, so a file that one
  // of them reads soundly tells them apart where counting faults cannot.
  auto score = [&](std::size_t i) { return fits[i].faults + fits[i].unevenFiles; };
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return fits[a].soundFiles != fits[b].soundFiles ? fits[a].soundFiles > fits[b].soundFiles : score(a) < score(b);
  });
  if (order.size() == 1 ||
      (order.size() > 1 && fits[order[0]].records > 0 &&
       (4 * score(order[0]) + 2 < score(order[1]) || fits[order[0]].soundFiles > fits[order[1]].soundFiles))) {
    const std::size_t best = order.front();
    const std::uint64_t unnamed = fits[best].unnamedMethods + fits[best].unnamedThreads;
    return {candidates[best],
            fmt::format("no record layout fits every file exactly (damaged run?); reading {}, with {} "
                        "in the sampled records{}{}",
                        describeLayout(candidates[best]), counted(score(best), "fault"),
                        order.size() > 1 ? fmt::format(" against {} for the next best", score(order[1])) : "",
                        unnamed > 0 ? fmt::format(", and {} naming what Index.dat does not", counted(unnamed, "record"))
                                    : "")};
  }
  return {std::nullopt, "cannot tell the record layout: no candidate fits the files" + names(order) +
                            "\ngive the settings of the run with the options shown"};
}

LayoutChoice detectLayout(const RunDirectory& run, const Index& index, const LayoutRequest& request,
                          std::size_t sampleRecords) {
  const std::vector<RecordLayout> candidates = candidateLayouts(request);
  if (candidates.size() == 1) return {candidates.front(), ""};
  std::vector<LayoutFit> fits(candidates.size());
  std::string sample;
  for (const LogFileInfo& file : run.files) {
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(file.path.c_str(), "rb"), &std::fclose);
    if (!in) continue;
    sample.resize(std::min<std::uint64_t>(file.size, sampleRecords * kMaxRecordBytes));
    sample.resize(std::fread(sample.data(), 1, sample.size(), in.get()));
    if (file.blocks) {
      fitBlocks(candidates, sample, sampleRecords, index, fits);
      continue;
    }
    for (std::size_t i = 0; i < candidates.size(); ++i) {
      const std::size_t records = std::min(sample.size() / candidates[i].bytes(), sampleRecords);
      fits[i].add(fitLayout(candidates[i], std::string_view(sample).substr(0, records * candidates[i].bytes()),
                            file.size, index));
    }
  }
  if (run.totalBytes == 0) return {candidates.front(), ""};
  return chooseLayout(candidates, fits);
}

}  // namespace kolvaprof::reader
