// TSV with a header row: one record per line, cells split at tabs. Inside
// a cell "\t", "\n", "\r" and "\\" stand for a tab, a line feed, a
// carriage return and a backslash; a backslash before anything else is
// kept as it is. A byte-order mark is skipped; blank lines are no records.
//
// Thread safety: a reader is used by one thread; the functions are pure.

#ifndef RECORDS_TSVREADER_H_
#define RECORDS_TSVREADER_H_

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "records/RecordReader.h"

namespace eventquery {

// Reads the header row at once; throws InputError for an empty input.
std::unique_ptr<RecordReader> MakeTsvReader(std::FILE* file);

// Splits one TSV line into cells; escaped cells are unescaped into `arena`,
// which must not reallocate while the cells are used (it is reserved here).
void SplitTsv(std::string_view raw, std::string& arena,
              std::vector<std::optional<std::string_view>>& cells);

// A TSV cell, escaped.
std::string TsvField(std::string_view text);

}  // namespace eventquery

#endif  // RECORDS_TSVREADER_H_
