#include "evfilter/RecordReaders.h"

#include <simdjson.h>

#include <charconv>
#include <cstring>
#include <set>
#include <unordered_map>

namespace evfilter {
namespace {

constexpr std::string_view kLf = "\n";
constexpr std::string_view kCrLf = "\r\n";
constexpr std::string_view kNone = "";

}  // namespace

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

void ChunkedInput::SkipByteOrderMark() {
  while (buffer_.size() - start_ < 3 && Fill()) {
  }
  if (buffer_.compare(start_, 3, "\xEF\xBB\xBF") == 0) start_ += 3;
}

void ChunkedInput::Take(size_t end, std::string_view* out,
                        std::string_view* terminator) {
  size_t stop = end;
  *terminator = kLf;
  if (stop > start_ && buffer_[stop - 1] == '\r') {
    --stop;
    *terminator = kCrLf;
  }
  *out = std::string_view(buffer_.data() + start_, stop - start_);
  start_ = end + 1;
}

bool ChunkedInput::NextLine(std::string_view* out, std::string_view* terminator,
                            uint64_t* lines) {
  size_t scan = start_;
  for (;;) {
    const void* nl =
        std::memchr(buffer_.data() + scan, '\n', buffer_.size() - scan);
    if (nl != nullptr) {
      Take(static_cast<size_t>(static_cast<const char*>(nl) - buffer_.data()),
           out, terminator);
      *lines = 1;
      return true;
    }
    const size_t consumed = start_;
    scan = buffer_.size();
    if (!Fill()) break;
    scan -= consumed;  // Fill moved the unread bytes to the front
  }
  if (start_ >= buffer_.size()) return false;
  *out = std::string_view(buffer_.data() + start_, buffer_.size() - start_);
  *terminator = kNone;
  *lines = 1;
  start_ = buffer_.size();
  return true;
}

bool ChunkedInput::NextCsvRecord(std::string_view* out,
                                 std::string_view* terminator, uint64_t* lines,
                                 uint64_t* open_quote_line) {
  enum State { kFieldStart, kUnquoted, kQuoted, kQuoteInQuoted };
  State state = kFieldStart;
  size_t scan = start_;
  uint64_t breaks = 0;
  uint64_t quote_line = 0;
  *open_quote_line = 0;
  for (;;) {
    const char* data = buffer_.data();
    const size_t size = buffer_.size();
    while (scan < size) {
      const char c = data[scan];
      switch (state) {
        case kFieldStart:
          if (c == '"') {
            state = kQuoted;
            quote_line = breaks + 1;
            break;
          }
          if (c == ',') break;
          [[fallthrough]];
        case kUnquoted:
          if (c == '\n') {
            Take(scan, out, terminator);
            *lines = breaks + 1;
            return true;
          }
          state = c == ',' ? kFieldStart : kUnquoted;
          break;
        case kQuoted: {
          // Up to the next quote in one step, counting the breaks passed.
          const void* q = std::memchr(data + scan, '"', size - scan);
          const size_t to =
              q == nullptr
                  ? size
                  : static_cast<size_t>(static_cast<const char*>(q) - data);
          for (size_t k = scan; k < to; ++k) breaks += data[k] == '\n';
          if (q == nullptr) {
            scan = size - 1;  // the loop moves on to the end
            break;
          }
          scan = to;
          state = kQuoteInQuoted;
          break;
        }
        case kQuoteInQuoted:
          if (c == '"') {
            state = kQuoted;  // a doubled quote
          } else if (c == '\n') {
            Take(scan, out, terminator);
            *lines = breaks + 1;
            return true;
          } else {
            state = c == ',' ? kFieldStart : kUnquoted;
          }
          break;
      }
      ++scan;
    }
    const size_t consumed = start_;
    if (!Fill()) break;
    scan -= consumed;  // Fill moved the unread bytes to the front
  }
  if (start_ >= buffer_.size()) return false;
  if (state == kQuoted) *open_quote_line = quote_line;
  size_t end = buffer_.size();
  *terminator = kNone;
  if (state != kQuoted && end > start_ && buffer_[end - 1] == '\r') --end;
  *out = std::string_view(buffer_.data() + start_, end - start_);
  // A final break inside the open field ends a line, not starts one.
  *lines = breaks + (buffer_.back() == '\n' ? 0 : 1);
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

std::vector<std::string> UniqueColumnNames(std::vector<std::string> names,
                                           std::vector<std::string>* notes) {
  std::set<std::string> taken(names.begin(), names.end());
  std::set<std::string> seen;
  for (std::string& name : names) {
    if (seen.insert(name).second) continue;
    for (int k = 2;; ++k) {
      std::string candidate = name + "_" + std::to_string(k);
      if (taken.count(candidate) != 0) continue;
      if (notes != nullptr)
        notes->push_back("'" + name + "' renamed '" + candidate + "'");
      taken.insert(candidate);
      seen.insert(candidate);
      name = std::move(candidate);
      break;
    }
  }
  return names;
}

namespace {

class CsvReader final : public RecordReader {
 public:
  explicit CsvReader(std::FILE* file) : input_(file) {
    input_.SkipByteOrderMark();
    std::string_view raw, terminator;
    uint64_t lines = 0, open_quote = 0;
    if (!input_.NextCsvRecord(&raw, &terminator, &lines, &open_quote))
      throw InputError("the CSV input is empty: a header row is needed");
    if (open_quote != 0)
      throw InputError(
          "line " + std::to_string(open_quote) +
          ": a quoted field of the header opened here never closes");
    line_ = lines + 1;
    header_raw_.assign(raw);
    header_terminator_ = terminator.empty() ? kLf : terminator;
    std::vector<std::optional<std::string_view>> cells;
    SplitCsv(raw, arena_, cells);
    std::vector<std::string> names;
    for (const auto& c : cells) names.emplace_back(*c);
    columns_ = UniqueColumnNames(std::move(names), &notes_);
  }

  const std::vector<std::string>& columns() const override { return columns_; }
  std::string_view header_raw() const override { return header_raw_; }
  std::string_view header_terminator() const override {
    return header_terminator_;
  }
  std::vector<std::string> header_notes() const override { return notes_; }

  bool Next(Record& record) override {
    if (!NextUnsplit(record)) return false;
    if (record.problem.empty()) SplitCsv(record.raw, arena_, record.cells);
    return true;
  }

  bool NextUnsplit(Record& record) override {
    std::string_view raw, terminator;
    uint64_t lines = 0, open_quote = 0;
    record.problem.clear();
    record.fatal = false;
    record.cells.clear();
    do {
      if (!input_.NextCsvRecord(&raw, &terminator, &lines, &open_quote))
        return false;
      record.line = line_;
      line_ += lines;
    } while (raw.empty() && open_quote == 0);  // blank lines are not records
    record.raw = raw;
    record.terminator = terminator;
    if (open_quote != 0) {
      const uint64_t opened = record.line + open_quote - 1;
      record.line = opened;
      record.problem = "a quoted field opened on this line never closes; " +
                       std::to_string(line_ - opened) +
                       " line(s) from here to the end were not read";
      record.fatal = true;
    }
    return true;
  }

  bool SplitsLater() const override { return true; }

  uint64_t bytes_read() const override { return input_.bytes_read(); }

 private:
  ChunkedInput input_;
  std::vector<std::string> columns_;
  std::vector<std::string> notes_;
  std::string header_raw_;
  std::string_view header_terminator_;
  std::string arena_;
  uint64_t line_ = 1;
};

class JsonLinesReader final : public RecordReader {
 public:
  explicit JsonLinesReader(std::FILE* file) : input_(file) {
    input_.SkipByteOrderMark();
  }

  const std::vector<std::string>& columns() const override { return columns_; }

  bool Next(Record& record) override {
    std::string_view raw, terminator;
    uint64_t lines = 0;
    for (;;) {
      if (!input_.NextLine(&raw, &terminator, &lines)) return false;
      record.line = line_;
      line_ += lines;
      if (raw.find_first_not_of(" \t\r") != std::string_view::npos) break;
    }
    record.raw = raw;
    record.terminator = terminator;
    record.problem.clear();
    record.fatal = false;
    record.keys.clear();
    record.cells.clear();
    padded_.assign(raw.data(), raw.size());
    padded_.append(simdjson::SIMDJSON_PADDING, '\0');
    simdjson::dom::element doc;
    const auto error =
        parser_.parse(padded_.data(), raw.size(), false).get(doc);
    if (error != simdjson::SUCCESS) {
      record.problem = std::string("not valid JSON (") +
                       simdjson::error_message(error) + ")";
      return true;
    }
    simdjson::dom::object object;
    if (doc.get(object) != simdjson::SUCCESS) {
      record.problem = "not a JSON object";
      return true;
    }
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
      record.keys.push_back(static_cast<uint32_t>(column));
      const size_t begin = arena_.size();
      if (!AppendValue(field.value, arena_)) continue;  // null: no value
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
