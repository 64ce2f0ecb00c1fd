// FilterModule: an in-process filter engine for event-log rows.
//
// A host describes a filter as an ordered list of condition lines. Each line
// has opening and closing bracket counts, a field name, a field operator, a
// value, a NOT flag, a field type, an optional extended tag and a link
// operator that joins it to the next line. The module builds an expression
// tree from the lines once, then answers for every data row whether it
// matches, and derives integer interval sets for a numeric field on request.
//
// This header is everything a host compiles against; link `filtermodule`
// (CMake: find_package(FilterModule) and FilterModule::filtermodule;
// pkg-config: filtermodule). docs/HOST.md says what a host must know beyond
// these declarations: lifetimes, missing fields, what building writes into
// the lines, value forms, the failures that reach the host, and the log.
//
//   FilterDefinition def = ...;              // the host's IFilterDefinition
//   IFilter* filter = CreateFilterFromFilterDefinition(&def);
//   for (Row& row : rows)                    // the host's IDataRow objects
//     if (filter->IsMatch(&row)) Show(row);
//   INumericIntervalCollection* ids = filter->GetNumericIntervals(u"EventID");
//   for (uint32_t i = 0; i < ids->GetCount(); ++i)
//     Scan(ids->GetAt(i)->GetLower(), ids->GetAt(i)->GetUpper());
//   ids->Release();
//   DestroyFilter(filter);
//
// Texts are null-terminated UTF-16 (`char16_t`); a null text counts as empty.
//
// Codes used on condition lines (named below, in namespace filtermodule;
// the interfaces carry them as int32_t):
//   link operator  0 AND, 1 OR, 2 AND NOT, 3 OR NOT (joins a line to the next)
//   field operator 0 equals, 1 LIKE, 2 CONTAINS, 3 less, 4 greater,
//                  5 named period ("TODAY", "YESTERDAY", "LAST 30 DAYS",
//                  "THIS MONTH", "LAST MONTH")
//   field type     0 numeric, 1 text, 2 date (m/d/yyyy), 3 time (h:mm:ss AM)
// Lines are combined strictly left to right without precedence; brackets
// group. Text comparisons ignore case.
//
// Thread safety: a filter is used by one thread at a time (IsMatch writes
// into it). Separate filters may be used on separate threads at once; they
// share only the diagnostic log, which is safe for that. Interval sets are
// independent of the filter and may outlive it.
//
// The interfaces below are the module's binary interface: their operations
// and their order must not change.

#ifndef FILTERMODULE_FILTERMODULE_H_
#define FILTERMODULE_FILTERMODULE_H_

#include <cstdint>

#if defined(_WIN32)
#define FILTERMODULE_EXPORT __declspec(dllexport)
#else
#define FILTERMODULE_EXPORT __attribute__((visibility("default")))
#endif

namespace filtermodule {

// How a line joins the next one (IFilterLine::GetLinkOperator).
enum LineLinkOperator : int32_t {
  kLinkAnd = 0,
  kLinkOr = 1,
  kLinkAndNot = 2,
  kLinkOrNot = 3,
};

// How a line compares its field with its value
// (IFilterLine::GetFieldOperator).
enum FieldOperator : int32_t {
  kOpEquals = 0,
  kOpLike = 1,
  kOpContains = 2,
  kOpLess = 3,
  kOpGreater = 4,
  kOpNamedPeriod = 5,
};

// How a line reads its field from a row (IFilterLine::GetFieldType).
enum FieldType : int32_t {
  kTypeNumeric = 0,
  kTypeText = 1,
  kTypeDate = 2,
  kTypeTime = 3,
};

}  // namespace filtermodule

// A calendar date as the host's row gives it.
struct RowDate {
  int16_t year;
  uint16_t month;
  uint16_t day;
};

// A time of day on a 24-hour clock as the host's row gives it.
struct RowTime {
  uint16_t hour;
  uint16_t minute;
  uint16_t second;
};

