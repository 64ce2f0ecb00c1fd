// Event files read into frame columns through the event library's record
// readers, so that a frame holds exactly the records and cells that
// `evfilter` reads from the same file: every format it reads (CSV with its
// PowerShell #TYPE line, quoted headers, byte-order mark and multi-line
// cells; TSV; JSON Lines; a JSON array; any of them gzip-compressed),
// duplicate header names renamed as it renames them.
//
// Cells become Python objects: a text cell a str (equal texts of a column
// share one str, which the mask reads once), a JSON object or array a dict
// or list (as json.loads makes it), a cell the record lacks (a short row,
// an absent key, null) None. Records that are not read as they stand are
// reported as evfilter reports them, counted per kind; a problem that
// loses the rest of an input (an unclosed quote, a broken JSON array, a
// corrupt gzip stream) raises ReadError, so that no frame silently lacks
// records.
//
// Dividing a file for several workers (DivideInput) reads it once to find
// where its records end; each piece is then read with ReadFrame.
//
// Thread safety: call with the GIL held; it is released while records are
// read.

#ifndef FILTERMODULE_PYTHON_FRAMEREADER_H_
#define FILTERMODULE_PYTHON_FRAMEREADER_H_

#include <pybind11/pybind11.h>

#include "ReadSupport.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace fmpython {

// The records of `path` (`format` as evfilter names it, or "" to tell it
// as evfilter does) as a dict: "columns" (names), "arrays" (one object
// array per column), "rows" (also when there is no column), "reports"
// (see below), "types" (the field types it declares) and "paths" (the full
// path of a column's fields, an event log's Event.System.EventID for
// EventID, to the column). `columns`, when given, are the frame's columns in
// order: a column the input lacks is all None, and a record naming a key
// outside them raises ReadError. In a cell, each byte that is no UTF-8 is kept
// as its surrogate escape (U+DC00 + the byte) and counted per column in the
// reports; in a column name it reads as U+FFFD. `piece`, when given, reads
// that piece of a divided file. `encoding` ("" for UTF-8, "latin1",
// "cp1252", as evfilter's --encoding) is the text's.
pybind11::dict ReadFrame(const std::string& path, const std::string& format,
                         const std::optional<std::vector<std::string>>& columns,
                         const std::optional<PieceTuple>& piece,
                         const std::string& encoding);

// Reads `path` once and divides it into pieces of about `piece_bytes`
// bytes at record boundaries: a dict of "format", "columns" (the header's,
// or every key of the JSON records in the order they appear), "divided"
// (false: read the input whole), "pieces" (PieceTuples) and "reports".
pybind11::dict DivideInput(const std::string& path, const std::string& format,
                           uint64_t piece_bytes, const std::string& encoding);

// "reports" above: a list of (kind, count, shown messages), one per kind,
// the first 10 messages of each kind kept; notes (renamed columns) come as
// kind "note".

}  // namespace fmpython

#endif  // FILTERMODULE_PYTHON_FRAMEREADER_H_
