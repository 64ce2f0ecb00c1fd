// The Security audit log's events that stand for Sysmon's: a process start
// (4688) for the process_creation category, a connection the filtering
// platform permitted (5156) for network_connection. A rule of such a
// category is also compiled for them (MappedForm), its fields renamed to
// the event's or to a field derived from the event's (the user from
// domain and name, the integrity level from the mandatory label's SID, a
// process id from hexadecimal). A condition on a field the mapping cannot
// give is false, negated or not, so such a form only detects what the
// fields it has decide.
//
// A FieldDeriver adds the derived fields to the events of the mappings it
// serves, as cells after the input's own columns, under names no event
// field has ("NewProcessId as decimal").
//
// Thread safety: the tables are constant; a FieldDeriver is used by one
// thread at a time.

#ifndef SIGMA_FIELDMAPPINGS_H_
#define SIGMA_FIELDMAPPINGS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "records/Record.h"

namespace eventquery::sigma {

struct MappedField {
  enum Kind : uint8_t {
    kSame,       // the event's field `from`, as it is
    kUser,       // `from` (the domain) and `also` (the name): DOMAIN\name
    kIntegrity,  // a mandatory label's SID as Low, Medium, High or System
    kHexNumber,  // 0x1a2c as 6700
    kInitiated,  // %%14593 (outbound) as true, %%14592 (inbound) as false
    kProtocol,   // 6 as tcp, 17 as udp
  };
  const char* rule_field;  // as the rules name it (Sysmon's)
  Kind kind;
  const char* from;
  const char* also = nullptr;  // kUser
};

struct FieldMapping {
  const char* category;  // the rules' log source category
  const char* channel;
  int event_id;
  const char* source;  // "Security 4688", for show and notes
  std::vector<MappedField> fields;
};

// The mappings of a Windows log source category (none for most).
std::vector<const FieldMapping*> MappingsOf(std::string_view category);
// Every mapping, for the README's table and tests.
const std::vector<FieldMapping>& AllMappings();
// The name a mapped rule field goes by in the form's lines: the event's
// field for kSame, else the derived field's name.
std::string MappedName(const MappedField& field);

// A rule field's cell on an event as a rule of `category` sees it: on an
// event of one of the category's mappings, the field the mapping gives
// for it, renamed or derived (into `scratch`), or nothing when it cannot;
// otherwise, and for a field the mapping does not list, the event's own
// field of that name. Cost: O(mapping fields + columns).
std::optional<std::string_view> RuleFieldCell(
    std::string_view category, const Record& record,
    const std::vector<std::string>& columns, std::string_view field,
    std::string& scratch);

class FieldDeriver {
 public:
  FieldDeriver() = default;
  // Derives the fields of `mappings`.
  explicit FieldDeriver(std::vector<const FieldMapping*> mappings);

  bool active() const { return !mappings_.empty(); }
  // The event fields the derived fields are made from.
  std::vector<std::string> sources() const;
  // The derived fields' names.
  const std::vector<std::string>& names() const { return names_; }
  // A new input: its columns are its own.
  void NewInput() { seen_ = SIZE_MAX; }
  // `columns` and then the derived fields' names. Costs O(columns) when
  // the input's columns changed since the last call, else O(1).
  const std::vector<std::string>& Columns(
      const std::vector<std::string>& columns);
  // Whether the last Columns() moved the derived fields (the input's
  // columns grew): whoever found them by name must find them again.
  bool moved() const { return moved_; }
  // `record` itself, or for an event of a mapping a copy with its derived
  // cells (valid until the next call), under Columns()' names. Costs
  // O(cells) for such an event, O(mappings) for others.
  const Record& Derive(const Record& record);

 private:
  struct Derived {
    const MappedField* field;
    size_t mapping;
    int64_t from = -1, also = -1;  // columns
  };
  std::optional<std::string_view> Cell(const Record& record,
                                       int64_t column) const;
  std::vector<const FieldMapping*> mappings_;
  std::vector<Derived> derived_;
  std::vector<std::string> names_, columns_;
  std::vector<std::string> ids_;  // per mapping, its event id as text
  int64_t channel_ = -1, event_id_ = -1;
  size_t seen_ = SIZE_MAX;
  bool moved_ = false;
  Record copy_;
  std::vector<std::string> text_;  // per derived field
};

}  // namespace eventquery::sigma

#endif  // SIGMA_FIELDMAPPINGS_H_
