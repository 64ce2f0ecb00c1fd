#include "records/JsonFieldPicker.h"

#include "records/JsonCells.h"

namespace eventquery {
namespace {

// The value of the column `name` in `object` (see the header); false when
// none.
bool Pick(simdjson::dom::element doc, simdjson::dom::object object,
          std::string_view name, simdjson::dom::element* found) {
  bool key = false;
  for (const auto field : object)
    if (field.key == name) {
      *found = field.value;
      key = true;
    }
  return key || (name.find('.') != std::string_view::npos &&
                 FindPath(doc, name, found));
}

}  // namespace

bool JsonFieldPicker::AppendObject(std::string_view json,
                                   const std::vector<const std::string*>& from,
                                   std::string& out) {
  padded_.assign(json);
  padded_.append(simdjson::SIMDJSON_PADDING, ' ');
  simdjson::dom::element doc;
  simdjson::dom::object object;
  if (parser_.parse(padded_.data(), json.size(), false).get(doc) !=
          simdjson::SUCCESS ||
      doc.get(object) != simdjson::SUCCESS)
    return false;
  out.push_back('{');
  for (size_t i = 0; i < names_.size(); ++i) {
    if (i > 0) out.push_back(',');
    AppendJsonString(out, names_[i]);
    out.push_back(':');
    simdjson::dom::element value;
    if (i < from.size() && from[i] != nullptr &&
        Pick(doc, object, *from[i], &value))
      out.append(simdjson::minify(value));
    else
      out.append("null");
  }
  out.append("}\n");
  return true;
}

}  // namespace eventquery
