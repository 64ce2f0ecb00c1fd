#include "JsonObjectReader.h"
#include "Readers.h"

namespace eventquery {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

class JsonArrayReader final : public JsonObjectReader {
 public:
  JsonArrayReader(std::FILE* file, bool at_file_start)
      : JsonObjectReader(file, at_file_start) {}

  bool Next(Record& record) override {
    record.problem.clear();
    record.fatal = false;
    record.cells.clear();
    record.keys.clear();
    record.terminator = kLf;
    for (;;) {
      const int c = SkipBlanks();
      record.line = line_;
      record.raw = {};
      if (state_ == kDone) return false;
      if (c < 0) {
        if (state_ == kBefore) return false;  // an empty document
        if (state_ == kAfter) return false;
        return Fatal(record, "the array never closes (no ']' at the end)");
      }
      const char ch = static_cast<char>(c);
      switch (state_) {
        case kBefore:
          if (ch != '[')
            return Fatal(record, std::string("not a JSON array: '") + ch +
                                     "' where '[' should start it");
          input_.Advance(1);
          state_ = kFirst;
          continue;
        case kFirst:
        case kNextValue:
          if (ch == ']' && state_ == kFirst) {
            input_.Advance(1);
            state_ = kAfter;
            continue;
          }
          if (ch == ']' || ch == ',')
            return Fatal(record, std::string("'") + ch +
                                     "' where an array element should be");
          return Element(record);
        case kComma:
          input_.Advance(1);
          if (ch == ',') {
            state_ = kNextValue;
            continue;
          }
          if (ch == ']') {
            state_ = kAfter;
            continue;
          }
          return Fatal(record, std::string("'") + ch +
                                   "' where ',' or ']' should follow an "
                                   "array element");
        case kAfter:
          return Fatal(record, "text after the array's closing ']'");
        case kDone:
          return false;
      }
    }
  }

 private:
  enum State { kBefore, kFirst, kNextValue, kComma, kAfter, kDone };

  // Skips blanks, counting lines; the next character, or -1 at the end.
  int SkipBlanks() {
    for (;;) {
      const std::string_view w = input_.Window();
      size_t i = 0;
      while (i < w.size() && IsBlank(w[i])) line_ += w[i++] == '\n';
      input_.Advance(i);
      if (i < w.size()) return static_cast<unsigned char>(w[i]);
      if (!input_.More()) return -1;
    }
  }

  bool Fatal(Record& record, std::string problem) {
    record.problem = std::move(problem);
    record.fatal = true;
    state_ = kDone;
    return true;
  }

  // The element at the front of the window, up to where it ends.
  bool Element(Record& record) {
    size_t i = 0;
    size_t depth = 0;
    bool in_string = false;
    bool escaped = false;
    uint64_t lines = 0;
    for (;;) {
      const std::string_view w = input_.Window();
      bool ended = false;
      for (; i < w.size(); ++i) {
        const char c = w[i];
        lines += c == '\n';
        if (in_string) {
          if (escaped)
            escaped = false;
          else if (c == '\\')
            escaped = true;
          else if (c == '"')
            in_string = false;
          if (!in_string && depth == 0) {
            ++i;
            ended = true;
            break;
          }
          continue;
        }
        if (c == '"') {
          in_string = true;
        } else if (c == '{' || c == '[') {
          ++depth;
        } else if (c == '}' || c == ']') {
          if (depth == 0) {  // the array's own ']' ends a scalar
            ended = true;
            break;
          }
          if (--depth == 0) {
            ++i;
            ended = true;
            break;
          }
        } else if (depth == 0 && (c == ',' || IsBlank(c))) {
          ended = true;
          break;
        }
      }
      if (ended) break;
      if (!input_.More()) {
        if (in_string || depth > 0) {
          record.problem = "an array element that starts here never ends";
          record.fatal = true;
          state_ = kDone;
          return true;
        }
        break;
      }
    }
    const std::string_view text = input_.Window().substr(0, i);
    record.line = line_;
    line_ += lines;
    cells_.Fill(text, record);
    if (record.problem.empty()) {
      compact_.resize(text.size());
      size_t size = 0;
      if (simdjson::minify(text.data(), text.size(), compact_.data(), size) !=
          simdjson::SUCCESS)
        size = 0;
      compact_.resize(size);
      record.raw = compact_;
    } else {
      keep_.assign(text);
      record.raw = keep_;
    }
    input_.Advance(i);
    state_ = kComma;
    return true;
  }

  State state_ = kBefore;
  std::string compact_;
  std::string keep_;
};

}  // namespace

std::unique_ptr<RecordReader> MakeJsonArrayReader(std::FILE* file,
                                                  bool at_file_start) {
  return std::make_unique<JsonArrayReader>(file, at_file_start);
}

}  // namespace eventquery
