#include "Output.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <functional>
#include <thread>
#include <utility>

#include "Commands.h"
#include "records/Formats.h"
#include "records/JsonCells.h"
#include "records/Stop.h"

namespace evfilter {

using eventquery::Format;
using eventquery::FormatTraitsOf;
using eventquery::Record;

namespace {

// The Zeek log's separator is a tab (the only one written back as one).
bool TabSeparatedZeek(const Source& source) {
  return eventquery::KeepsZeekLog(FormatTraitsOf(source.format)) &&
         source.header_raw.starts_with("#separator \\x09");
}

// The `index`th of the tab-separated parts of `line`; `fallback` when it
// has fewer.
std::string_view Part(std::string_view line, size_t index,
                      std::string_view fallback) {
  size_t begin = 0;
  for (size_t i = 0; i < index; ++i) {
    const size_t tab = line.find('\t', begin);
    if (tab == std::string_view::npos) return fallback;
    begin = tab + 1;
  }
  const size_t end = line.find('\t', begin);
  return line.substr(begin, end == std::string_view::npos ? end : end - begin);
}

}  // namespace

Writer::Writer(Format format, Progress& progress,
               std::vector<std::string> fields)
    : format_(format),
      out_format_(FormatTraitsOf(format)),
      progress_(progress),
      fields_(std::move(fields)) {
  if (fields_.empty()) return;
  picked_.emplace(fields_);
  json_.emplace(fields_);
}

void Writer::NewInput(const std::string& name) {
  if (picked_) picked_->Reset();
  input_ = name;
}

void Writer::StartRow(bool cells_follow) {
  if (!with_input_) return;
  out_ += Field(input_);
  if (cells_follow) out_.push_back(Separator());
}

void Writer::NameInObject(size_t start) {
  if (!with_input_) return;
  const size_t brace = out_.find('{', start);
  if (brace == std::string::npos) return;
  std::string key = "\"input\":";
  eventquery::AppendJsonString(key, input_);
  size_t next = brace + 1;
  while (next < out_.size() && (out_[next] == ' ' || out_[next] == '\t'))
    ++next;
  if (next < out_.size() && out_[next] != '}') key.push_back(',');
  out_.insert(brace + 1, key);
}

void Writer::Pick(const Record& record, const Source& source) {
  const std::vector<std::string>& columns = *source.columns;
  if (out_format_.json_object) {
    if (FormatTraitsOf(source.format).json_object) {
      from_.clear();
      for (size_t i = 0; i < fields_.size(); ++i) {
        const int64_t c = picked_->Column(columns, i);
        from_.push_back(c < 0 ? nullptr : &columns[static_cast<size_t>(c)]);
      }
      if (json_->AppendObject(record.raw, from_, out_)) return;
    }
    out_.push_back('{');
    for (size_t i = 0; i < fields_.size(); ++i) {
      if (i > 0) out_.push_back(',');
      eventquery::AppendJsonString(out_, fields_[i]);
      out_.push_back(':');
      if (const auto cell = picked_->Cell(record, columns, i))
        eventquery::AppendJsonString(out_, *cell);
      else
        out_.append("null");
    }
    out_ += "}\n";
    return;
  }
  if (TabSeparatedZeek(source) && eventquery::KeepsZeekLog(out_format_))
    return PickZeek(record, source);
  Header(fields_, {}, {});
  const size_t start = out_.size();
  StartRow(!fields_.empty());
  for (size_t i = 0; i < fields_.size(); ++i) {
    if (i > 0) out_.push_back(Separator());
    if (const auto cell = picked_->Cell(record, columns, i))
      out_ += Field(*cell);
  }
  EndRow(start);
}

void Writer::EndRow(size_t start) {
  // An empty line would be no record when read back.
  if (out_.size() == start) out_.append(out_format_.empty_row);
  out_.push_back('\n');
}

void Writer::PickZeek(const Record& record, const Source& source) {
  const std::vector<std::string>& columns = *source.columns;
  if (zeek_source_ != source.header_raw) {
    // The preamble as read, with #fields and #types cut to the chosen
    // fields; a field the log lacks is an unset string. Made again for a
    // log with another preamble.
    zeek_source_ = source.header_raw;
    std::string_view rest = source.header_raw;
    std::string preamble;
    while (!rest.empty()) {
      const size_t end = rest.find('\n');
      std::string_view line = rest.substr(0, end);
      rest = end == std::string_view::npos ? std::string_view()
                                           : rest.substr(end + 1);
      const bool cr = line.ends_with('\r');
      if (cr) line.remove_suffix(1);
      const bool names = line.starts_with("#fields\t");
      if (names || line.starts_with("#types\t")) {
        preamble.append(names ? "#fields" : "#types");
        for (size_t i = 0; i < fields_.size(); ++i) {
          const int64_t c = picked_->Column(columns, i);
          preamble.push_back('\t');
          preamble.append(
              c < 0 ? (names ? std::string_view(fields_[i]) : "string")
                    : Part(line, static_cast<size_t>(c) + 1, "-"));
        }
      } else {
        preamble.append(line);
      }
      if (!rest.empty()) preamble.append(cr ? "\r\n" : "\n");
    }
    zeek_preamble_ = std::move(preamble);
  }
  // Zeek's #types may differ where the names do not.
  Header(fields_, zeek_preamble_, source.header_terminator, true);
  for (size_t i = 0; i < fields_.size(); ++i) {
    if (i > 0) out_.push_back('\t');
    const int64_t c = picked_->Column(columns, i);
    out_.append(c < 0 ? "-" : Part(record.raw, static_cast<size_t>(c), "-"));
  }
  out_.append(record.terminator.empty() ? "\n" : record.terminator);
}

void Writer::Header(const std::vector<std::string>& names, std::string_view raw,
                    std::string_view terminator, bool raw_matters) {
  if (any_header_ && names == header_ && (!raw_matters || raw == header_raw_))
    return;
  if (any_header_) out_.push_back('\n');  // a blank line between blocks
  any_header_ = true;
  header_ = names;
  header_raw_.assign(raw);
  if (with_input_) {
    out_ += Field("input");
    if (!names.empty() || !raw.empty()) out_.push_back(Separator());
  }
  if (!raw.empty() || names.empty()) {
    out_.append(raw);
    out_.append(terminator.empty() ? "\n" : terminator);
    return;
  }
  for (size_t c = 0; c < names.size(); ++c) {
    if (c > 0) out_.push_back(Separator());
    out_ += Field(names[c]);
  }
  out_.push_back('\n');
}

std::string Writer::Field(std::string_view text) const {
  return out_format_.field(text);
}

bool Writer::CanName(const Source& source) const {
  return !with_input_ || !eventquery::KeepsZeekLog(out_format_) ||
         !TabSeparatedZeek(source);
}

bool Writer::ReadsEveryCell(eventquery::Format source) const {
  return fields_.empty() && !WritesAsRead(source);
}

bool Writer::WritesAsRead(eventquery::Format source) const {
  return format_ == source ||
         (out_format_.json_object && FormatTraitsOf(source).json_object);
}

void Writer::Write(const Record& record, const Source& source) {
  out_.clear();
  const std::vector<std::string>& columns = *source.columns;
  if (!fields_.empty()) {
    Pick(record, source);
  } else if (WritesAsRead(source.format)) {
    // A Zeek log's preamble says more than its names (#types): another
    // one starts a block of its own.
    if (!out_format_.json_object)
      Header(columns, source.header_raw, source.header_terminator,
             TabSeparatedZeek(source));
    if (!out_format_.json_object) StartRow(true);
    out_.append(record.raw);
    out_.append(record.terminator.empty() ? "\n" : record.terminator);
  } else if (out_format_.json_object) {  // from cells
    eventquery::AppendJsonObject(out_, columns, record);
    out_.push_back('\n');
  } else if (!FormatTraitsOf(source.format).header_row) {
    // the record's own keys
    names_.clear();
    for (uint32_t k : record.keys) names_.push_back(columns[k]);
    Header(names_, {}, {});
    const size_t start = out_.size();
    StartRow(!record.keys.empty());
    for (size_t i = 0; i < record.keys.size(); ++i) {
      if (i > 0) out_.push_back(Separator());
      const uint32_t k = record.keys[i];
      if (k < record.cells.size() && record.cells[k])
        out_ += Field(*record.cells[k]);
    }
    EndRow(start);
  } else {  // between CSV and TSV
    Header(columns, {}, {});
    const size_t start = out_.size();
    StartRow(!record.cells.empty());
    for (size_t c = 0; c < record.cells.size(); ++c) {
      if (c > 0) out_.push_back(Separator());
      if (record.cells[c]) out_ += Field(*record.cells[c]);
    }
    EndRow(start);
  }
  // JSON Lines hold one record and no header: its object is all of out_.
  if (out_format_.json_object) NameInObject(0);
  progress_.Clear();
  // Records that cannot be written must not pass for written.
  Put(out_);
}

namespace {
// Why a flush while waiting failed (errno), for the next Put.
std::atomic<int> g_flush_error{0};
// The waiting task, touched only by the thread it runs on: any thread
// reading an input looks at the id alone.
std::function<void()> g_task;
std::atomic<std::thread::id> g_task_thread{};
// What the task threw, for that thread's next Put or Take to throw: the
// reader that waits may be inside stdio, which nothing may throw through.
std::exception_ptr g_task_error;
}  // namespace

WaitingTask::WaitingTask(std::function<void()> task) {
  g_task = std::move(task);
  g_task_thread.store(std::this_thread::get_id());
}

WaitingTask::~WaitingTask() {
  g_task_thread.store(std::thread::id());
  g_task = nullptr;
  g_task_error = nullptr;
}

void WhileWaiting() {
  if (g_task_thread.load() == std::this_thread::get_id() && g_task &&
      !g_task_error) {
    try {
      g_task();
    } catch (...) {
      g_task_error = std::current_exception();
    }
  }
  FlushWhileWaiting();
}

void ThrowWhatTheWaitThrew() {
  if (!g_task_error || g_task_thread.load() != std::this_thread::get_id())
    return;
  std::exception_ptr error = g_task_error;
  g_task_error = nullptr;
  // The run ends with it: its task runs no more.
  g_task = nullptr;
  std::rethrow_exception(error);
}

void FlushWhileWaiting() {
  if (std::fflush(stdout) == 0) return;
  const int error = errno != 0 ? errno : EIO;
  g_flush_error.store(error);
  if (error == EPIPE) eventquery::RequestStop(SIGPIPE);
}

void Put(std::string_view text) {
  ThrowWhatTheWaitThrew();
  // A flush while waiting failed: its records are lost, and so would be
  // these.
  if (const int error = g_flush_error.load(); error != 0) {
    EndIfReaderGone(error);
    const std::string message =
        std::string("standard output: ") + std::strerror(error);
    std::fprintf(stderr, "evfilter: %s\n", message.c_str());
    throw FatalError(message);
  }
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size()) {
    EndIfReaderGone(errno);
    const std::string message =
        std::string("standard output: ") + std::strerror(errno);
    std::fprintf(stderr, "evfilter: %s\n", message.c_str());
    throw FatalError(message);
  }
}

void EndIfReaderGone(int error) {
  if (error == EPIPE) throw Exit{128 + SIGPIPE};
}

std::string FlushStandardOutput() {
  errno = 0;
  const bool flushed = std::fflush(stdout) == 0;
  const int error = errno;
  if (flushed && !std::ferror(stdout)) return {};
  EndIfReaderGone(error);
  // An earlier failed write may have left nothing to flush, and no errno.
  return error != 0 ? std::strerror(error) : "write error";
}

}  // namespace evfilter
