#include "records/RecordReader.h"

#include <set>

#include "Readers.h"

namespace eventquery {

std::vector<std::string> UniqueColumnNames(std::vector<std::string> names,
                                           std::vector<std::string>* notes) {
  std::set<std::string> taken(names.begin(), names.end());
  std::set<std::string> seen;
  for (std::string& name : names) {
    if (seen.insert(name).second) continue;
    for (int k = 2;; ++k) {
      std::string candidate = name + "_" + std::to_string(k);
      if (taken.count(candidate) != 0) continue;
      if (notes != nullptr)
        notes->push_back("'" + name + "' renamed '" + candidate + "'");
      taken.insert(candidate);
      seen.insert(candidate);
      name = std::move(candidate);
      break;
    }
  }
  return names;
}

std::unique_ptr<RecordReader> MakeRecordReader(Format format, std::FILE* file,
                                               bool at_file_start) {
  switch (format) {
    case Format::kCsv:
      return MakeCsvReader(file, at_file_start);
    case Format::kTsv:
      return MakeTsvReader(file, at_file_start);
    case Format::kJsonLines:
      return MakeJsonLinesReader(file, at_file_start);
    case Format::kJsonArray:
      return MakeJsonArrayReader(file, at_file_start);
    case Format::kEvtx:
      return MakeEvtxReader(file, 0, false);
  }
  return nullptr;
}

std::unique_ptr<RecordReader> MakeRecordReader(const Input& input) {
  if (input.format() == Format::kEvtx)
    return MakeEvtxReader(input.file(), input.piece() ? input.first_line() : 0,
                          input.piece());
  return MakeRecordReader(input.format(), input.file(), input.at_file_start());
}

}  // namespace eventquery
