// filtermodule._core: the bindings of the filter module for Python.
//
// Filters (FrameFilter) are compiled by the event library's expression
// compiler or read from definition lines, and built whole by the module.
// Errors reach Python as ExpressionError (a ValueError with the 1-based
// `column` of the mistake), BuildError, and ValueError for a bad definition.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "FrameFilter.h"
#include "FrameReader.h"
#include "Interrupts.h"
#include "SigmaRules.h"
#include "common/Utf8.h"
#include "decide/BuiltFilter.h"
#include "decide/ModuleLog.h"
#include "decide/TimeWindow.h"
#include "query/Definition.h"
#include "query/WhereCompiler.h"
#include "records/Formats.h"
#include "records/Inputs.h"

namespace py = pybind11;
using eventquery::ConditionLine;

namespace {

// Raised for an expression that does not compile; a ValueError with the
// 1-based column of the error as `column`.
PyObject* g_expression_error = nullptr;
PyObject* g_build_error = nullptr;
PyObject* g_read_error = nullptr;

// ------------------------------------------------------------------ lines

// A field of a line as Python holds it: an operator, type or link as its
// code.
template <typename T>
auto Plain(const T& v) {
  if constexpr (std::is_enum_v<T>)
    return static_cast<std::underlying_type_t<T>>(v);
  else
    return v;
}

// Every field of a line (ConditionLine::Fields), so that a filter pickled
// to a Dask worker is the same filter there.
using LineTuple = decltype(std::apply(
    [](const auto&... f) { return std::tuple<decltype(Plain(f))...>(); },
    std::declval<const ConditionLine&>().Fields()));

LineTuple ToTuple(const ConditionLine& l) {
  return std::apply([](const auto&... f) { return LineTuple(Plain(f)...); },
                    l.Fields());
}

ConditionLine FromTuple(const LineTuple& t) {
  ConditionLine l;
  auto fields = l.Fields();
  [&]<size_t... I>(std::index_sequence<I...>) {
    ((std::get<I>(fields) = static_cast<
          std::remove_reference_t<std::tuple_element_t<I, decltype(fields)>>>(
          std::get<I>(t))),
     ...);
  }
  (std::make_index_sequence<std::tuple_size_v<LineTuple>>());
  return l;
}

eventquery::CompiledWhere CompileWhere(
    const std::string& expression,
    const std::map<std::string, std::string>& types, bool utc,
    const std::vector<std::pair<std::string, std::string>>& declared = {},
    std::optional<int64_t> now = std::nullopt) {
  eventquery::WhereOptions options;
  options.utc = utc;
  options.now = now;
  eventquery::TypeOverrides& overrides = options.types;
  for (const auto& [field, name] : types) {
    const int32_t code = eventquery::TypeFromName(name);
    if (code < 0)
      throw py::value_error("unknown type '" + name + "' for field '" + field +
                            "'; accepted: numeric, text, date, time");
    overrides[field] = code;
  }
  eventquery::AddDeclaredTypes(declared, overrides);
  return eventquery::CompileWhere(expression, options);
}

}  // namespace

