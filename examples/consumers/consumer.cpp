// A host that uses an installed FilterModule: built by scripts/consumers.sh
// once through find_package and once through pkg-config. It builds the
// condition "EventID = 4625" and prints the interval the filter derives.

#include <filtermodule/FilterModule.h>
#include <filtermodule/Version.h>

#include <cstdio>

namespace {

class Line final : public IFilterLine {
 public:
  int32_t GetOpenBrackets() override { return 0; }
  void SetOpenBrackets(int32_t) override {}
  int32_t GetCloseBrackets() override { return 0; }
  void SetCloseBrackets(int32_t) override {}
  bool GetNot() override { return false; }
  int32_t GetFieldOperator() override { return 0; }  // equals
  int32_t GetFieldType() override { return 0; }      // numeric
  bool HasExtendedTag() override { return false; }
  const char16_t* GetTagName() override { return u""; }
  const char16_t* GetFieldName() override { return u"EventID"; }
  int32_t GetLinkOperator() override { return 0; }
  const char16_t* GetValue() override { return u"4625"; }
};

class Lines final : public IFilterLineList {
 public:
  uint32_t GetLineCount() override { return 1; }
  IFilterLine* GetLine(uint32_t) override { return &line_; }

 private:
  Line line_;
};

}  // namespace

int main() {
  Lines lines;
  IFilter* filter = CreateFilter();
  if (filter == nullptr) return 1;
  filter->Init(&lines);
  INumericIntervalCollection* ids = filter->GetNumericIntervals(u"EventID");
  const bool ok = ids->GetCount() == 1 && ids->GetAt(0)->GetLower() == 4625 &&
                  ids->GetAt(0)->GetUpper() == 4625;
  std::printf("FilterModule %s: EventID in [%d, %d]\n", FILTERMODULE_VERSION,
              ids->GetAt(0)->GetLower(), ids->GetAt(0)->GetUpper());
  ids->Release();
  DestroyFilter(filter);
  return ok ? 0 : 1;
}
