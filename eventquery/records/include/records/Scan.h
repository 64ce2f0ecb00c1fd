// Reading one input from its open to its end, for every front end: the
// reader made, records handed to a sink, records that cannot be read
// reported, the input's notes said, a failure or a stop ended with the
// same words everywhere. A front end (evfilter's match and hunt, Python's
// frames and hunts) is a RecordSink and a ScanReports; it never loops over
// a reader itself.
//
// A record's id is the EventRecordID of an event log's record, else its
// 1-based number among the input's readable records (a line that is no
// record is not counted, so that an id is also a frame's row).
//
// Thread safety: a scan runs on the calling thread; the sink and the
// reports are called from it alone.

#ifndef RECORDS_SCAN_H_
#define RECORDS_SCAN_H_

#include <cstdint>
#include <string>

#include "records/Inputs.h"
#include "records/Record.h"
#include "records/RecordReader.h"

namespace eventquery {

// How far a scan read an input.
struct ScanResult {
  // The input's readable records taken by the sink.
  uint64_t taken = 0;
  bool failed = false;   // Failed was said
  bool stopped = false;  // the sink or a stop signal ended it early
  // Memory ran out: what was being read, where, and after how many
  // records (a sentence naming the input). The records before were taken.
  std::string out_of_memory;
};

// What becomes of an input's records.
class RecordSink {
 public:
  virtual ~RecordSink() = default;
  // The input is open, its header read, its renamed columns said; false
  // skips it (the sink has said why).
  virtual bool Begin(const Input& input, RecordReader& reader) = 0;
  // Asked once Begin is done: records come with their cells unsplit
  // (RecordReader::NextUnsplit), for the sink to split and to say ragged
  // rows of.
  virtual bool WantsUnsplit() const { return false; }
  // A readable record and its id; false ends the input here (a limit, an
  // interrupt).
  virtual bool Take(const Record& record, uint64_t id) = 0;
  // A record read that is no record (its report follows), for progress. A
  // sink that decides records on other threads settles those taken first,
  // so that their output comes before the report (which may end the run).
  virtual void Passed(const Record& /*record*/) {}
  // The records taken are all settled (a sink that decides them on other
  // threads waits for them). False when the sink stopped taking while it
  // settled: the input's end or failure is then no longer its own.
  virtual bool Drain() { return true; }
  // The input is read (`result` says how far); the reader's columns are
  // all known now.
  virtual void End(const RecordReader& /*reader*/,
                   const ScanResult& /*result*/) {}
};

// What a scan says.
class ScanReports {
 public:
  virtual ~ScanReports() = default;
  // A note (an input's notes, its renamed columns).
  virtual void Note(const std::string& message) = 0;
  // A record that is not read as it stands, of `kind` (RecordReports.h):
  // `message` starts with its place. `lost_data` for an event log's record
  // (data lost, not an export's stray line), which stands for `lost`
  // records (0: unknown).
  virtual void Skipped(const char* kind, const std::string& message,
                       bool lost_data, uint64_t lost) = 0;
  // The input could not be read (on): the message names it, and where
  // reading stopped.
  virtual void Failed(const std::string& message) = 0;
};

struct ScanOptions {
  // Threads the reader may decode on (an event log).
  unsigned threads = 1;
  // Added to each record's line: a piece's lines count from its file's
  // start (not for an event log, whose lines are record ids).
  uint64_t line_offset = 0;
};

// Reads `input` (open) to its end into `sink`. An input that fails to open
// a reader, and a read that fails, are said through `reports` (a failure
// while a stop is requested is none). Problem records are said and
// skipped; one that loses the rest of the input is a failure. Ragged rows
// of a header-row format are said unless records come unsplit. Worst
// case: one pass over the input, memory as its reader's.
ScanResult ScanInput(Input& input, RecordSink& sink, ScanReports& reports,
                     const ScanOptions& options = {});

}  // namespace eventquery

#endif  // RECORDS_SCAN_H_
