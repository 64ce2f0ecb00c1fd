#include "records/Scan.h"

#include <memory>
#include <new>

#include "records/Formats.h"
#include "records/RecordReports.h"
#include "records/Stop.h"

namespace eventquery {
namespace {

// Says what the reader noticed of the input as a whole since `*noted`.
void NoteInput(const Input& input, const RecordReader& reader,
               ScanReports& reports, size_t* noted) {
  const std::vector<std::string> notes = reader.input_notes();
  for (; *noted < notes.size(); ++*noted)
    reports.Note(input.name() + ": " + notes[*noted]);
}

// The sentence for memory that ran out while `reader` read `input`.
std::string OutOfMemory(const Input& input, const RecordReader& reader,
                        uint64_t records) {
  const bool chunks = FormatTraitsOf(input.format()).own_record_ids;
  return input.name() + ": not enough memory to read on at " +
         (chunks ? "chunk " : "line ") + std::to_string(reader.line()) +
         " (reading " + (chunks ? "and decoding its events" : "its record") +
         ", after " + std::to_string(records) + " record(s) of the input)";
}

}  // namespace

ScanResult ScanInput(Input& input, RecordSink& sink, ScanReports& reports,
                     const ScanOptions& options) {
  ScanResult result;
  std::unique_ptr<RecordReader> reader;
  try {
    reader = MakeRecordReader(input);
  } catch (const InputError& e) {
    if (!StopRequested()) {
      reports.Failed(input.name() + ": " + ReadFailure(input, e));
      result.failed = true;
    }
    return result;
  }
  reader->UseThreads(options.threads);
  size_t noted = 0;
  NoteInput(input, *reader, reports, &noted);
  if (const std::string renamed =
          RenamedColumns(input.name(), reader->header_notes());
      !renamed.empty())
    reports.Note(renamed);
  if (!sink.Begin(input, *reader)) return result;
  const bool unsplit = sink.WantsUnsplit();
  const FormatTraits& traits = FormatTraitsOf(input.format());
  const bool own_ids = traits.own_record_ids;
  const bool header_row = traits.header_row;
  const uint64_t line_offset = own_ids ? 0 : options.line_offset;
  std::string error;
  Record record;
  try {
    while (true) {
      bool more = false;
      try {
        more = unsplit ? reader->NextUnsplit(record) : reader->Next(record);
      } catch (const InputError& e) {
        // A stop ends the input where its buffered records end (the reader
        // reads nothing more); that is no failure of the input.
        if (!StopRequested()) error = ReadFailure(input, e);
      }
      if (!more) break;
      record.line += line_offset;
      if (!record.problem.empty()) {
        sink.Passed(record);
        const std::string place = PlaceOf(input.name(), record);
        if (record.fatal) {
          error = LostInput(place, record);
          result.failed = true;
          break;
        }
        // A line that is no record is the export's; a record of an event
        // log that cannot be read is lost data.
        reports.Skipped(UnreadableKind(record), SkippedLine(place, record),
                        !record.where.empty(), record.lost);
        continue;
      }
      if (header_row && !unsplit &&
          record.cells.size() != reader->columns().size())
        reports.Skipped(
            kRaggedRow,
            RaggedRow(PlaceOf(input.name(), record), record.cells.size(),
                      reader->columns().size()),
            false, 0);
      ++result.taken;
      if (!sink.Take(record, own_ids ? record.line : result.taken)) {
        result.stopped = true;
        break;
      }
    }
  } catch (const std::bad_alloc&) {
    result.out_of_memory = OutOfMemory(input, *reader, result.taken);
    return result;
  }
  bool drained = false;
  try {
    drained = sink.Drain();
  } catch (const std::bad_alloc&) {
    result.out_of_memory = OutOfMemory(input, *reader, result.taken);
    return result;
  }
  if (!drained) {
    // Records read ahead past the sink's end were never its own.
    result.stopped = true;
    error.clear();
    result.failed = false;
  }
  if (StopRequested()) result.stopped = true;
  NoteInput(input, *reader, reports, &noted);
  if (!error.empty()) {
    // Every record before the failure was taken.
    reports.Failed(result.failed
                       ? error
                       : input.name() + ": " + error +
                             "; reading stopped after " +
                             std::to_string(result.taken) + " record(s)");
    result.failed = true;
  }
  sink.End(*reader, result);
  return result;
}

}  // namespace eventquery
