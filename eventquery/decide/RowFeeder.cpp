#include "decide/RowFeeder.h"

#include <algorithm>
#include <cctype>

#include "common/Ascii.h"
#include "common/Utf8.h"
#include "decide/BuiltFilter.h"
#include "query/ValueForms.h"
#include "records/FieldColumns.h"

namespace eventquery {

RowFeeder::RowFeeder(const std::vector<ConditionLine>& lines, Zone zone)
    : zone_(zone) {
  auto need = [this](const std::u16string& name, uint8_t kind,
                     bool implicit = false) -> uint32_t {
    for (size_t i = 0; i < fields_.size(); ++i) {
      Field& f = fields_[i];
      if (f.wide == name) {
        f.needs |= kind;
        f.implicit = f.implicit && implicit;
        return static_cast<uint32_t>(i);
      }
    }
    Field f;
    f.name = common::ToUtf8(name);
    f.wide = name;
    f.needs = kind;
    f.implicit = implicit;
    fields_.push_back(std::move(f));
    return static_cast<uint32_t>(fields_.size() - 1);
  };
  std::vector<HostCheck> checks;
  for (const ConditionLine& line : lines) {
    Condition c;
    c.type = line.type;
    c.op = line.op;
    c.unusable = UnusableMark(line);
    switch (line.type) {
      case 0:
        c.field = need(line.field, kNumber);
        if (line.op == kOpEquals || line.op == kOpLess || line.op == kOpGreater)
          PlainDecimal(common::ToUtf8(line.value), c.plain_value);
        break;
      case 2:
        c.field = need(line.field, kDate);
        break;
      case 3:
        c.field = need(line.field, kTime);
        if ((line.op == kOpEquals || line.op == kOpLess ||
             line.op == kOpGreater) &&
            !line.matches)
          c.value_seconds =
              SecondsOfDay(common::ToUtf8(line.value)).value_or(-1);
        c.nanoseconds = line.nanoseconds;
        break;
      default:
        c.field = need(line.field, kText);
        // An empty REL_EXT_TAGS is read from EXT_TAGS.
        if (common::EqualsNoCase(common::ToUtf8(line.field), "REL_EXT_TAGS"))
          need(u"EXT_TAGS", kText, /*implicit=*/true);
        break;
    }
    if (line.matches) {
      HostCheck check;
      check.kind = HostCheck::kRegex;
      check.line = conditions_.size();
      check.field = common::ToUtf8(line.field);
      check.absent_is_empty = true;
      std::string error;
      check.regex = CompileMatches(line.value, &error);
      if (!check.regex)
        throw BuildError("'" + common::ToUtf8(line.value) +
                         "' is no regular expression: " + error);
      c.host_slot = checks.size();
      host_conditions_.push_back(conditions_.size());
      checks.push_back(std::move(check));
    }
    conditions_.push_back(std::move(c));
  }
  host_.Add(checks);
  columns_ = FieldColumns(field_names());
}

void RowFeeder::ResetColumns() {
  columns_.Reset();
  host_.ResetColumns();
}

void RowFeeder::ForgetColumns(const std::vector<std::string>& names) {
  columns_.Forget(names);
  host_.ForgetColumns(names);
}

bool RowFeeder::Feed(const Record& record,
                     const std::vector<std::string>& columns,
                     memhost::MemoryDataRow& row, std::string& forced,
                     std::vector<FeedNote>* notes) {
  Load(record, columns, row, notes);
  return MarksFor(0, conditions_.size(), forced);
}

void RowFeeder::Load(const Record& record,
                     const std::vector<std::string>& columns,
                     memhost::MemoryDataRow& row,
                     std::vector<FeedNote>* notes) {
  row.Clear();
  for (uint32_t index = 0; index < fields_.size(); ++index) {
    Field& f = fields_[index];
    f.usable = 0;
    f.inexact = false;
    const std::optional<std::string_view> cell =
        columns_.Cell(record, columns, index);
    // The module reads a text up to its first NUL, so "admin\0evil" would
    // pass for "admin": such a value is no text it can be given.
    const bool has_nul = cell && cell->find('\0') != std::string_view::npos;
    size_t invalid = 0;
    if ((f.needs & kText) && !has_nul) {
      text_.clear();
      // Invalid bytes stay apart: 'J\xf6rg' must not equal 'J\xfcrg'.
      if (cell) invalid = common::AppendUtf16Marked(*cell, text_, true);
      row.SetText(f.wide, text_);
      f.usable |= kText;
    }
    if (invalid > 0 && notes != nullptr)
      notes->push_back(
          {FeedNote::kNotUtf8, index, "UTF-8", common::Printable(*cell)});
    // A typed condition on no value (absent, null, blank) is false; only a
    // value that is there and cannot be read is worth a note.
    if (!cell || IsBlankCell(*cell)) continue;
    auto unreadable = [&](const char* wanted) {
      if (notes != nullptr)
        notes->push_back(
            {FeedNote::kUnreadable, index, wanted, std::string(*cell)});
    };
    if ((f.needs & kText) && has_nul && notes != nullptr)
      notes->push_back({FeedNote::kUnreadable, index, kTextWithoutNul,
                        common::Printable(*cell)});
    if (f.needs & kNumber) {
      if (const auto n = ReadNumber(*cell, scratch_)) {
        if (n->integer)
          row.SetInteger(f.wide, n->whole);
        else
          row.SetReal(f.wide, n->real);
        f.usable |= kNumber;
        if (!n->exact) {
          f.inexact = true;
          f.plain = scratch_;
          RenderedPlain(n->real, f.rendered);
          if (notes != nullptr)
            notes->push_back(
                {FeedNote::kInexact, index, "a number", std::string(*cell)});
        }
      } else {
        unreadable("a number");
      }
    }
    if (f.needs & kDate) {
      if (const auto d = ReadDate(*cell, zone_)) {
        row.SetDate(f.wide, *d);
        f.usable |= kDate;
      } else {
        unreadable("a date");
      }
    }
    if (f.needs & kTime) {
      if (const auto t = ReadPreciseTime(*cell, zone_)) {
        row.SetTime(f.wide, t->time);
        f.usable |= kTime;
        f.seconds = t->time.hour * 3600 + t->time.minute * 60 + t->time.second;
        f.nanoseconds = t->nanoseconds;
      } else {
        unreadable("a time");
      }
    }
  }
  if (!host_conditions_.empty()) host_.Resolve(columns);
  for (const size_t i : host_conditions_) {
    Condition& c = conditions_[i];
    c.host_mark =
        host_.Decide(c.host_slot, record) ? kForcedTrue : kForcedFalse;
  }
}

bool RowFeeder::MarksFor(size_t first, size_t count,
                         std::string& forced) const {
  forced.assign(count, kLoaded);
  bool any = false;
  for (size_t i = 0; i < count; ++i) {
    const Condition& c = conditions_[first + i];
    if (c.host_slot != SIZE_MAX) {
      forced[i] = c.host_mark;
      any = true;
      continue;
    }
    const Field& f = fields_[c.field];
    const uint8_t need = c.type == kTypeNumeric ? kNumber
                         : c.type == kTypeDate  ? kDate
                         : c.type == kTypeTime  ? kTime
                                                : kText;
    if ((f.usable & need) == 0) {
      forced[i] = c.unusable;
      any = true;
      continue;
    }
    auto holds = [&c](int order) {
      return c.op == kOpEquals ? order == 0
             : c.op == kOpLess ? order < 0
                               : order > 0;
    };
    if (need == kNumber && f.inexact && !c.plain_value.empty()) {
      // Decide exactly where the module's rounded view would decide wrong.
      const int exact = ComparePlain(f.plain, c.plain_value);
      const int seen = ComparePlain(f.rendered, c.plain_value);
      if (holds(exact) != holds(seen)) {
        forced[i] = holds(exact) ? kForcedTrue : kForcedFalse;
        any = true;
      }
    }
    // In the value's second the module sees two equal times; the fractions
    // decide.
    if (need == kTime && c.value_seconds == f.seconds &&
        c.nanoseconds != f.nanoseconds) {
      forced[i] = holds(f.nanoseconds < c.nanoseconds ? -1 : 1) ? kForcedTrue
                                                                : kForcedFalse;
      any = true;
    }
  }
  return any;
}

std::vector<std::string> RowFeeder::field_names() const {
  std::vector<std::string> names;
  for (const Field& f : fields_) names.push_back(f.name);
  return names;
}

std::vector<std::pair<std::string, std::string>> RowFeeder::MissingFields(
    const std::vector<std::string>& columns,
    const std::vector<std::string>& hints) const {
  std::vector<std::string> named;
  for (const Field& f : fields_)
    if (!f.implicit) named.push_back(f.name);
  return MissingNames(named, columns, hints);
}

}  // namespace eventquery
