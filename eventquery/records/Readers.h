// The readers of each format, made by MakeRecordReader (see
// RecordReader.h for their rules). Private to the records library.

#ifndef RECORDS_READERS_H_
#define RECORDS_READERS_H_

#include <cstdio>
#include <memory>

#include "records/RecordReader.h"

namespace eventquery {

// Each reads its header row (CSV, TSV) at once and throws InputError for
// an input without one. Only `at_file_start` a byte-order mark is skipped.
std::unique_ptr<RecordReader> MakeCsvReader(std::FILE* file,
                                            bool at_file_start);
std::unique_ptr<RecordReader> MakeTsvReader(std::FILE* file,
                                            bool at_file_start);
std::unique_ptr<RecordReader> MakeJsonLinesReader(std::FILE* file,
                                                  bool at_file_start);
std::unique_ptr<RecordReader> MakeJsonArrayReader(std::FILE* file,
                                                  bool at_file_start);

}  // namespace eventquery

#endif  // RECORDS_READERS_H_
