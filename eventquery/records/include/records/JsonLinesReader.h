// JSON Lines: one JSON object per line (see JsonCells.h for its cells).
// Blank lines are no records; a line that is no JSON object is reported
// and skipped. A byte-order mark is skipped.
//
// Thread safety: a reader is used by one thread.

#ifndef RECORDS_JSONLINESREADER_H_
#define RECORDS_JSONLINESREADER_H_

#include <cstdio>
#include <memory>

#include "records/RecordReader.h"

namespace eventquery {

std::unique_ptr<RecordReader> MakeJsonLinesReader(std::FILE* file);

}  // namespace eventquery

#endif  // RECORDS_JSONLINESREADER_H_
