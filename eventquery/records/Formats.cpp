#include "records/Formats.h"

#include <array>
#include <vector>

namespace eventquery {
namespace {

constexpr const char* kCsvExtensions[] = {".csv"};
constexpr const char* kTsvExtensions[] = {".tsv", ".tab"};
constexpr const char* kJsonLinesExtensions[] = {".jsonl", ".ndjson"};
constexpr const char* kEvtxExtensions[] = {".evtx"};

// One row per format, in the enum's order.
constexpr std::array<FormatTraits, 5> kFormats = {{
    // format, name, extensions, header_row, json_object, own_record_ids,
    // names_ignore_case, output, writable
    {Format::kCsv, "csv", kCsvExtensions, true, false, false, false,
     Format::kCsv, true},
    {Format::kTsv, "tsv", kTsvExtensions, true, false, false, false,
     Format::kTsv, true},
    {Format::kJsonLines, "jsonl", kJsonLinesExtensions, false, true, false,
     false, Format::kJsonLines, true},
    {Format::kJsonArray,
     "json",
     {},
     false,
     true,
     false,
     false,
     Format::kJsonLines,
     false},
    {Format::kEvtx, "evtx", kEvtxExtensions, false, true, true, true,
     Format::kJsonLines, false},
}};

}  // namespace

std::span<const FormatTraits> AllFormats() { return kFormats; }

const FormatTraits& FormatTraitsOf(Format format) {
  return kFormats[static_cast<size_t>(format)];
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
