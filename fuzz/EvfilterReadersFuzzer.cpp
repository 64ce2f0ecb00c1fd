// The command-line tool's readers: definition files, --where expressions,
// CSV, TSV, JSON Lines and JSON array input fed to the rows (with a nested
// path among the fields), and inputs opened as files: plain, gzip as
// given, or the rest compressed and then damaged. Errors must be the
// tool's own error types, never a crash.
//
// The first byte selects the path: 0 definition, 1 expression, 2 CSV,
// 3 JSON Lines, 4 TSV, 5 JSON array, 6 a file as given, 7 a gzip file,
// 8 pieces of a file, 9 JSON values by path, 10 a file read as Latin-1 or
// Windows-1252. A first byte from 0xF8 up reads a Windows event log: the
// rest of the input is a chunk (its checksums made right or not) in a
// valid file header, read whole, on threads and in pieces.

#include <sys/mman.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "FuzzInput.h"
#include "common/Utf8.h"
#include "decide/CellReaders.h"
#include "decide/RowFeeder.h"
#include "query/Definition.h"
#include "query/ValueForms.h"
#include "query/WhereCompiler.h"
#include "records/CsvCells.h"
#include "records/InputPieces.h"
#include "records/Inputs.h"
#include "records/JsonCells.h"
#include "records/RecordReader.h"

