// Dividing a file into pieces of whole records, so that several workers can
// read it at once and each gets records exactly as one reader would.
//
// A CSV record may hold line breaks inside quoted cells, so no byte offset
// can be told to start a record without reading what comes before it. The
// pieces are therefore found by reading the whole input once, with the
// format's own reader: a piece ends where a record ends, after at least
// `piece_bytes` bytes (the last piece takes the rest). Each piece is read
// again by opening the header and the piece as one input (Input's piece
// constructor); its records' lines count from the header's, so a reader of
// a piece adds `first_line - header_line` to them.
//
// Only a regular file whose records are found by position can be divided:
// CSV, TSV and JSON Lines, not compressed, read as UTF-8, and Windows event
// logs, cut between chunks (pieces' first "line" is then their first
// chunk's number) unless the log wraps round. Anything else is one piece,
// read whole.
//
// Thread safety: a pure function of the reader it is given.

#ifndef RECORDS_INPUTPIECES_H_
#define RECORDS_INPUTPIECES_H_

#include <cstdint>
#include <functional>
#include <vector>

#include "records/Inputs.h"
#include "records/Record.h"
#include "records/RecordReader.h"

namespace eventquery {

struct InputPieces {
  // True when the pieces may be read on their own (see above); false: read
  // the input whole, as one piece.
  bool divided = false;
  uint64_t header_end = 0;   // bytes before the first record
  uint64_t header_line = 1;  // the line at header_end
  std::vector<InputPiece> pieces;
};

// Reads every record of `reader` (which reads `input` from its start, its
// header already read) and cuts the input after the first record end past
// each `piece_bytes` bytes. `each` sees every record read, for what the
// caller reports. Throws what the reader throws (InputError).
InputPieces DivideAtRecords(const Input& input, RecordReader& reader,
                            uint64_t piece_bytes,
                            const std::function<void(const Record&)>& each);

}  // namespace eventquery

#endif  // RECORDS_INPUTPIECES_H_
