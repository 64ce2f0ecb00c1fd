#include "Reporter.h"

#include <unistd.h>

#include <cstdio>

#include "records/RecordReports.h"

namespace evfilter {

using eventquery::kShownPerKind;

Progress::Progress()
    : enabled_(isatty(STDERR_FILENO) == 1),
      start_(std::chrono::steady_clock::now()) {}

void Progress::Tick(uint64_t records, uint64_t bytes) {
  if (!enabled_ || (records & 0xFFFF) != 0) return;
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start_)
          .count();
  if (seconds < 1.0) return;
  // Records written to a terminal go before the line, not after it.
  std::fflush(stdout);
  shown_ = true;
  std::fprintf(stderr, "\revfilter: %llu records, %.1f MB, %.0f records/s",
               static_cast<unsigned long long>(records),
               static_cast<double>(bytes) / 1e6,
               static_cast<double>(records) / seconds);
  std::fflush(stderr);
}

void Progress::Clear() {
  if (!shown_) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  shown_ = false;
}

void Reporter::Print(const std::string& message) {
  progress_.Clear();
  std::fflush(stdout);
  std::fprintf(stderr, "evfilter: %s\n", message.c_str());
}

void Reporter::Note(const std::string& message) { Print(message); }

void Reporter::Failure(const std::string& message) {
  failed_ = true;
  ++reported_;
  Print(message);
}

void Reporter::RecordReport(const std::string& kind, const std::string& message,
                            bool failure, uint64_t lost) {
  ++reported_;
  if (failure) {
    failed_ = true;
    // A chunk that cannot be read says not how many records it held.
    if (lost == 0) {
      ++unknown_places_;
    } else {
      lost_records_ += lost;
      ++lost_places_;
    }
  }
  if (strict_) {
    Print(message);
    throw FatalError(message);
  }
  if (++per_kind_[kind] <= kShownPerKind) Print(message);
}

void Reporter::Unreadable(const std::string& field, const std::string& wanted,
                          const std::string& place, const std::string& cell) {
  ++reported_;
  if (strict_) {
    const std::string message = place + ": field '" + field +
                                "': cannot read '" + cell + "' as " + wanted;
    Print(message);
    throw FatalError(message);
  }
  PerField& p = unreadable_[{field, wanted}];
  if (p.count++ == 0) {
    p.first_place = place;
    p.first_cell = cell;
  }
}

void Reporter::Inexact(const std::string& field, const std::string& place,
                       const std::string& cell) {
  PerField& p = inexact_[field];
  if (p.count++ == 0) {
    p.first_place = place;
    p.first_cell = cell;
  }
}

void Reporter::NotUtf8(const std::string& field, const std::string& place,
                       const std::string& cell) {
  ++reported_;
  PerField& p = not_utf8_[field];
  if (p.count++ == 0) {
    p.first_place = place;
    p.first_cell = cell;
  }
}

void Reporter::Finish(uint64_t records, uint64_t matched, Output output) {
  for (const auto& [kind, count] : per_kind_)
    if (count > kShownPerKind)
      Print(std::to_string(count - kShownPerKind) + " more " + kind +
            " report(s) not shown");
  for (const auto& [key, p] : unreadable_)
    Print("field '" + key.first + "': " + std::to_string(p.count) +
          " value(s) could not be read as " + key.second + " (first at " +
          p.first_place + ": '" + p.first_cell +
          "'); their conditions counted as false");
  for (const auto& [field, p] : inexact_)
    Print("field '" + field + "': " + std::to_string(p.count) +
          " number(s) beyond what the filter module's numbers carry exactly "
          "(32-bit integers, or reals shown with six decimals; first at " +
          p.first_place + ": '" + p.first_cell +
          "'); evfilter decided their =, < and > comparisons exactly itself. "
          "To compare them as written, use " +
          field + ":text");
  for (const auto& [field, p] : not_utf8_)
    Print("field '" + field + "': " + std::to_string(p.count) +
          " value(s) are not valid UTF-8 (first at " + p.first_place + ": '" +
          p.first_cell +
          "'); each invalid byte was compared as a character of its own. "
          "For a Latin-1 or Windows export, use --encoding latin1 or cp1252");
  if (reported_ > 0)
    Print(std::to_string(records) + " record(s) read, " +
          std::to_string(matched) + OutputWords(output) +
          std::to_string(reported_) + " reported" + LostRecords());
}

const char* Reporter::OutputWords(Output output) {
  switch (output) {
    case Output::kWritten:
      return " written, ";
    case Output::kNotAllWritten:
      return " matched but not all written, ";
    case Output::kCounted:
      return " counted, ";
    case Output::kNotCounted:
      break;
    case Output::kRunningTotals:
      // Its last line must not pass for the answer either.
      return " matched (no count printed; those printed were running "
             "totals), ";
  }
  // The count printed after a failure would pass for the answer.
  return " matched (no count printed), ";
}

std::string Reporter::LostRecords() const {
  std::string said;
  if (lost_places_ > 0)
    said = "; " + std::to_string(lost_records_) + " record(s) in " +
           std::to_string(lost_places_) + " place(s) could not be read";
  if (unknown_places_ > 0)
    said += (said.empty() ? "; the records in " : ", and the records in ") +
            std::to_string(unknown_places_) +
            (said.empty() ? " place(s) could not be read" : " more place(s)") +
            ", how many is unknown";
  return said;
}

}  // namespace evfilter
