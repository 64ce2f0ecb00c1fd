// evfilter's commands, behind the command line: loading the filter's lines
// from a definition file or an expression, and running `match`, `show` and
// `intervals`. A failure prints its message on standard error and throws
// Exit with the status to end with.
//
// Thread safety: called from the main thread.

#ifndef EVFILTER_COMMANDS_H_
#define EVFILTER_COMMANDS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "HuntRun.h"
#include "MatchRun.h"
#include "query/ConditionLine.h"

namespace evfilter {

inline constexpr int kMatched = 0;
inline constexpr int kError = 2;

// Thrown to end the program with a status after a message was printed.
struct Exit {
  int status;
};

// Prints "evfilter: message" and throws Exit{kError}.
[[noreturn]] void Fail(const std::string& message);

struct FilterOptions {
  std::string filter_file;
  std::string rule_file;  // a Sigma rule (show)
  std::string where;
  bool where_given = false;        // an empty --where is an error of its own
  std::vector<std::string> types;  // Field=type
  std::string log_dir;
  bool debug_log = false;
  bool utc = false;  // relative periods fixed in UTC
  // The instant relative periods are fixed at (the clock when not set).
  std::optional<int64_t> now;
};

// `word` when it is one of `commands`, else the closest within two edits
// (or "").
std::string ClosestCommand(const std::string& word,
                           const std::vector<std::string>& commands);

// The field names of a comma-separated `option` value ("a, b,c"); fails
// on an empty name when the option was `given`.
std::vector<std::string> FieldList(const std::string& option,
                                   const std::string& text, bool given);

// The lines of --filter or --where (with --type); fails on a bad one.
// The compiler's notes (how AND and OR group) go to standard error.
std::vector<eventquery::ConditionLine> LoadLines(const FilterOptions& options);
// The lines of --where with the field types an input declares (`declared`,
// as RecordReader::declared_types gives them) for fields --type and
// Field:type leave open; notes are not said again. Throws
// eventquery::SyntaxError.
std::vector<eventquery::ConditionLine> RetypedLines(
    const FilterOptions& options,
    const std::vector<std::pair<std::string, std::string>>& declared);

// The commands; each returns the exit status.
int RunShow(const FilterOptions& options, bool as_json);
// `show --rule`: the lines a Sigma rule compiles to, with the conditions
// the host decides marked; as a definition file only when the module
// decides every condition.
int RunShowRule(const FilterOptions& options, bool as_json);
// `status`, or kError with a message when the module's log, in a folder the
// user named (--log-dir), lost records that could not be written.
int LogKept(const FilterOptions& options, int status);
int RunIntervals(const FilterOptions& options, const std::string& field);
int RunHuntCommand(HuntOptions hunt, const std::string& input_format,
                   const std::string& output_format,
                   const std::string& encoding, bool utc);
int RunMatchCommand(FilterOptions options, MatchOptions match,
                    const std::string& input_format,
                    const std::string& output_format,
                    const std::string& encoding, bool utc);

}  // namespace evfilter

#endif  // EVFILTER_COMMANDS_H_
