// CSV with a header row, read as RFC 4180 readers do in their lenient
// mode: a field that starts with a quote is quoted (a doubled quote inside
// stands for one, and line breaks inside belong to the field); a quote
// anywhere else is an ordinary character; text after a closing quote is
// kept. A quoted field that never closes is reported with the line where
// it opened. A byte-order mark is skipped, also before a quoted header, and
// so is a first line "#TYPE ..." as Windows PowerShell writes before the
// header.
//
// Thread safety: a reader is used by one thread; the functions are pure.

#ifndef RECORDS_CSVREADER_H_
#define RECORDS_CSVREADER_H_

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "records/RecordReader.h"

namespace eventquery {

// Reads the header row at once; throws InputError for an empty input.
std::unique_ptr<RecordReader> MakeCsvReader(std::FILE* file);

// Splits one CSV record into cells; quoted cells are unquoted into `arena`,
// which must not reallocate while the cells are used (it is reserved here).
void SplitCsv(std::string_view raw, std::string& arena,
              std::vector<std::optional<std::string_view>>& cells);

// A CSV field, quoted when it needs to be.
std::string CsvField(std::string_view text);

}  // namespace eventquery

#endif  // RECORDS_CSVREADER_H_
