// Arbitrary condition lines built into a filter, matched against arbitrary
// rows and asked for intervals. Checks on the way: no crash, hang or leak;
// every row that matches has its F value inside the set derived for F.

#include <cstdlib>
#include <exception>

#include "FilterInternals.h"
#include "FuzzInput.h"
#include "FuzzLogSetup.h"
#include "expression/Text.h"
#include "filter/Filter.h"
#include "interval/NumericIntervalCollection.h"
#include "memory_host/MemoryDataRow.h"
#include "memory_host/MemoryFilterLines.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  UsePrivateLogFolder();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  static const std::u16string kFields[] = {u"F", u"G", u"REL_EXT_TAGS",
                                           u"EXT_TAGS", u"T"};
  static const std::u16string kValueAlphabet =
      u"0123456789-+ .*%?[]!@~/:aAtpmTODAYLS";
  memhost::MemoryFilterLineList lines;
  const int count = in.Small(0, 12);
  for (int i = 0; i < count; ++i) {
    memhost::LineSpec line;
    line.open = in.Small(-1, 3);
    line.close = in.Small(-1, 3);
    // Codes past the named ones too: a host may hand over any int32_t.
    line.op = static_cast<filtermodule::FieldOperator>(in.Small(-1, 6));
    line.type = static_cast<filtermodule::FieldType>(in.Small(-1, 4));
    line.link = static_cast<filtermodule::LineLinkOperator>(in.Small(-1, 4));
    line.negate = in.Byte() & 1;
    line.has_tag = in.Byte() & 1;
    line.tag = in.Text(4, u"sevTV*@~");
    line.field = kFields[in.Byte() % 5];
    line.value = in.Text(12, kValueAlphabet);
    lines.Add(line);
  }
  auto* filter = static_cast<filtermodule::Filter*>(CreateFilter());
  if (filter == nullptr) return 0;
  filter->Init(&lines);
  INumericIntervalCollection* set = filter->GetNumericIntervals(u"f");
  auto* intervals = static_cast<filtermodule::NumericIntervalCollection*>(set);
  memhost::MemoryDataRow row;
  while (!in.empty()) {
    row.Clear();
    const int32_t f = in.Byte() & 1 ? in.Small(-20, 20) : in.Int32();
    row.SetInteger(u"F", f);
    if (in.Byte() & 1)
      row.SetReal(u"G", static_cast<double>(in.Int32()) / 8);
    else
      row.SetInteger(u"G", in.Int32());
    row.SetText(u"T", in.Text(8, kValueAlphabet));
    row.SetText(u"EXT_TAGS", in.Text(16, u"@~sevTVx1"));
    row.SetDate(u"F", RowDate{static_cast<int16_t>(in.Small(1960, 2040)),
                              static_cast<uint16_t>(in.Small(0, 13)),
                              static_cast<uint16_t>(in.Small(0, 32))});
    row.SetTime(u"F", RowTime{static_cast<uint16_t>(in.Small(0, 25)),
                              static_cast<uint16_t>(in.Small(0, 61)),
                              static_cast<uint16_t>(in.Small(0, 61))});
    bool match = false;
    try {
      match = filter->IsMatch(&row);
    } catch (const std::exception&) {
      continue;  // a row the module cannot load reaches the host
    }
    // Soundness: a matching row's F lies inside the derived set. It is
    // promised where every condition on F compares F as a number (others
    // keep their lenient intervals).
    if (match && !intervals->Covers(f)) {
      bool promised = true;
      for (auto* e : filtermodule::FilterInternals(filter).conditions())
        if (filtermodule::EqualsNoCase(e->GetFieldName(), u"F"))
          promised &= e->GetFieldType() == 0 && !e->GetHasTag();
      if (promised) std::abort();
    }
  }
  set->Release();
  filter->Release();
  return 0;
}
