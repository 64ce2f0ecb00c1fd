#include "evfilter/RowFeeder.h"

#include <algorithm>
#include <cctype>

#include "evfilter/CellReaders.h"
#include "textconv/Utf8.h"

namespace evfilter {
size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t above = row[j];
      const bool same = std::tolower(static_cast<unsigned char>(a[i - 1])) ==
                        std::tolower(static_cast<unsigned char>(b[j - 1]));
      row[j] =
          std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

RowFeeder::RowFeeder(const std::vector<memhost::LineSpec>& lines) {
  auto need = [this](const std::u16string& name, uint8_t kind,
                     bool implicit = false) {
    for (Field& f : fields_) {
      if (f.wide == name) {
        f.needs |= kind;
        f.implicit = f.implicit && implicit;
        return;
      }
    }
    fields_.push_back({textconv::ToUtf8(name), name, kind, -1, implicit});
  };
  for (const memhost::LineSpec& line : lines) {
    switch (line.type) {
      case 0:
        need(line.field, kNumber);
        break;
      case 1:
        need(line.field, kText);
        // An empty REL_EXT_TAGS is read from EXT_TAGS.
        if (EqualsNoCase(textconv::ToUtf8(line.field), "REL_EXT_TAGS"))
          need(u"EXT_TAGS", kText, /*implicit=*/true);
        break;
      case 2:
        need(line.field, kDate);
        break;
      case 3:
        need(line.field, kTime);
        break;
      default:
        break;  // the module reads nothing for other types
    }
  }
}

void RowFeeder::Resolve(const std::vector<std::string>& columns) {
  if (columns.size() == resolved_columns_) return;
  resolved_columns_ = columns.size();
  for (Field& f : fields_) {
    if (f.column >= 0) continue;
    for (size_t c = 0; c < columns.size(); ++c)
      if (columns[c] == f.name) f.column = static_cast<int64_t>(c);
    if (f.column >= 0) continue;
    for (size_t c = 0; c < columns.size(); ++c)
      if (EqualsNoCase(columns[c], f.name)) {
        f.column = static_cast<int64_t>(c);
        break;
      }
  }
}

std::optional<CellProblem> RowFeeder::Feed(
    const Record& record, const std::vector<std::string>& columns,
    memhost::MemoryDataRow& row) {
  Resolve(columns);
  row.Clear();
  for (const Field& f : fields_) {
    std::optional<std::string_view> cell;
    if (f.column >= 0 && static_cast<size_t>(f.column) < record.cells.size())
      cell = record.cells[static_cast<size_t>(f.column)];
    const std::string_view text = cell.value_or(std::string_view());
    auto problem = [&](const char* wanted) {
      return CellProblem{f.name, std::string(text), wanted, f.column < 0};
    };
    if (f.needs & kText) {
      text_.clear();
      textconv::AppendUtf16(text, text_);
      row.SetText(f.wide, text_);
    }
    if (f.needs & kNumber) {
      if (const auto i = ReadInteger(text)) {
        row.SetInteger(f.wide, *i);
      } else if (const auto r = ReadReal(text)) {
        row.SetReal(f.wide, *r);
      } else {
        return problem("a number");
      }
    }
    if (f.needs & kDate) {
      const auto d = ReadDate(text);
      if (!d) return problem("a date");
      row.SetDate(f.wide, *d);
    }
    if (f.needs & kTime) {
      const auto t = ReadTime(text);
      if (!t) return problem("a time");
      row.SetTime(f.wide, *t);
    }
  }
  return std::nullopt;
}

std::vector<std::pair<std::string, std::string>> RowFeeder::MissingFields(
    const std::vector<std::string>& columns) const {
  std::vector<std::pair<std::string, std::string>> missing;
  for (const Field& f : fields_) {
    if (f.implicit) continue;
    bool found = false;
    for (const std::string& c : columns)
      found = found || EqualsNoCase(c, f.name);
    if (found) continue;
    std::string closest;
    size_t best = SIZE_MAX;
    for (const std::string& c : columns) {
      const size_t d = EditDistance(f.name, c);
      if (d < best) {
        best = d;
        closest = c;
      }
    }
    missing.emplace_back(f.name, closest);
  }
  return missing;
}

}  // namespace evfilter
