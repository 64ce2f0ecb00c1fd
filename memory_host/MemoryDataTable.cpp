#include "memory_host/MemoryDataTable.h"
#include "NameMatch.h"

#include <atomic>
#include <stdexcept>

namespace memhost {

uint64_t MemoryDataTable::Layout::Next() {
  static std::atomic<uint64_t> next{1};
  return next.fetch_add(1, std::memory_order_relaxed);
}

size_t MemoryDataTable::AddColumn(std::u16string name, Kind kind) {
  // A column added later would be shorter than the rows.
  if (rows_ > 0) throw std::logic_error("AddColumn after AddRow");
  Column column;
  column.name = std::move(name);
  column.kind = kind;
  column.texts.push_back(u'\0');  // offset 0: the empty text
  columns_.push_back(std::move(column));
  layout_.value = Layout::Next();
  return columns_.size() - 1;
}

size_t MemoryDataTable::AddRow() {
  for (Column& c : columns_) {
    switch (c.kind) {
      case Kind::kText:
        c.text_offsets.push_back(0);
        break;
      case Kind::kInteger:
        c.integers.push_back(0);
        break;
      case Kind::kReal:
        c.reals.push_back(0);
        break;
      case Kind::kDate:
        c.dates.push_back(RowDate{0, 0, 0});
        break;
      case Kind::kTime:
        c.times.push_back(RowTime{0, 0, 0});
        break;
    }
  }
  return rows_++;
}

void MemoryDataTable::SetText(size_t column, std::u16string_view text) {
  Column& c = columns_.at(column);
  c.text_offsets.at(rows_ - 1) = c.texts.size();
  c.texts.append(text);
  c.texts.push_back(u'\0');
}

void MemoryDataTable::SetInteger(size_t column, int32_t value) {
  columns_.at(column).integers.at(rows_ - 1) = value;
}

void MemoryDataTable::SetReal(size_t column, double value) {
  columns_.at(column).reals.at(rows_ - 1) = value;
}

void MemoryDataTable::SetDate(size_t column, RowDate date) {
  columns_.at(column).dates.at(rows_ - 1) = date;
}

void MemoryDataTable::SetTime(size_t column, RowTime time) {
  columns_.at(column).times.at(rows_ - 1) = time;
}

// A filter passes the same, unchanged name texts for its whole life: a text
// seen before names the column it named then. A text lives in its home
// slot or one of the next kProbes - 1 (texts whose homes collide would
// otherwise evict each other on every row). Inline: every accessor call
// starts here.
inline const void* MemoryDataTable::Cursor::FindColumn(const char16_t* field,
                                                       Kind kind) {
  // A cursor on no row (an empty table, a Seek past the end) reads empty.
  if (row_ >= table_->rows_) return nullptr;
  size_t at = NameSlot<kHintBits>(field);
  for (size_t probe = 0; probe < kProbes; ++probe) {
    const Hint& hint = hints_[(at + probe) & (kHints - 1)];
    if (hint.field == field && hint.layout == table_->layout_.value) {
      const auto* column =
          static_cast<const MemoryDataTable::Column*>(hint.column);
      return column != nullptr && column->kind == kind ? column : nullptr;
    }
    if (hint.field == nullptr) break;
  }
  return FindColumnByName(field, kind);
}

const void* MemoryDataTable::Cursor::FindColumnByName(const char16_t* field,
                                                      Kind kind) {
  if (field == nullptr) return nullptr;
  const MemoryDataTable::Column* found = nullptr;
  for (const MemoryDataTable::Column& c : table_->columns_)
    if (SameName(c.name, field)) {
      found = &c;
      break;
    }
  // Remembered in the first free or outdated slot of its run, else in its
  // home slot.
  const size_t home = NameSlot<kHintBits>(field);
  size_t slot = home;
  for (size_t probe = 0; probe < kProbes; ++probe) {
    const size_t at = (home + probe) & (kHints - 1);
    if (hints_[at].field == nullptr ||
        hints_[at].layout != table_->layout_.value) {
      slot = at;
      break;
    }
  }
  hints_[slot] = Hint{field, table_->layout_.value, found};
  return found != nullptr && found->kind == kind ? found : nullptr;
}

int32_t MemoryDataTable::Cursor::GetValueKind(const char16_t* field) {
  return FindColumn(field, Kind::kReal) != nullptr ? 0 : 1;
}

const char16_t* MemoryDataTable::Cursor::GetText(const char16_t* field) {
  const auto* c = static_cast<const MemoryDataTable::Column*>(
      FindColumn(field, Kind::kText));
  return c != nullptr ? c->texts.data() + c->text_offsets[row_] : u"";
}

RowTime MemoryDataTable::Cursor::GetTime(const char16_t* field) {
  const auto* c = static_cast<const MemoryDataTable::Column*>(
      FindColumn(field, Kind::kTime));
  return c != nullptr ? c->times[row_] : RowTime{0, 0, 0};
}

RowDate MemoryDataTable::Cursor::GetDate(const char16_t* field) {
  const auto* c = static_cast<const MemoryDataTable::Column*>(
      FindColumn(field, Kind::kDate));
  return c != nullptr ? c->dates[row_] : RowDate{0, 0, 0};
}

int32_t MemoryDataTable::Cursor::GetInteger(const char16_t* field) {
  const auto* c = static_cast<const MemoryDataTable::Column*>(
      FindColumn(field, Kind::kInteger));
  return c != nullptr ? c->integers[row_] : 0;
}

double MemoryDataTable::Cursor::GetReal(const char16_t* field) {
  if (const auto* c = static_cast<const MemoryDataTable::Column*>(
          FindColumn(field, Kind::kReal)))
    return c->reals[row_];
  return GetInteger(field);
}

}  // namespace memhost
