#include "records/JsonCells.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <new>
#include <string>

#include "common/Ascii.h"
#include "common/Utf8.h"

namespace eventquery {
namespace {

// Objects sampled for hints, and the most names kept.
constexpr uint64_t kHintRecords = 64;
constexpr size_t kMaxHints = 2000;

// `name` in ASCII lower case without its spaces: two names a field lookup
// may take for one another are the same so.
std::string Squeezed(std::string_view name) {
  std::string out;
  for (const char c : name)
    if (c != ' ') out.push_back(common::AsciiLower(c));
  return out;
}

}  // namespace

bool AppendJsonCell(simdjson::dom::element value, std::string& out) {
  switch (value.type()) {
    case simdjson::dom::element_type::STRING:
      out.append(std::string_view(value.get_string().value_unsafe()));
      return true;
    case simdjson::dom::element_type::NULL_VALUE:
      return false;
    case simdjson::dom::element_type::INT64: {
      char buf[32];
      auto r = std::to_chars(buf, buf + 32, value.get_int64().value_unsafe());
      out.append(buf, r.ptr);
      return true;
    }
    case simdjson::dom::element_type::UINT64: {
      char buf[32];
      auto r = std::to_chars(buf, buf + 32, value.get_uint64().value_unsafe());
      out.append(buf, r.ptr);
      return true;
    }
    case simdjson::dom::element_type::DOUBLE: {
      char buf[64];
      auto r = std::to_chars(buf, buf + 64, value.get_double().value_unsafe());
      out.append(buf, r.ptr);
      return true;
    }
    case simdjson::dom::element_type::BOOL:
      out.append(value.get_bool().value_unsafe() ? "true" : "false");
      return true;
    default:
      out.append(simdjson::minify(value));
      return true;
  }
}

namespace {

// journald writes a field that is no valid UTF-8 text, or holds control
// characters, as an array of its bytes. Appends those bytes; false (and
// nothing appended) for an array that is not all numbers 0 to 255.
bool AppendByteArray(simdjson::dom::element value, std::string& out) {
  simdjson::dom::array array;
  if (value.get(array) != simdjson::SUCCESS || array.size() == 0) return false;
  const size_t start = out.size();
  for (auto element : array) {
    int64_t byte = -1;
    if (element.get(byte) != simdjson::SUCCESS || byte < 0 || byte > 255) {
      out.resize(start);
      return false;
    }
    out.push_back(static_cast<char>(byte));
  }
  return true;
}

bool IsJournalRecord(simdjson::dom::object object) {
  simdjson::dom::element unused;
  return object.at_key("__REALTIME_TIMESTAMP").get(unused) ==
             simdjson::SUCCESS ||
         object.at_key("__CURSOR").get(unused) == simdjson::SUCCESS;
}

bool IsNested(simdjson::dom::element value) {
  return value.type() == simdjson::dom::element_type::OBJECT ||
         value.type() == simdjson::dom::element_type::ARRAY;
}

// An array index: digits only, no leading zero.
bool Index(std::string_view s, size_t* index) {
  if (s.empty() || (s.size() > 1 && s[0] == '0')) return false;
  const auto r = std::from_chars(s.data(), s.data() + s.size(), *index);
  return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

}  // namespace

bool FindPath(simdjson::dom::element value, std::string_view path,
              simdjson::dom::element* found) {
  simdjson::dom::object object;
  simdjson::dom::array array;
  if (value.get(object) == simdjson::SUCCESS) {
    if (object.at_key(path).get(*found) == simdjson::SUCCESS) return true;
    for (size_t dot = path.find('.'); dot != std::string_view::npos;
         dot = path.find('.', dot + 1)) {
      simdjson::dom::element inner;
      if (object.at_key(path.substr(0, dot)).get(inner) == simdjson::SUCCESS &&
          FindPath(inner, path.substr(dot + 1), found))
        return true;
    }
    return false;
  }
  if (value.get(array) == simdjson::SUCCESS) {
    const size_t dot = path.find('.');
    size_t index = 0;
    if (!Index(path.substr(0, dot), &index)) return false;
    simdjson::dom::element inner;
    if (array.at(index).get(inner) != simdjson::SUCCESS) return false;
    if (dot == std::string_view::npos) {
      *found = inner;
      return true;
    }
    return FindPath(inner, path.substr(dot + 1), found);
  }
  return false;
}

void JsonCells::WantFields(const std::vector<std::string>& names) {
  paths_.clear();
  wanted_.clear();
  for (const std::string& name : names) {
    if (name.find('.') != std::string::npos) paths_.push_back(name);
    wanted_.push_back(Squeezed(name));
  }
  for (size_t c = 0; c < columns_.size(); ++c)
    wanted_column_[c] = Wanted(columns_[c]);
}

void JsonCells::FillWantedOnly() { wanted_only_ = true; }

bool JsonCells::Wanted(std::string_view name) const {
  const std::string squeezed = Squeezed(name);
  return std::find(wanted_.begin(), wanted_.end(), squeezed) != wanted_.end();
}

size_t JsonCells::Column(std::string_view name, Record& record) {
  auto found = index_.find(name);
  if (found != index_.end()) return found->second;
  const size_t column = columns_.size();
  columns_.emplace_back(name);
  index_.emplace(std::string(name), column);
  record.cells.emplace_back(std::nullopt);
  filled_.push_back(false);
  wanted_column_.push_back(Wanted(name));
  return column;
}

void JsonCells::Collect(simdjson::dom::element value,
                        const std::string& prefix) {
  if (hints_.size() >= kMaxHints) return;
  simdjson::dom::object object;
  simdjson::dom::array array;
  if (value.get(object) == simdjson::SUCCESS) {
    for (auto field : object)
      Collect(field.value, prefix + std::string(field.key) + ".");
    return;
  }
  if (value.get(array) == simdjson::SUCCESS) {
    size_t i = 0;
    for (auto element : array) {
      if (i == 8) break;  // a few indexes show the way
      Collect(element, prefix + std::to_string(i++) + ".");
    }
    return;
  }
  if (prefix.size() > 1) hints_.insert(prefix.substr(0, prefix.size() - 1));
}

void JsonCells::Fill(std::string_view text, Record& record) {
  record.problem.clear();
  record.fatal = false;
  record.keys.clear();
  record.nested.clear();
  record.cells.clear();
  simdjson::dom::element doc;
  simdjson::error_code error;
  try {
    padded_.assign(text.data(), text.size());
    padded_.append(simdjson::SIMDJSON_PADDING, '\0');
    error = parser_.parse(padded_.data(), text.size(), false).get(doc);
  } catch (const std::bad_alloc&) {
    error = simdjson::MEMALLOC;
  }
  if (error != simdjson::SUCCESS) {
    // A parser that failed may keep a half-made state, and the next text
    // would be parsed with it (simdjson's second stage crashed on it): the
    // next text gets a new parser.
    parser_ = simdjson::dom::parser();
    padded_.clear();
    padded_.shrink_to_fit();
    // Memory that ran out says nothing about the record: it is no bad
    // line, and the input cannot be read on.
    if (error == simdjson::MEMALLOC)
      throw InputError("not enough memory to read a record of " +
                       std::to_string(text.size()) + " bytes");
    record.problem =
        std::string("not valid JSON (") + simdjson::error_message(error) + ")";
    return;
  }
  FillFrom(doc, record);
}

void JsonCells::FillFrom(simdjson::dom::element doc, Record& record) {
  record.problem.clear();
  record.keys.clear();
  record.nested.clear();
  record.cells.clear();
  simdjson::dom::object object;
  if (doc.get(object) != simdjson::SUCCESS) {
    record.problem = "not a JSON object";
    return;
  }
  record.cells.assign(columns_.size(), std::nullopt);
  filled_.assign(columns_.size(), false);
  arena_.clear();
  // Every value's text goes to the arena first; views are made after, when
  // it no longer grows.
  spans_.clear();
  const bool journal = IsJournalRecord(object);
  for (auto field : object) {
    const size_t column = Column(field.key, record);
    record.keys.push_back(static_cast<uint32_t>(column));
    filled_[column] = true;
    if (wanted_only_ && !wanted_column_[column]) continue;
    const size_t begin = arena_.size();
    if (journal && field.value.type() == simdjson::dom::element_type::ARRAY &&
        AppendByteArray(field.value, arena_)) {
      spans_.push_back({column, begin, arena_.size() - begin, false});
      continue;
    }
    if (!AppendJsonCell(field.value, arena_)) continue;  // null: no value
    spans_.push_back(
        {column, begin, arena_.size() - begin, IsNested(field.value)});
  }
  for (const std::string& path : paths_) {
    const auto known = index_.find(path);
    if (known != index_.end() && filled_[known->second]) continue;
    simdjson::dom::element value;
    if (!FindPath(doc, path, &value)) continue;
    const size_t column = Column(path, record);
    filled_[column] = true;
    const size_t begin = arena_.size();
    if (!AppendJsonCell(value, arena_)) continue;
    spans_.push_back({column, begin, arena_.size() - begin, IsNested(value)});
  }
  // A key given twice: its last value is the cell.
  nested_.resize(columns_.size());
  for (const Span& span : spans_) {
    record.cells[span.column] =
        std::string_view(arena_).substr(span.begin, span.size);
    nested_[span.column] = span.nested;
  }
  for (const Span& span : spans_)
    if (nested_[span.column]) {
      record.nested.push_back(static_cast<uint32_t>(span.column));
      nested_[span.column] = false;
    }
  if (sampled_ < kHintRecords) {
    ++sampled_;
    Collect(doc, "");
  }
}

void AppendJsonObject(std::string& out, const std::vector<std::string>& columns,
                      const Record& record) {
  out.push_back('{');
  bool first = true;
  for (size_t c = 0; c < columns.size() && c < record.cells.size(); ++c) {
    if (!record.cells[c]) continue;
    if (!first) out.push_back(',');
    first = false;
    AppendJsonString(out, columns[c]);
    out.push_back(':');
    AppendJsonString(out, *record.cells[c]);
  }
  out.push_back('}');
}

void AppendJsonString(std::string& out, std::string_view s) {
  out.push_back('"');
  for (size_t i = 0; i < s.size(); ++i) {
    // Most text is printable ASCII, written as it is: a run of it is
    // appended at once.
    size_t run = i;
    while (run < s.size() && s[run] >= 0x20 && s[run] != '"' &&
           s[run] != '\\' && static_cast<unsigned char>(s[run]) < 0x80)
      ++run;
    if (run > i) {
      out.append(s.data() + i, run - i);
      i = run;
      if (i == s.size()) break;
    }
    const auto c = static_cast<unsigned char>(s[i]);
    if (c >= 0x80) {
      // JSON text is UTF-8: a byte that starts no valid sequence is written
      // as U+DC00 + the byte, as the readers keep such bytes apart.
      const size_t len = common::Utf8SequenceAt(s, i);
      if (len == 0) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "\\udc%02x", c);
        out += buf;
      } else {
        out.append(s.substr(i, len));
        i += len - 1;
      }
      continue;
    }
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
  }
  out.push_back('"');
}

std::optional<std::string_view> JsonValueReader::Cell(std::string_view json,
                                                      std::string_view path,
                                                      bool* there) {
  if (there != nullptr) *there = false;
  padded_.assign(json.data(), json.size());
  padded_.append(simdjson::SIMDJSON_PADDING, '\0');
  simdjson::dom::element doc;
  const auto error = parser_.parse(padded_.data(), json.size(), false).get(doc);
  if (error != simdjson::SUCCESS) {
    // A failed parser may hold a half-made state: the next text gets a new
    // one.
    parser_ = simdjson::dom::parser();
    throw InputError(std::string("not valid JSON (") +
                     simdjson::error_message(error) + ")");
  }
  simdjson::dom::element value = doc;
  if (!path.empty() && !FindPath(doc, path, &value)) return std::nullopt;
  if (there != nullptr) *there = true;
  cell_.clear();
  if (!AppendJsonCell(value, cell_)) return std::nullopt;
  return std::string_view(cell_);
}

}  // namespace eventquery
