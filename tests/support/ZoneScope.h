// Sets the process's time zone for one test and restores it afterwards.

#ifndef TESTS_SUPPORT_ZONESCOPE_H_
#define TESTS_SUPPORT_ZONESCOPE_H_

#include <cstdlib>
#include <string>

#include "expression/DateText.h"

namespace filtermodule {

class ZoneScope {
 public:
  explicit ZoneScope(const char* zone) {
    if (const char* old = std::getenv("TZ")) old_ = old, had_ = true;
    setenv("TZ", zone, 1);
    ResetTimeZoneCaches();
  }
  ~ZoneScope() {
    if (had_)
      setenv("TZ", old_.c_str(), 1);
    else
      unsetenv("TZ");
    ResetTimeZoneCaches();
  }

 private:
  std::string old_;
  bool had_ = false;
};

}  // namespace filtermodule

#endif  // TESTS_SUPPORT_ZONESCOPE_H_