namespace {

// With `wanted_only`, the reader fills the wanted fields' cells alone.
void ReadAll(std::unique_ptr<eventquery::RecordReader> reader,
             bool wanted_only = false) {
  eventquery::RowFeeder feeder(
      {eventquery::ConditionLine{{.field = u"a",
                                  .op = eventquery::kOpLess,
                                  .value = u"12.5",
                                  .type = eventquery::kTypeNumeric}},
       eventquery::ConditionLine{
           {.field = u"b", .type = eventquery::kTypeDate}},
       eventquery::ConditionLine{
           {.field = u"c", .type = eventquery::kTypeTime}},
       eventquery::ConditionLine{
           {.field = u"REL_EXT_TAGS", .type = eventquery::kTypeText}},
       eventquery::ConditionLine{{.field = u"a.b.0",
                                  .op = eventquery::kOpGreater,
                                  .value = u"1",
                                  .type = eventquery::kTypeNumeric}}},
      eventquery::Zone::kLocal);
  reader->WantFields(feeder.field_names());
  if (wanted_only) reader->FillWantedFieldsOnly();
  memhost::MemoryDataRow row;
  eventquery::Record record;
  std::string forced;
  std::vector<eventquery::FeedNote> notes;
  reader->header_notes();
  while (reader->Next(record)) {
    notes.clear();
    if (record.problem.empty())
      feeder.Feed(record, reader->columns(), row, forced, &notes);
  }
  feeder.MissingFields(reader->columns(), reader->hint_names());
}

// `bytes` as a gzip member; the byte at `at` (if inside) flipped by `flip`,
// and everything from `cut` on dropped.
std::string Damaged(const std::string& bytes, size_t at, uint8_t flip,
                    size_t cut) {
  uLongf size = compressBound(bytes.size()) + 32;
  std::string out(size, '\0');
  z_stream z{};
  deflateInit2(&z, 6, Z_DEFLATED, 16 + 15, 8, Z_DEFAULT_STRATEGY);
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  z.avail_in = static_cast<uInt>(bytes.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  if (at < out.size()) out[at] = static_cast<char>(out[at] ^ flip);
  if (cut < out.size()) out.resize(cut);
  return out;
}

// Opens `bytes` as a file, as evfilter opens its inputs, and reads it all.
void ReadAsFile(const std::string& bytes,
                eventquery::Encoding encoding = eventquery::Encoding::kUtf8) {
  const int fd = memfd_create("input", MFD_CLOEXEC);
  if (fd < 0) return;
  if (write(fd, bytes.data(), bytes.size()) ==
      static_cast<ssize_t>(bytes.size())) {
    lseek(fd, 0, SEEK_SET);
    eventquery::Input input("/proc/self/fd/" + std::to_string(fd), std::nullopt,
                            encoding);
    if (input.ok()) {
      try {
        ReadAll(eventquery::MakeRecordReader(input));
      } catch (const eventquery::InputError&) {
      }
    }
  }
  close(fd);
}

// One record as it compares: its raw bytes, line, problem and the cells it
// has, by column name (JSON readers number their columns as keys appear).
std::string Flat(const eventquery::Record& r,
                 const std::vector<std::string>& columns,
                 uint64_t line_offset) {
  std::string out = std::string(r.raw) + '\x01' +
                    std::to_string(r.line + line_offset) + '\x01' + r.problem;
  std::vector<std::string> cells;
  for (size_t c = 0; c < r.cells.size(); ++c)
    if (r.cells[c])
      cells.push_back((c < columns.size() ? columns[c] : "#") + '\x02' +
                      std::string(*r.cells[c]));
  std::sort(cells.begin(), cells.end());
  for (const std::string& cell : cells) out += '\x01' + cell;
  return out;
}

// Dividing a file into pieces and reading each gives the records of the
// whole, in order, with their lines.
void PiecesReadAsTheWhole(const std::string& bytes, eventquery::Format format,
                          uint64_t piece_bytes) {
  const int fd = memfd_create("pieces", MFD_CLOEXEC);
  if (fd < 0) return;
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  if (write(fd, bytes.data(), bytes.size()) !=
      static_cast<ssize_t>(bytes.size())) {
    close(fd);
    return;
  }
  try {
    std::vector<std::string> whole;
    eventquery::InputPieces pieces;
    {
      eventquery::Input input(path, format);
      if (!input.ok()) throw eventquery::InputError(input.error());
      auto reader = eventquery::MakeRecordReader(input);
      pieces = eventquery::DivideAtRecords(
          input, *reader, piece_bytes, [&](const eventquery::Record& r) {
            whole.push_back(Flat(r, reader->columns(), 0));
          });
    }
    if (pieces.divided) {
      std::vector<std::string> parts;
      for (const eventquery::InputPiece& piece : pieces.pieces) {
        eventquery::Input input(path, format, pieces.header_end, piece);
        if (!input.ok()) __builtin_trap();
        auto reader = eventquery::MakeRecordReader(input);
        eventquery::Record r;
        // An event log's records go by their ids, not by lines.
        const uint64_t offset = format == eventquery::Format::kEvtx
                                    ? 0
                                    : piece.first_line - pieces.header_line;
        while (reader->Next(r))
          parts.push_back(Flat(r, reader->columns(), offset));
      }
      if (parts != whole) __builtin_trap();
    }
  } catch (const eventquery::InputError&) {
  }
  close(fd);
}

// An event log file of `chunks` copies of the chunk `chunk` (padded to
// 64 KiB), its checksums made to match when `fix`.
std::string EventLog(std::string chunk, int chunks, bool fix, bool dirty) {
  constexpr size_t kChunk = 65536;
  chunk.resize(kChunk, '\0');
  auto put32 = [](std::string& s, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
  };
  auto crc = [](const std::string& s, size_t at, size_t n, uLong start = 0) {
    return crc32(start, reinterpret_cast<const Bytef*>(s.data() + at),
                 static_cast<uInt>(n));
  };
  if (fix) {
    uint32_t free_at = 0;
    for (int i = 0; i < 4; ++i)
      free_at |= static_cast<uint32_t>(static_cast<uint8_t>(chunk[48 + i]))
                 << (8 * i);
    if (free_at >= 512 && free_at <= kChunk)
      put32(chunk, 52, static_cast<uint32_t>(crc(chunk, 512, free_at - 512)));
    put32(chunk, 124,
          static_cast<uint32_t>(crc(chunk, 128, 384, crc(chunk, 0, 120))));
  }
  std::string file(4096, '\0');
  file.replace(0, 8, "ElfFile\0", 8);
  file[16] = static_cast<char>(chunks - 1);
  file[32] = static_cast<char>(128);
  file[36] = 1;
  file[38] = 3;
  file[41] = 0x10;  // 4096
  file[42] = static_cast<char>(chunks);
  file[120] = dirty ? 1 : 0;
  put32(file, 124, static_cast<uint32_t>(crc(file, 0, 120)));
  for (int i = 0; i < chunks; ++i) file += chunk;
  return file;
}

// An event log read whole (on one thread or several) and in pieces.
void ReadEventLog(const std::string& chunk, uint8_t options,
                  uint64_t piece_bytes) {
  const std::string file = EventLog(chunk, (options & 8) ? 2 : 1,
                                    (options & 1) == 0, (options & 2) != 0);
  const int fd = memfd_create("evtx", MFD_CLOEXEC);
  if (fd < 0) return;
  if (write(fd, file.data(), file.size()) ==
      static_cast<ssize_t>(file.size())) {
    eventquery::Input input("/proc/self/fd/" + std::to_string(fd),
                            std::nullopt);
    if (input.ok()) {
      try {
        auto reader = eventquery::MakeRecordReader(input);
        reader->UseThreads((options & 4) ? 2 : 1);
        ReadAll(std::move(reader));
      } catch (const eventquery::InputError&) {
      }
    }
  }
  close(fd);
  PiecesReadAsTheWhole(file, eventquery::Format::kEvtx,
                       65536 * (1 + piece_bytes % 2));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  const uint8_t selector = in.Byte();
  const int which = selector >= 0xF8 ? 11 : selector % 11;
  const uint8_t options = which == 11 ? in.Byte() : 0;
  size_t at = 0, cut = 0;
  uint8_t flip = 0;
  if (which == 7) {
    at = in.Byte() * 8u;
    flip = in.Byte();
    cut = 16u + in.Byte() * 64u;
  }
  const eventquery::Format divisible[] = {eventquery::Format::kCsv,
                                          eventquery::Format::kTsv,
                                          eventquery::Format::kJsonLines};
  eventquery::Format piece_format = divisible[in.Byte() % 3];
  const uint64_t piece_bytes = 1u + in.Byte() * 3u;
  std::string text = in.Rest();
  try {
    switch (which) {
      case 0:
        eventquery::DefinitionToJson(eventquery::ParseDefinition(text));
        break;
      case 1:
        eventquery::CompileWhere(text);
        break;
      case 2:
      case 3:
      case 4:
      case 5: {
        std::FILE* file = fmemopen(text.data(), text.size(), "rb");
        if (file == nullptr) return 0;
        const eventquery::Format formats[] = {
            eventquery::Format::kCsv, eventquery::Format::kJsonLines,
            eventquery::Format::kTsv, eventquery::Format::kJsonArray};
        try {
          // An odd length reads as a count does: the wanted cells only.
          ReadAll(eventquery::MakeRecordReader(formats[which - 2], file),
                  text.size() % 2 == 1);
        } catch (const eventquery::InputError&) {
        }
        std::fclose(file);
        break;
      }
      case 6:
        ReadAsFile(text);
        break;
      case 7:
        ReadAsFile(Damaged(text, at, flip, cut));
        break;
      case 8:
        PiecesReadAsTheWhole(text, piece_format, piece_bytes);
        break;
      case 10:
        ReadAsFile(text, piece_bytes % 2 ? eventquery::Encoding::kLatin1
                                         : eventquery::Encoding::kCp1252);
        break;
      case 11:
        ReadEventLog(text, options, piece_bytes);
        break;
      case 9: {
        eventquery::JsonValueReader values;
        try {
          values.Cell(text, "");
          values.Cell(text, "a.b.0");
          values.Cell("{\"a\":{\"b\":[1]}}", "a.b.0");
        } catch (const eventquery::InputError&) {
        }
        break;
      }
    }
  } catch (const eventquery::DefinitionError&) {
  } catch (const eventquery::SyntaxError&) {
  }
  eventquery::ReadDate(text);
  eventquery::ReadTime(text, eventquery::Zone::kUtc);
  std::string scratch;
  eventquery::ReadNumber(text, scratch);
  if (eventquery::PlainDecimal(text, scratch))
    eventquery::ComparePlain(scratch, "-12.5");
  eventquery::ConditionLine line{
      {.value = common::ToUtf16(text), .type = eventquery::kTypeTime}};
  eventquery::PrepareValue(line);
  line.type = eventquery::kTypeDate;
  eventquery::PrepareValue(line);
  eventquery::ReadInteger(text);
  eventquery::ReadReal(text);
  return 0;
}
