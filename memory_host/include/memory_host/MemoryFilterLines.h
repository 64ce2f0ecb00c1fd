// In-memory host objects for condition lines: a line, an ordered line list
// and a filter definition. Reusable by tests, benchmarks and tools.
//
// A line keeps whatever bracket counts the module writes back, so a list
// yields its bracketed tree once (call ResetBrackets to build it again).
// Thread safety: none; one thread at a time.

#ifndef MEMORY_HOST_MEMORYFILTERLINES_H_
#define MEMORY_HOST_MEMORYFILTERLINES_H_

#include <cstdint>
#include <string>
#include <vector>

#include "filtermodule/FilterModule.h"

namespace memhost {

// One condition line, plain data: the fields the module reads through
// IFilterLine. A host that needs more of a line (how it was written)
// extends this type. A code outside the named ones is kept as given, as a
// host may hand the module any int32_t.
struct LineSpec {
  int32_t open = 0;  // opening brackets before the condition
  std::u16string field;
  filtermodule::FieldOperator op = filtermodule::kOpEquals;
  std::u16string value;
  filtermodule::FieldType type = filtermodule::kTypeText;
  int32_t close = 0;  // closing brackets after it
  filtermodule::LineLinkOperator link = filtermodule::kLinkAnd;  // to the next
  bool negate = false;
  bool has_tag = false;
  std::u16string tag;

  bool operator==(const LineSpec&) const = default;
};

class MemoryFilterLine final : public IFilterLine {
 public:
  MemoryFilterLine() = default;
  explicit MemoryFilterLine(LineSpec data) : data_(std::move(data)) {}

  int32_t GetOpenBrackets() override { return data_.open; }
  void SetOpenBrackets(int32_t count) override { data_.open = count; }
  int32_t GetCloseBrackets() override { return data_.close; }
  void SetCloseBrackets(int32_t count) override { data_.close = count; }
  bool GetNot() override { return data_.negate; }
  int32_t GetFieldOperator() override { return data_.op; }
  int32_t GetFieldType() override { return data_.type; }
  bool HasExtendedTag() override { return data_.has_tag; }
  const char16_t* GetTagName() override { return data_.tag.c_str(); }
  const char16_t* GetFieldName() override { return data_.field.c_str(); }
  int32_t GetLinkOperator() override { return data_.link; }
  const char16_t* GetValue() override { return data_.value.c_str(); }

  const LineSpec& data() const { return data_; }
  LineSpec& data() { return data_; }

 private:
  LineSpec data_;
};

class MemoryFilterLineList final : public IFilterLineList {
 public:
  MemoryFilterLineList() = default;
  explicit MemoryFilterLineList(const std::vector<LineSpec>& line_data);

  uint32_t GetLineCount() override {
    return static_cast<uint32_t>(lines_.size());
  }
  // Null for an index past the end.
  IFilterLine* GetLine(uint32_t index) override {
    return index < lines_.size() ? &lines_[index] : nullptr;
  }

  void Add(LineSpec data);
  MemoryFilterLine& line(size_t index) { return lines_[index]; }
  size_t size() const { return lines_.size(); }
  // Restores the bracket counts the lines were made with.
  void ResetBrackets();

 private:
  std::vector<MemoryFilterLine> lines_;
  std::vector<std::pair<int32_t, int32_t>> original_brackets_;
};

class MemoryFilterDefinition final : public IFilterDefinition {
 public:
  explicit MemoryFilterDefinition(IFilterLineList* lines) : lines_(lines) {}
  IFilterLineList* GetLineList() override { return lines_; }

 private:
  IFilterLineList* lines_;
};

}  // namespace memhost

#endif  // MEMORY_HOST_MEMORYFILTERLINES_H_
