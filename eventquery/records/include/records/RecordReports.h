// How a front end reports a record that is not read as it stands, worded
// once for all of them. Each report starts with the record's place
// ("file:line: ").
//
// Thread safety: pure functions.

#ifndef RECORDS_RECORDREPORTS_H_
#define RECORDS_RECORDREPORTS_H_

#include <cstddef>
#include <string>
#include <vector>

#include "records/Inputs.h"
#include "records/Record.h"

namespace eventquery {

// The kinds of report, as counted: a front end shows the first
// kShownPerKind of each kind, then how many more there were.
inline constexpr char kUnreadableLine[] = "unreadable line";
inline constexpr char kRaggedRow[] = "ragged row";
inline constexpr char kUnreadableRecord[] = "unreadable record";  // EVTX
inline constexpr int kShownPerKind = 10;

// "name:line", the place of a record; "name: chunk 3, record 1234" for one
// that says where it is (EVTX).
std::string PlaceOf(const std::string& name, const Record& record);
// The kind of report for a record that could not be read.
const char* UnreadableKind(const Record& record);
// A line that is no record and is skipped (its problem said).
std::string SkippedLine(const std::string& place, const Record& record);
// A record whose problem ends the input (`record.fatal`).
std::string LostInput(const std::string& place, const Record& record);
// Why reading `input` failed: its stream's reason (a corrupt gzip stream)
// when it has one, else the reader's.
std::string ReadFailure(const Input& input, const InputError& e);
// The note on a header's renamed duplicates (RecordReader::header_notes),
// or "" when there are none.
std::string RenamedColumns(const std::string& name,
                           const std::vector<std::string>& renamed);
// A CSV or TSV row with another count of cells than the header's.
std::string RaggedRow(const std::string& place, size_t cells,
                      size_t header_cells);

}  // namespace eventquery

#endif  // RECORDS_RECORDREPORTS_H_
