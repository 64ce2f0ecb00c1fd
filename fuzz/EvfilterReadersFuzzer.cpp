// The command-line tool's readers: definition files, --where expressions,
// CSV and JSON Lines input fed to the rows. Errors must be the tool's own
// error types, never a crash.

#include <cstdio>
#include <string>

#include "FuzzInput.h"
#include "evfilter/CellReaders.h"
#include "evfilter/CsvReader.h"
#include "evfilter/Definition.h"
#include "evfilter/JsonArrayReader.h"
#include "evfilter/JsonLinesReader.h"
#include "evfilter/RecordReaders.h"
#include "evfilter/RowFeeder.h"
#include "evfilter/TsvReader.h"
#include "evfilter/ValueForms.h"
#include "evfilter/WhereCompiler.h"
#include "textconv/Utf8.h"

namespace {

void ReadAll(std::unique_ptr<evfilter::RecordReader> reader) {
  evfilter::RowFeeder feeder(
      {memhost::LineSpec{.field = u"a", .op = 3, .value = u"12.5", .type = 0},
       memhost::LineSpec{.field = u"b", .type = 2},
       memhost::LineSpec{.field = u"c", .type = 3},
       memhost::LineSpec{.field = u"REL_EXT_TAGS", .type = 1}},
      evfilter::Zone::kLocal);
  memhost::MemoryDataRow row;
  evfilter::Record record;
  std::string forced;
  std::vector<evfilter::FeedNote> notes;
  reader->header_notes();
  while (reader->Next(record)) {
    notes.clear();
    if (record.problem.empty())
      feeder.Feed(record, reader->columns(), row, forced, &notes);
  }
  feeder.MissingFields(reader->columns());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  const int which = in.Byte() % 4;
  std::string text = in.Rest();
  try {
    switch (which) {
      case 0:
        evfilter::DefinitionToJson(evfilter::ParseDefinition(text));
        break;
      case 1:
        evfilter::CompileWhere(text);
        break;
      case 2:
      case 3: {
        std::FILE* file = fmemopen(text.data(), text.size(), "rb");
        if (file == nullptr) return 0;
        try {
          ReadAll(which == 2 ? evfilter::MakeCsvReader(file)
                             : evfilter::MakeJsonLinesReader(file));
        } catch (const evfilter::InputError&) {
        }
        std::fclose(file);
        break;
      }
    }
  } catch (const evfilter::DefinitionError&) {
  } catch (const evfilter::SyntaxError&) {
  }
  evfilter::ReadDate(text);
  evfilter::ReadTime(text, evfilter::Zone::kUtc);
  std::string scratch;
  evfilter::ReadNumber(text, scratch);
  if (evfilter::PlainDecimal(text, scratch))
    evfilter::ComparePlain(scratch, "-12.5");
  memhost::LineSpec line{.value = textconv::ToUtf16(text), .type = 3};
  evfilter::PrepareValue(line);
  line.type = 2;
  evfilter::PrepareValue(line);
  evfilter::ReadInteger(text);
  evfilter::ReadReal(text);
  return 0;
}
