// Date and time texts: the direct readers equal the calendar conversion
// path, failures included, in a zone with daylight saving.

#include <cstdlib>

#include "FuzzInput.h"
#include "expression/DateText.h"
#include "expression/DateTime.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("TZ", "Europe/Berlin", 1);
  filtermodule::ResetTimeZoneCaches();
  return 0;
}

namespace {

template <typename Fast, typename Slow>
void Compare(const std::u16string& text, Fast fast, Slow slow) {
  std::u16string a, b;
  int a_status = 0, b_status = 0;
  try {
    a = fast(text);
  } catch (const filtermodule::StatusFailure& f) {
    a_status = static_cast<int>(f.status());
  }
  try {
    b = slow(text);
  } catch (const filtermodule::StatusFailure& f) {
    b_status = static_cast<int>(f.status());
  }
  if (a != b || a_status != b_status) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  const bool time = in.Byte() & 1;
  const std::u16string text =
      in.Text(40, (in.Byte() & 1) ? u"0123456789/: -+apmAPM\t" : u"");
  if (time)
    Compare(text, filtermodule::NormalizeTime,
            filtermodule::NormalizeTimeByConversion);
  else
    Compare(text, filtermodule::NormalizeDate,
            filtermodule::NormalizeDateByConversion);
  return 0;
}