PYBIND11_MODULE(_core, m) {
  m.doc() = "The filter module, deciding records as evfilter does.";
  fmpython::g_main_thread = py::module_::import("threading")
                                .attr("main_thread")()
                                .attr("ident")
                                .cast<unsigned long>();
  m.attr("__version__") = FM_VERSION;

  static py::exception<eventquery::BuildError> build_error(m, "BuildError",
                                                           PyExc_RuntimeError);
  g_build_error = build_error.ptr();
  static py::exception<fmpython::ReadError> read_error(m, "ReadError",
                                                       PyExc_ValueError);
  g_read_error = read_error.ptr();
  static py::exception<eventquery::SyntaxError> expression_error(
      m, "ExpressionError", PyExc_ValueError);
  g_expression_error = expression_error.ptr();
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const eventquery::SyntaxError& e) {
      const std::string message =
          "column " + std::to_string(e.column()) + ": " + e.what();
      PyObject* error =
          PyObject_CallFunction(g_expression_error, "s", message.c_str());
      if (error == nullptr) return;
      PyObject* column = PyLong_FromSize_t(e.column());
      PyObject_SetAttrString(error, "column", column);
      Py_XDECREF(column);
      PyErr_SetObject(g_expression_error, error);
      Py_DECREF(error);
    } catch (const eventquery::BuildError& e) {
      PyErr_SetString(g_build_error,
                      (std::string("the filter module could not build the "
                                   "filter: ") +
                       e.what())
                          .c_str());
    } catch (const eventquery::DefinitionError& e) {
      PyErr_SetString(PyExc_ValueError, e.what());
    } catch (const fmpython::ReadError& e) {
      // The message may quote bytes of the input that are no UTF-8.
      const std::string what = common::ToUtf8(common::ToUtf16(e.what()));
      PyObject* message = PyUnicode_DecodeUTF8(
          what.data(), static_cast<Py_ssize_t>(what.size()), nullptr);
      if (message == nullptr) return;
      PyErr_SetObject(g_read_error, message);
      Py_DECREF(message);
    }
  });

  // An event time as hunts order it (nanoseconds of the wall clock), or
  // None for no readable time.
  m.def(
      "time_key",
      [](const std::string& text, bool utc) {
        return eventquery::TimeKey(
            text, utc ? eventquery::Zone::kUtc : eventquery::Zone::kLocal);
      },
      py::arg("text"), py::arg("utc") = false);
  m.def(
      "setup_log",
      [](const std::string& folder, bool debug) {
        eventquery::ModuleLog::Setup(folder, debug);
      },
      py::arg("folder"), py::arg("debug"));

  m.def(
      "compile_where",
      [](const std::string& expression,
         const std::map<std::string, std::string>& types, bool utc,
         const std::vector<std::pair<std::string, std::string>>& declared,
         std::optional<int64_t> now) {
        const eventquery::CompiledWhere compiled =
            CompileWhere(expression, types, utc, declared, now);
        std::vector<LineTuple> out;
        for (const ConditionLine& l : compiled.lines) out.push_back(ToTuple(l));
        return std::make_pair(out, compiled.notes);
      },
      py::arg("expression"), py::arg("types"), py::arg("utc") = false,
      py::arg("declared") = std::vector<std::pair<std::string, std::string>>(),
      py::arg("now") = std::nullopt);
  m.def(
      "parse_definition",
      [](const std::string& json) {
        std::vector<LineTuple> out;
        for (const ConditionLine& l : eventquery::ParseDefinition(json))
          out.push_back(ToTuple(l));
        return out;
      },
      py::arg("json"));
  m.def(
      "definition_json",
      [](const std::vector<LineTuple>& lines) {
        std::vector<ConditionLine> specs;
        for (const LineTuple& t : lines) specs.push_back(FromTuple(t));
        return eventquery::DefinitionToJson(specs);
      },
      py::arg("lines"));

  m.def("read_frame", &fmpython::ReadFrame, py::arg("path"), py::arg("format"),
        py::arg("columns") = std::nullopt, py::arg("piece") = std::nullopt,
        py::arg("encoding") = "");
  m.def(
      "expand_folders",
      [](const std::vector<std::string>& paths) {
        std::vector<std::string> notes;
        std::vector<std::string> expanded =
            eventquery::ExpandFolders(paths, &notes);
        return std::make_pair(expanded, notes);
      },
      py::arg("paths"));
  m.def(
      "input_format",
      [](const std::string& path, const std::string& format) {
        // What the format table says of the input, as opened.
        std::unique_ptr<eventquery::Input> input =
            fmpython::OpenInput(path, format, std::nullopt, "");
        const eventquery::FormatTraits& traits =
            eventquery::FormatTraitsOf(input->format());
        py::dict out;
        out["name"] = traits.name;
        out["own_record_ids"] = traits.own_record_ids;
        out["header_row"] = traits.header_row;
        return out;
      },
      py::arg("path"), py::arg("format") = "");
  m.def("divide_input", &fmpython::DivideInput, py::arg("path"),
        py::arg("format"), py::arg("piece_bytes"), py::arg("encoding") = "");

  py::class_<fmpython::FrameFilter>(m, "Filter")
      .def(py::init([](const std::vector<LineTuple>& lines, bool utc) {
             std::vector<ConditionLine> specs;
             for (const LineTuple& t : lines) specs.push_back(FromTuple(t));
             return std::make_unique<fmpython::FrameFilter>(std::move(specs),
                                                            utc);
           }),
           py::arg("lines"), py::arg("utc") = false)
      .def_property_readonly("text", &fmpython::FrameFilter::text)
      .def_property_readonly("utc", &fmpython::FrameFilter::utc)
      .def_property_readonly("lines",
                             [](const fmpython::FrameFilter& f) {
                               std::vector<LineTuple> out;
                               for (const ConditionLine& l : f.lines())
                                 out.push_back(ToTuple(l));
                               return out;
                             })
      .def("mask", &fmpython::FrameFilter::Mask, py::arg("rows"),
           py::arg("names"), py::arg("kinds"), py::arg("arrays"))
      .def("mask_by_text", &fmpython::FrameFilter::MaskByText, py::arg("rows"),
           py::arg("names"), py::arg("kinds"), py::arg("arrays"))
      .def("needed", &fmpython::FrameFilter::Needed, py::arg("names"))
      .def("match", &fmpython::FrameFilter::Match, py::arg("names"),
           py::arg("values"))
      .def("intervals", &fmpython::FrameFilter::Intervals, py::arg("field"));

  py::class_<fmpython::SigmaRules>(m, "SigmaRules")
      .def(py::init<const std::vector<std::string>&,
                    const std::optional<std::string>&,
                    const std::map<std::string, std::vector<std::string>>&,
                    bool>(),
           py::arg("paths"), py::arg("text"), py::arg("placeholders"),
           py::arg("utc") = false)
      .def_property_readonly("loaded", &fmpython::SigmaRules::Loaded)
      .def_property_readonly("rejected", &fmpython::SigmaRules::Rejected)
      .def("__len__", &fmpython::SigmaRules::size)
      .def(
          "lines",
          [](const fmpython::SigmaRules& rules, size_t rule) {
            const auto& r = rules.rule(rule);
            std::vector<LineTuple> out;
            for (const ConditionLine& l : r.lines) out.push_back(ToTuple(l));
            std::vector<std::pair<size_t, std::string>> host;
            for (const auto& c : r.checks) host.emplace_back(c.line, c.written);
            return py::make_tuple(out, host);
          },
          py::arg("rule"))
      .def("use_filters", &fmpython::SigmaRules::UseFilters, py::arg("paths"))
      .def_property_readonly("filters", &fmpython::SigmaRules::Filters)
      .def(
          "chosen",
          [](const fmpython::SigmaRules& rules, const std::string& min_level,
             const std::vector<std::string>& statuses,
             const std::vector<std::string>& ids,
             const std::vector<std::string>& tags,
             const std::vector<std::string>& excluded_ids,
             const std::vector<std::string>& exclude_files) {
            return rules.Chosen({min_level, statuses, ids, tags, excluded_ids},
                                exclude_files);
          },
          py::arg("min_level") = "",
          py::arg("statuses") = std::vector<std::string>(),
          py::arg("ids") = std::vector<std::string>(),
          py::arg("tags") = std::vector<std::string>(),
          py::arg("excluded_ids") = std::vector<std::string>(),
          py::arg("exclude_files") = std::vector<std::string>())
      .def("hunt", &fmpython::SigmaRules::Hunt, py::arg("rows"),
           py::arg("names"), py::arg("kinds"), py::arg("arrays"),
           py::arg("product") = "", py::arg("scope") = fmpython::ScopeTexts())
      .def("hunt_file", &fmpython::SigmaRules::HuntFile, py::arg("path"),
           py::arg("format") = "", py::arg("piece") = std::nullopt,
           py::arg("encoding") = "", py::arg("product") = "",
           py::arg("scope") = fmpython::ScopeTexts())
      .def_property_readonly("correlations",
                             &fmpython::SigmaRules::Correlations)
      .def("correlation_problems", &fmpython::SigmaRules::CorrelationProblems)
      .def("begin_correlations", &fmpython::SigmaRules::BeginCorrelations,
           py::arg("chosen"))
      .def("correlate", &fmpython::SigmaRules::Correlate);
}
