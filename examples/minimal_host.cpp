// The smallest complete host of FilterModule: it filters its own event
// records with one filter built from its own condition lines, and asks the
// filter which event IDs can match at all. It uses only the public header;
// docs/HOST.md explains the rules it follows.
//
// Output:
//   match: 4624 admin
//   match: 4625 Administrator
//   2 of 4 rows match
//   EventID can match in [4624, 4624]
//   EventID can match in [4625, 4625]
// (the intervals may come in another order or be joined).

#include <filtermodule/FilterModule.h>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

namespace {

// --- The host's own data.
struct Event {
  int32_t id;
  std::u16string user;
};

// One condition as the host stores it.
struct Condition {
  int32_t open_brackets;
  const char16_t* field;
  int32_t field_operator;  // 0 equals, 1 LIKE, ...
  const char16_t* value;
  int32_t field_type;  // 0 numeric, 1 text, ...
  int32_t close_brackets;
  int32_t link;  // to the next condition: 0 AND, 1 OR, ...
};

// Field names reach the row as they are written on the lines; this host
// accepts them in any ASCII case.
bool SameName(const char16_t* a, const char16_t* b) {
  auto lower = [](char16_t c) -> char16_t {
    return c >= u'A' && c <= u'Z' ? c + (u'a' - u'A') : c;
  };
  for (; *a && *b; ++a, ++b)
    if (lower(*a) != lower(*b)) return false;
  return *a == *b;
}

// --- The host's side of the module's interfaces.

// A row over one event; pointed at each event in turn.
class EventRow final : public IDataRow {
 public:
  void Point(const Event& event) { event_ = &event; }

  int32_t GetValueKind(const char16_t*) override { return 1; }  // integers
  // The text lives in the event, which outlives the call.
  const char16_t* GetText(const char16_t* field) override {
    return SameName(field, u"User") ? event_->user.c_str() : u"";
  }
  int32_t GetInteger(const char16_t* field) override {
    return SameName(field, u"EventID") ? event_->id : 0;
  }
  double GetReal(const char16_t* field) override { return GetInteger(field); }
  // This host has no date or time fields; its filters use none.
  RowTime GetTime(const char16_t*) override { return {0, 0, 0}; }
  RowDate GetDate(const char16_t*) override { return {1900, 1, 1}; }

 private:
  const Event* event_ = nullptr;
};

// A line over one condition. Building the filter counts the brackets down,
// so the line keeps its own copies and the host's conditions stay intact.
class ConditionLine final : public IFilterLine {
 public:
  explicit ConditionLine(const Condition& c)
      : c_(c), open_(c.open_brackets), close_(c.close_brackets) {}

  int32_t GetOpenBrackets() override { return open_; }
  void SetOpenBrackets(int32_t count) override { open_ = count; }
  int32_t GetCloseBrackets() override { return close_; }
  void SetCloseBrackets(int32_t count) override { close_ = count; }
  bool GetNot() override { return false; }
  int32_t GetFieldOperator() override { return c_.field_operator; }
  int32_t GetFieldType() override { return c_.field_type; }
  bool HasExtendedTag() override { return false; }
  const char16_t* GetTagName() override { return u""; }
  const char16_t* GetFieldName() override { return c_.field; }
  int32_t GetLinkOperator() override { return c_.link; }
  const char16_t* GetValue() override { return c_.value; }

 private:
  const Condition& c_;
  int32_t open_;
  int32_t close_;
};

class ConditionList final : public IFilterLineList {
 public:
  explicit ConditionList(const std::vector<Condition>& conditions)
      : lines_(conditions.begin(), conditions.end()) {}

  uint32_t GetLineCount() override {
    return static_cast<uint32_t>(lines_.size());
  }
  IFilterLine* GetLine(uint32_t index) override { return &lines_.at(index); }

 private:
  std::vector<ConditionLine> lines_;
};

}  // namespace

int main() {
  const std::vector<Event> events = {{4624, u"admin"},
                                     {4625, u"Administrator"},
                                     {4625, u"guest"},
                                     {4688, u"admin"}};
  // (EventID = 4624 OR EventID = 4625) AND User LIKE "adm*"
  const std::vector<Condition> conditions = {
      {1, u"EventID", 0, u"4624", 0, 0, 1},
      {0, u"EventID", 0, u"4625", 0, 1, 0},
      {0, u"User", 1, u"adm*", 1, 0, 0}};

  ConditionList lines(conditions);
  IFilter* filter = CreateFilter();
  if (filter == nullptr) return 1;
  filter->Init(&lines);  // reads the lines now; they may go after this

  EventRow row;
  int matches = 0;
  for (const Event& event : events) {
    row.Point(event);
    // A row that cannot be read reaches the host as an exception; catch it
    // here, on the host's side of the library.
    try {
      if (filter->IsMatch(&row)) {
        ++matches;
        std::printf("match: %d %s\n", event.id,
                    std::string(event.user.begin(), event.user.end()).c_str());
      }
    } catch (const std::exception& e) {
      std::printf("row %d not read: %s\n", event.id, e.what());
    }
  }
  std::printf("%d of %zu rows match\n", matches, events.size());

  // Which event IDs can match at all: a host may narrow its scan to them.
  INumericIntervalCollection* ids = filter->GetNumericIntervals(u"EventID");
  for (uint32_t i = 0; i < ids->GetCount(); ++i) {
    INumericInterval* interval = ids->GetAt(static_cast<int32_t>(i));
    std::printf("EventID can match in [%d, %d]\n", interval->GetLower(),
                interval->GetUpper());
  }
  ids->Release();
  DestroyFilter(filter);
  return matches == 2 ? 0 : 1;
}
