// The readers of each format, made by MakeRecordReader (see
// RecordReader.h for their rules). Private to the records library.

#ifndef RECORDS_READERS_H_
#define RECORDS_READERS_H_

#include <cstdint>
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
// Reads the file header at once (InputError when it is none). A `piece`
// is the header followed by some of the file's chunks, the first of them
// chunk `first_chunk`; it is read as it comes, without the header's count.
std::unique_ptr<RecordReader> MakeEvtxReader(std::FILE* file,
                                             uint64_t first_chunk, bool piece);

}  // namespace eventquery

#endif  // RECORDS_READERS_H_
