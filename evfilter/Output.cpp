#include "Output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "records/CsvCells.h"
#include "records/JsonCells.h"

namespace evfilter {

using eventquery::Format;
using eventquery::Record;

void Writer::Header(const std::vector<std::string>& names, std::string_view raw,
                    std::string_view terminator) {
  if (any_header_ && names == header_) return;
  if (any_header_) out_.push_back('\n');  // a blank line between blocks
  any_header_ = true;
  header_ = names;
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
  return format_ == Format::kTsv ? eventquery::TsvField(text)
                                 : eventquery::CsvField(text);
}

void Writer::Write(const Record& record, const Source& source) {
  out_.clear();
  const std::vector<std::string>& columns = *source.columns;
  if (format_ == source.format) {
    if (format_ != Format::kJsonLines)
      Header(columns, source.header_raw, source.header_terminator);
    out_.append(record.raw);
    out_.append(record.terminator.empty() ? "\n" : record.terminator);
  } else if (format_ == Format::kJsonLines) {  // from CSV or TSV
    out_.push_back('{');
    bool first = true;
    for (size_t c = 0; c < columns.size() && c < record.cells.size(); ++c) {
      if (!record.cells[c]) continue;
      if (!first) out_.push_back(',');
      first = false;
      eventquery::AppendJsonString(out_, columns[c]);
      out_.push_back(':');
      eventquery::AppendJsonString(out_, *record.cells[c]);
    }
    out_ += "}\n";
  } else if (source.format == Format::kJsonLines) {  // the record's own keys
    names_.clear();
    for (uint32_t k : record.keys) names_.push_back(columns[k]);
    Header(names_, {}, {});
    for (size_t i = 0; i < record.keys.size(); ++i) {
      if (i > 0) out_.push_back(Separator());
      const uint32_t k = record.keys[i];
      if (k < record.cells.size() && record.cells[k])
        out_ += Field(*record.cells[k]);
    }
    out_.push_back('\n');
  } else {  // between CSV and TSV
    Header(columns, {}, {});
    for (size_t c = 0; c < record.cells.size(); ++c) {
      if (c > 0) out_.push_back(Separator());
      if (record.cells[c]) out_ += Field(*record.cells[c]);
    }
    out_.push_back('\n');
  }
  progress_.Clear();
  if (std::fwrite(out_.data(), 1, out_.size(), stdout) != out_.size()) {
    // Records that cannot be written must not pass for written.
    const std::string message =
        std::string("standard output: ") + std::strerror(errno);
    std::fprintf(stderr, "evfilter: %s\n", message.c_str());
    throw FatalError(message);
  }
}

std::string FlushStandardOutput() {
  errno = 0;
  const bool flushed = std::fflush(stdout) == 0;
  const int error = errno;
  if (flushed && !std::ferror(stdout)) return {};
  // An earlier failed write may have left nothing to flush, and no errno.
  return error != 0 ? std::strerror(error) : "write error";
}

}  // namespace evfilter