// One condition line. The module writes the bracket counts back while it
// builds a tree: a line list yields its bracketed tree only once.
class IFilterLine {
 public:
  virtual int32_t GetOpenBrackets() = 0;
  virtual void SetOpenBrackets(int32_t count) = 0;
  virtual int32_t GetCloseBrackets() = 0;
  virtual void SetCloseBrackets(int32_t count) = 0;
  virtual bool GetNot() = 0;
  virtual int32_t GetFieldOperator() = 0;
  virtual int32_t GetFieldType() = 0;
  virtual bool HasExtendedTag() = 0;
  virtual const char16_t* GetTagName() = 0;
  virtual const char16_t* GetFieldName() = 0;
  virtual int32_t GetLinkOperator() = 0;
  virtual const char16_t* GetValue() = 0;

 protected:
  ~IFilterLine() = default;
};

// The ordered condition lines of a filter.
class IFilterLineList {
 public:
  virtual uint32_t GetLineCount() = 0;
  virtual IFilterLine* GetLine(uint32_t index) = 0;

 protected:
  ~IFilterLineList() = default;
};

// A host's filter definition; the module only asks it for its lines.
class IFilterDefinition {
 public:
  virtual IFilterLineList* GetLineList() = 0;

 protected:
  ~IFilterDefinition() = default;
};

// One data row, read by field name through typed accessors. A field-name
// pointer the module passes stays valid and unchanged for the life of the
// filter's tree, so a row may remember what it named (docs/HOST.md).
class IDataRow {
 public:
  // 1 when the numeric field holds an integer; anything else means real.
  virtual int32_t GetValueKind(const char16_t* field) = 0;
  // The text must stay unchanged until IsMatch returns: the module reads
  // it in place, when a comparison needs it.
  virtual const char16_t* GetText(const char16_t* field) = 0;
  virtual RowTime GetTime(const char16_t* field) = 0;
  virtual RowDate GetDate(const char16_t* field) = 0;
  virtual int32_t GetInteger(const char16_t* field) = 0;
  virtual double GetReal(const char16_t* field) = 0;

 protected:
  ~IDataRow() = default;
};

// A closed interval of 32-bit integers; empty when lower > upper.
class INumericInterval {
 public:
  virtual int32_t GetLower() = 0;
  virtual int32_t GetUpper() = 0;
  virtual bool Contains(int32_t value) = 0;

 protected:
  ~INumericInterval() = default;
};

// A set of intervals standing for their union. Intervals may overlap, touch
// or be empty, and are in no particular order. The caller owns the set and
// gives it back with Release.
class INumericIntervalCollection {
 public:
  virtual uint32_t GetCount() = 0;
  // Throws std::out_of_range for an index that is negative or >= GetCount().
  // The pointer stays valid until the set is released.
  virtual INumericInterval* GetAt(int32_t index) = 0;
  virtual void Release() = 0;
  // Does nothing.
  virtual void Reserved(int32_t a, int32_t b) = 0;

 protected:
  ~INumericIntervalCollection() = default;
};

// A filter. Create it with CreateFilter or CreateFilterFromFilterDefinition,
// end it with Release or DestroyFilter.
class IFilter {
 public:
  // Builds the filter from the definition's lines; null does nothing.
  virtual void InitFromDefinition(IFilterDefinition* definition) = 0;
  // Builds the filter from the lines (null: an empty filter matching every
  // row). A second call replaces the earlier tree.
  virtual void Init(IFilterLineList* lines) = 0;
  // True when the row matches. A filter never initialised matches every row.
  // Failures of the row's accessors reach the caller; a null row throws
  // std::invalid_argument when the filter has conditions to load.
  virtual bool IsMatch(IDataRow* row) = 0;
  // A new interval set that holds every value of `field` at which a row can
  // match the filter's numeric conditions on it. Never null.
  virtual INumericIntervalCollection* GetNumericIntervals(
      const char16_t* field) = 0;
  // Destroys the filter.
  virtual void Release() = 0;

 protected:
  ~IFilter() = default;
};

extern "C" {
// A new, uninitialised filter; null on failure.
FILTERMODULE_EXPORT IFilter* CreateFilter();
// A new filter initialised from `definition`; null on failure.
FILTERMODULE_EXPORT IFilter* CreateFilterFromFilterDefinition(
    IFilterDefinition* definition);
// Destroys a filter made by this module; null is ignored.
FILTERMODULE_EXPORT void DestroyFilter(IFilter* filter);
}

#endif  // FILTERMODULE_FILTERMODULE_H_
