#include "ZeekLog.h"

#include <algorithm>

#include "records/Record.h"

namespace eventquery {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Appends `text` with each \xHH as its byte; other text as it is.
void AppendUnescaped(std::string_view text, std::string& out) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x' &&
        HexDigit(text[i + 2]) >= 0 && HexDigit(text[i + 3]) >= 0) {
      out.push_back(static_cast<char>(HexDigit(text[i + 2]) * 16 +
                                      HexDigit(text[i + 3])));
      i += 3;
      continue;
    }
    out.push_back(text[i]);
  }
}

}  // namespace

bool ZeekPreamble::Starts(std::string_view first_line) {
  return first_line.starts_with("#separator ");
}

std::string ZeekPreamble::Unescaped(std::string_view text) {
  std::string out;
  AppendUnescaped(text, out);
  return out;
}

void ZeekPreamble::Take(std::string_view line, uint64_t line_number) {
  const std::string where = "line " + std::to_string(line_number) + ": ";
  if (line.starts_with("#separator ")) {
    const std::string sep = Unescaped(line.substr(11));
    if (sep.size() != 1)
      throw InputError(where + "the Zeek log's #separator is not one byte");
    separator_ = sep[0];
    return;
  }
  // The other lines are a name, the separator, and values.
  const size_t cut = line.find(separator_);
  const std::string_view key = line.substr(0, cut);
  std::vector<std::string> values;
  if (cut != std::string_view::npos) {
    std::string_view rest = line.substr(cut + 1);
    for (;;) {
      const size_t next = rest.find(separator_);
      values.push_back(Unescaped(rest.substr(0, next)));
      if (next == std::string_view::npos) break;
      rest = rest.substr(next + 1);
    }
  }
  if (key == "#fields") {
    if (values.empty() || values[0].empty())
      throw InputError(where + "the Zeek log's #fields line names no field");
    names_ = std::move(values);
  } else if (key == "#types") {
    types_ = std::move(values);
    types_seen_ = true;
  } else if (key == "#empty_field" && values.size() == 1) {
    empty_ = values[0];
  } else if (key == "#unset_field" && values.size() == 1) {
    unset_ = values[0];
  } else if (key == "#path" && values.size() == 1) {
    path_ = values[0];
  }
  // #set_separator, #open and others say nothing about the cells.
}

void ZeekPreamble::Finish() const {
  if (names_.empty())
    throw InputError(
        "the Zeek log has no #fields line before its first record");
}

void ZeekPreamble::Split(
    std::string_view raw, std::string& arena,
    std::vector<std::optional<std::string_view>>& cells) const {
  cells.clear();
  arena.clear();
  arena.reserve(raw.size());
  // Unescaping only shrinks a cell, so the arena never grows past the
  // reservation and its views stay valid.
  size_t i = 0;
  for (;;) {
    const size_t cut = std::min(raw.find(separator_, i), raw.size());
    const std::string_view cell = raw.substr(i, cut - i);
    if (cell == unset_) {
      cells.emplace_back(std::nullopt);
    } else if (cell == empty_) {
      cells.emplace_back(std::string_view());
    } else if (cell.find("\\x") == std::string_view::npos) {
      cells.emplace_back(cell);
    } else {
      const size_t begin = arena.size();
      AppendUnescaped(cell, arena);
      cells.emplace_back(
          std::string_view(arena.data() + begin, arena.size() - begin));
    }
    if (cut >= raw.size()) break;
    i = cut + 1;
  }
}

std::vector<std::pair<std::string, std::string>> ZeekPreamble::DeclaredTypes()
    const {
  std::vector<std::pair<std::string, std::string>> declared;
  for (size_t i = 0; i < names_.size() && i < types_.size(); ++i) {
    const std::string& t = types_[i];
    if (t == "time") continue;
    const bool numeric = t == "count" || t == "int" || t == "double" ||
                         t == "port" || t == "interval";
    declared.emplace_back(names_[i], numeric ? "numeric" : "text");
  }
  return declared;
}

}  // namespace eventquery
