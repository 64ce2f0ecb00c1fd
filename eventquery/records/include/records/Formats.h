// The formats the readers read, as one table: a row per format with what
// every front end needs to know of it. A front end asks the table (by
// FormatTraitsOf, or through Format's helpers in Inputs.h) and never
// compares Format values itself; adding a format is one reader and one
// row (Formats.cpp), and the compiler then points at the switch that makes
// its reader.
//
// Thread safety: immutable.

#ifndef RECORDS_FORMATS_H_
#define RECORDS_FORMATS_H_

#include <span>
#include <string>
#include <string_view>

#include "records/Inputs.h"

namespace eventquery {

struct FormatTraits {
  Format format;
  const char* name;  // as options name it ("csv", "json", "evtx")
  // The name extensions that say the format (without ".gz"); a ".json"
  // name says none, since it may hold either JSON shape.
  std::span<const char* const> extensions;
  // Its records' cells are by the position of a header row's names, so
  // that a record with another count of cells is a ragged row.
  bool header_row;
  // A record's raw text is one JSON object of its fields.
  bool json_object;
  // Its records carry ids of their own (an event log's EventRecordID,
  // which a record's `line` then is), and its places are chunks.
  bool own_record_ids;
  // Field names compare without case.
  bool names_ignore_case;
  // Written out by default in this format (a JSON array's objects and an
  // event log's events as JSON Lines).
  Format output;
  // Can be an output format at all.
  bool writable;
  // A format written with a header row: its cells' separator, a cell as it
  // writes it (quoted or escaped), and a row of one empty cell, which must
  // not be a blank line that its reader skips where it can be helped (TSV
  // cannot; its reader says so). Zero, null and "" for the others, whose
  // records are JSON objects.
  char separator = '\0';
  std::string (*field)(std::string_view text) = nullptr;
  const char* empty_row = "";
};

// Every format, in the order options list them.
std::span<const FormatTraits> AllFormats();
const FormatTraits& FormatTraitsOf(Format format);
// The formats' names for a message or a help text, `last` before the
// last one ("csv, tsv, jsonl, json or evtx"); only those that can be
// written when `writable`.
std::string FormatNameList(bool writable, std::string_view last = ", ");
// A Zeek log written in a format that keeps it one: tab-separated.
bool KeepsZeekLog(const FormatTraits& format);

}  // namespace eventquery

#endif  // RECORDS_FORMATS_H_
