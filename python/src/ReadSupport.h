// What the Python package's readers share: inputs opened as evfilter
// opens them, what a record scan says collected for warnings, and texts
// and JSON values made Python objects.
//
// Thread safety: the Python objects are made with the GIL held; Reports
// and OpenInput need no GIL.

#ifndef FILTERMODULE_PYTHON_READSUPPORT_H_
#define FILTERMODULE_PYTHON_READSUPPORT_H_

#include <pybind11/pybind11.h>
#include <simdjson.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "records/Inputs.h"
#include "records/Scan.h"

namespace fmpython {

// An input that cannot be read whole; the message names the file and,
// where there is one, the line.
class ReadError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// (header_end, header_line, begin, end, first_line) of a piece.
using PieceTuple = std::tuple<uint64_t, uint64_t, uint64_t, uint64_t, uint64_t>;

// A name as a str can hold it: each byte that is no UTF-8 becomes U+FFFD.
std::string Readable(std::string_view text);
// A cell as a str: each byte that is no UTF-8 kept as its surrogate escape
// (U+DC00 + the byte, as Python's "surrogateescape" makes it), so that
// different cells stay different; the mask reads the byte back.
pybind11::object CellStr(std::string_view text);
// A text as a str, read as Readable reads it.
pybind11::object Str(std::string_view text);
pybind11::list Strs(const std::vector<std::string>& texts);
// The Python value of a JSON value (a new reference), as json.loads makes
// it.
pybind11::object ToPython(simdjson::dom::element value);

// The format and the encoding as evfilter names them ("" for the default);
// ValueError for another name.
std::optional<eventquery::Format> FormatOf(const std::string& name);
eventquery::Encoding EncodingOf(const std::string& name);

// `path` opened (`piece`, when given, that piece of a divided file);
// ReadError when it cannot be.
std::unique_ptr<eventquery::Input> OpenInput(
    const std::string& path, const std::string& format,
    const std::optional<PieceTuple>& piece, const std::string& encoding);

// MemoryError naming where memory ran out, when it did in `result`.
void ThrowIfOutOfMemory(const eventquery::ScanResult& result);

// Reports counted per kind, the first of each kept; values that are no
// UTF-8 counted per column, each column's first kept. As a scan's reports,
// the first failure is kept for ReadError.
class Reports : public eventquery::ScanReports {
 public:
  void NotUtf8(const std::string& column, const std::string& place,
               std::string_view cell);
  void Add(const std::string& kind, std::string message);
  // (kind, count, shown messages), one per kind; notes come as kind
  // "note".
  pybind11::list List() const;

  void Note(const std::string& message) override { Add("note", message); }
  void Skipped(const char* kind, const std::string& message, bool,
               uint64_t) override {
    Add(kind, message);
  }
  void Failed(const std::string& message) override {
    if (failure_.empty()) failure_ = message;
  }
  // The first failure, or "".
  const std::string& failure() const { return failure_; }

 private:
  struct Kind {
    uint64_t count = 0;
    std::vector<std::string> shown;
  };
  struct PerColumn {
    uint64_t count = 0;
    std::string first_place;
    std::string first_cell;
  };
  std::vector<std::pair<std::string, Kind>> kinds_;
  std::vector<std::pair<std::string, PerColumn>> not_utf8_;
  std::string failure_;
};

}  // namespace fmpython

#endif  // FILTERMODULE_PYTHON_READSUPPORT_H_
