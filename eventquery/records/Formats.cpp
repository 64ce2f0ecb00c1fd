#include "records/Formats.h"

#include <array>
#include <vector>

#include "records/CsvCells.h"

namespace eventquery {
namespace {

constexpr const char* kCsvExtensions[] = {".csv"};
constexpr const char* kTsvExtensions[] = {".tsv", ".tab"};
constexpr const char* kJsonLinesExtensions[] = {".jsonl", ".ndjson"};
constexpr const char* kEvtxExtensions[] = {".evtx"};

// One row per format, in the enum's order.
constexpr std::array<FormatTraits, 5> kFormats = {{
    {.format = Format::kCsv,
     .name = "csv",
     .extensions = kCsvExtensions,
     .header_row = true,
     .json_object = false,
     .own_record_ids = false,
     .names_ignore_case = false,
     .output = Format::kCsv,
     .writable = true,
     .separator = ',',
     .field = CsvField,
     .empty_row = "\"\""},
    {.format = Format::kTsv,
     .name = "tsv",
     .extensions = kTsvExtensions,
     .header_row = true,
     .json_object = false,
     .own_record_ids = false,
     .names_ignore_case = false,
     .output = Format::kTsv,
     .writable = true,
     .separator = '\t',
     .field = TsvField},
    {.format = Format::kJsonLines,
     .name = "jsonl",
     .extensions = kJsonLinesExtensions,
     .header_row = false,
     .json_object = true,
     .own_record_ids = false,
     .names_ignore_case = false,
     .output = Format::kJsonLines,
     .writable = true},
    {.format = Format::kJsonArray,
     .name = "json",
     .extensions = {},
     .header_row = false,
     .json_object = true,
     .own_record_ids = false,
     .names_ignore_case = false,
     .output = Format::kJsonLines,
     .writable = false},
    {.format = Format::kEvtx,
     .name = "evtx",
     .extensions = kEvtxExtensions,
     .header_row = false,
     .json_object = true,
     .own_record_ids = true,
     .names_ignore_case = true,
     .output = Format::kJsonLines,
     .writable = false},
}};

}  // namespace

std::span<const FormatTraits> AllFormats() { return kFormats; }

const FormatTraits& FormatTraitsOf(Format format) {
  return kFormats[static_cast<size_t>(format)];
}

bool KeepsZeekLog(const FormatTraits& format) {
  return format.separator == '\t';
}

std::string FormatNameList(bool writable, std::string_view last) {
  std::vector<const char*> names;
  for (const FormatTraits& f : kFormats)
    if (f.writable || !writable) names.push_back(f.name);
  std::string out;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) out += i + 1 == names.size() ? last : std::string_view(", ");
    out += names[i];
  }
  return out;
}

}  // namespace eventquery
