// A JSON document holding one array of objects, pretty-printed or not,
// read element by element: memory stays proportional to the largest
// element, not to the document. Each element is a record (see
// JsonCells.h); its line is the one where it starts, and its raw text is
// the element made compact, so that it is written out as one JSON line.
//
// An element that is no object, or no valid JSON, is reported and
// skipped. A document that is not one array (no "[" first, a missing
// comma, text after the closing "]", an array that never closes) is a
// fatal problem at the place where it goes wrong: the rest is not read.
// A byte-order mark is skipped.
//
// Thread safety: a reader is used by one thread.

#ifndef RECORDS_JSONARRAYREADER_H_
#define RECORDS_JSONARRAYREADER_H_

#include <cstdio>
#include <memory>

#include "records/RecordReader.h"

namespace eventquery {

std::unique_ptr<RecordReader> MakeJsonArrayReader(std::FILE* file);

}  // namespace eventquery

#endif  // RECORDS_JSONARRAYREADER_H_
