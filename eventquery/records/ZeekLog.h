// Zeek's TSV logs: a preamble of "#" lines (#separator, #set_separator,
// #empty_field, #unset_field, #path, #open, #fields, #types), records of
// separated cells, and "#close" at the end. The TSV reader reads a log in
// this form when its first line starts with "#separator". Private to the
// readers.
//
//   names    from #fields
//   cells    the #unset_field text ("-") is no value, the #empty_field
//            text ("(empty)") the empty text; \xHH stands for its byte
//   "#"      lines after the preamble (#close) are no records; the
//            preamble of a log that follows in the same stream must read
//            records alike, else the input fails there
//
// Thread safety: plain data.

#ifndef RECORDS_ZEEKLOG_H_
#define RECORDS_ZEEKLOG_H_

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace eventquery {

class ZeekPreamble {
 public:
  // True when `first_line` starts a Zeek log.
  static bool Starts(std::string_view first_line);

  // Takes one preamble line; throws InputError for one it cannot use.
  void Take(std::string_view line, uint64_t line_number);
  // True when #fields and #types were both seen: the records follow.
  bool complete() const { return !names_.empty() && types_seen_; }
  // Throws InputError when the preamble ended without #fields.
  void Finish() const;

  const std::vector<std::string>& names() const { return names_; }
  const std::vector<std::string>& types() const { return types_; }
  // The log's #path (conn, dns, http, ...), or "".
  const std::string& path() const { return path_; }
  // The fields of numeric types (count, int, double, port, interval) as
  // "numeric", of text types (string, addr, enum, bool, sets, ...) as
  // "text"; time fields are not named.
  std::vector<std::pair<std::string, std::string>> DeclaredTypes() const;

  // True when `other` reads records as this does: the same separator,
  // unset and empty texts, fields and types (another log's preamble may
  // follow a log's #close in one stream).
  bool SameForm(const ZeekPreamble& other) const {
    return separator_ == other.separator_ && empty_ == other.empty_ &&
           unset_ == other.unset_ && names_ == other.names_ &&
           types_ == other.types_;
  }

  // The cells of one record line.
  void Split(std::string_view raw, std::string& arena,
             std::vector<std::optional<std::string_view>>& cells) const;

 private:
  // A field of a "#" line, its \xHH escapes read.
  static std::string Unescaped(std::string_view text);

  char separator_ = '\t';
  std::string empty_ = "(empty)";
  std::string unset_ = "-";
  std::vector<std::string> names_;
  std::vector<std::string> types_;
  std::string path_;
  bool types_seen_ = false;
};

}  // namespace eventquery

#endif  // RECORDS_ZEEKLOG_H_
