#include "evfilter/RecordReaders.h"

#include <simdjson.h>

#include <charconv>
#include <cstring>
#include <unordered_map>

namespace evfilter {

bool ChunkedInput::Fill() {
  if (eof_) return false;
  if (start_ > 0) {
    buffer_.erase(0, start_);
    start_ = 0;
  }
  const size_t old = buffer_.size();
  const size_t chunk = 1 << 20;
  buffer_.resize(old + chunk);
  const size_t n = std::fread(buffer_.data() + old, 1, chunk, file_);
  buffer_.resize(old + n);
  bytes_read_ += n;
  if (n == 0) eof_ = true;
  return n > 0;
}

bool ChunkedInput::NextRecord(bool quoted, std::string_view* out,
                              uint64_t* lines) {
  size_t scan = start_;
  bool in_quotes = false;
  uint64_t breaks = 0;
  for (;;) {
    const char* data = buffer_.data();
    const size_t size = buffer_.size();
    while (scan < size) {
      if (!quoted) {
        const void* nl = std::memchr(data + scan, '\n', size - scan);
        if (nl == nullptr) {
          scan = size;
          break;
        }
        scan = static_cast<size_t>(static_cast<const char*>(nl) - data);
      }
      const char c = data[scan];
      if (c == '"' && quoted) {
        in_quotes = !in_quotes;
      } else if (c == '\n') {
        ++breaks;
        if (!in_quotes) {
          size_t end = scan;
          if (end > start_ && data[end - 1] == '\r') --end;
          *out = std::string_view(data + start_, end - start_);
          *lines = breaks;
          start_ = scan + 1;
          return true;
        }
      }
      ++scan;
    }
    const size_t consumed = start_;
    if (!Fill()) break;
    scan -= consumed;  // Fill moved the unread bytes to the front
  }
  if (start_ >= buffer_.size()) return false;
  size_t end = buffer_.size();
  if (end > start_ && buffer_[end - 1] == '\r') --end;
  *out = std::string_view(buffer_.data() + start_, end - start_);
  *lines = breaks + 1;
  start_ = buffer_.size();
  return true;
}

void SplitCsv(std::string_view raw, std::string& arena,
              std::vector<std::optional<std::string_view>>& cells) {
  cells.clear();
  arena.clear();
  arena.reserve(raw.size());
  size_t i = 0;
  for (;;) {
    if (i < raw.size() && raw[i] == '"') {
      const size_t begin = arena.size();
      ++i;
      while (i < raw.size()) {
        if (raw[i] == '"') {
          if (i + 1 < raw.size() && raw[i + 1] == '"') {
            arena.push_back('"');
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        arena.push_back(raw[i++]);
      }
      // Anything between the closing quote and the comma is kept as text.
      while (i < raw.size() && raw[i] != ',') arena.push_back(raw[i++]);
      cells.emplace_back(
          std::string_view(arena.data() + begin, arena.size() - begin));
    } else {
      const size_t begin = i;
      while (i < raw.size() && raw[i] != ',') ++i;
      cells.emplace_back(raw.substr(begin, i - begin));
    }
    if (i >= raw.size()) break;
    ++i;  // the comma
  }
}

std::string CsvField(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos)
    return std::string(text);
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  out.push_back('"');
  return out;
}

namespace {

class CsvReader final : public RecordReader {
 public:
  explicit CsvReader(std::FILE* file) : input_(file) {
    std::string_view raw;
    uint64_t lines = 0;
    if (!input_.NextRecord(true, &raw, &lines))
      throw InputError("the CSV input is empty: a header row is needed");
    line_ = lines + 1;
    std::vector<std::optional<std::string_view>> cells;
    SplitCsv(raw, arena_, cells);
    if (!raw.empty() && static_cast<unsigned char>(raw[0]) == 0xEF &&
        !cells.empty() && cells[0]->substr(0, 3) == "\xEF\xBB\xBF")
      cells[0] = cells[0]->substr(3);  // a byte-order mark
    for (const auto& c : cells) columns_.emplace_back(*c);
  }

  const std::vector<std::string>& columns() const override { return columns_; }

  bool Next(Record& record) override {
    if (!NextUnsplit(record)) return false;
    SplitCsv(record.raw, arena_, record.cells);
    return true;
  }

  bool NextUnsplit(Record& record) override {
    std::string_view raw;
    uint64_t lines = 0;
    do {
      if (!input_.NextRecord(true, &raw, &lines)) return false;
      record.line = line_;
      line_ += lines;
    } while (raw.empty());  // blank lines are not records
    record.raw = raw;
    record.cells.clear();
    return true;
  }

  bool SplitsLater() const override { return true; }

  uint64_t bytes_read() const override { return input_.bytes_read(); }

 private:
  ChunkedInput input_;
  std::vector<std::string> columns_;
  std::string arena_;
  uint64_t line_ = 1;
};

class JsonLinesReader final : public RecordReader {
 public:
  explicit JsonLinesReader(std::FILE* file) : input_(file) {}

  const std::vector<std::string>& columns() const override { return columns_; }

  bool Next(Record& record) override {
    std::string_view raw;
    uint64_t lines = 0;
    for (;;) {
      if (!input_.NextRecord(false, &raw, &lines)) return false;
      record.line = line_;
      line_ += lines;
      if (raw.find_first_not_of(" \t") != std::string_view::npos) break;
    }
    record.raw = raw;
    padded_.assign(raw.data(), raw.size());
    padded_.append(simdjson::SIMDJSON_PADDING, '\0');
    simdjson::dom::element doc;
    if (parser_.parse(padded_.data(), raw.size(), false).get(doc) !=
        simdjson::SUCCESS)
      throw InputError("line " + std::to_string(record.line) +
                       ": not valid JSON");
    simdjson::dom::object object;
    if (doc.get(object) != simdjson::SUCCESS)
      throw InputError("line " + std::to_string(record.line) +
                       ": not a JSON object");
    record.cells.assign(columns_.size(), std::nullopt);
    arena_.clear();
    // Every value's text goes to the arena first; views are made after, when
    // it no longer grows.
    spans_.clear();
    for (auto field : object) {
      const std::string_view key = field.key;
      size_t column;
      auto found = index_.find(key);
      if (found == index_.end()) {
        column = columns_.size();
        columns_.emplace_back(key);
        index_.emplace(std::string(key), column);
        record.cells.emplace_back(std::nullopt);
      } else {
        column = found->second;
      }
      const size_t begin = arena_.size();
      if (!AppendValue(field.value, arena_)) continue;  // null: missing
      spans_.push_back({column, {begin, arena_.size() - begin}});
    }
    for (const auto& [column, span] : spans_)
      record.cells[column] =
          std::string_view(arena_).substr(span.first, span.second);
    return true;
  }

  uint64_t bytes_read() const override { return input_.bytes_read(); }

 private:
  // A value's text: strings as they are, numbers and booleans as written,
  // nested values as compact JSON. False for null.
  static bool AppendValue(simdjson::dom::element value, std::string& out) {
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
        auto r =
            std::to_chars(buf, buf + 32, value.get_uint64().value_unsafe());
        out.append(buf, r.ptr);
        return true;
      }
      case simdjson::dom::element_type::DOUBLE: {
        char buf[64];
        auto r =
            std::to_chars(buf, buf + 64, value.get_double().value_unsafe());
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

  ChunkedInput input_;
  simdjson::dom::parser parser_;
  std::string padded_;
  std::string arena_;
  std::vector<std::string> columns_;
  // Column by key, looked up without copying the key.
  struct KeyHash {
    using is_transparent = void;
    size_t operator()(std::string_view key) const {
      return std::hash<std::string_view>{}(key);
    }
  };
  std::unordered_map<std::string, size_t, KeyHash, std::equal_to<>> index_;
  // (column, (arena offset, size)) of the current record's values.
  std::vector<std::pair<size_t, std::pair<size_t, size_t>>> spans_;
  uint64_t line_ = 1;
};

}  // namespace

std::unique_ptr<RecordReader> MakeCsvReader(std::FILE* file) {
  return std::make_unique<CsvReader>(file);
}

std::unique_ptr<RecordReader> MakeJsonLinesReader(std::FILE* file) {
  return std::make_unique<JsonLinesReader>(file);
}

}  // namespace evfilter
