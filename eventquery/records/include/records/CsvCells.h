// The cells of the two delimited formats, CSV and TSV (see RecordReader.h
// for their rules): splitting a record's raw text into cells, and writing
// a cell so that it reads back as it is.
//
// Thread safety: pure functions. Each costs time linear in the text.

#ifndef RECORDS_CSVCELLS_H_
#define RECORDS_CSVCELLS_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace eventquery {

// Splits one record into cells; quoted (CSV) or escaped (TSV) cells are
// unquoted into `arena`, which must not reallocate while the cells are
// used (it is reserved here).
void SplitCsv(std::string_view raw, std::string& arena,
              std::vector<std::optional<std::string_view>>& cells);
void SplitTsv(std::string_view raw, std::string& arena,
              std::vector<std::optional<std::string_view>>& cells);

// A cell as the format writes it: quoted when it needs to be (CSV),
// escaped (TSV).
std::string CsvField(std::string_view text);
std::string TsvField(std::string_view text);

}  // namespace eventquery

#endif  // RECORDS_CSVCELLS_H_
