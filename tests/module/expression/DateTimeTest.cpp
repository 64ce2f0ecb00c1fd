#include <gtest/gtest.h>

#include <string>

#include "ZoneScope.h"
#include "expression/DateTime.h"

namespace filtermodule {
namespace {

TEST(DateTimeTest, ValuesAndFormatting) {
  ZoneScope zone("UTC");
  EXPECT_EQ(TimeSpan(1, 2, 3, 4).Seconds(), ((24 + 2) * 60 + 3) * 60 + 4);
  const DateTime d(2010, 3, 5, 13, 4, 5, -1);
  EXPECT_EQ(d.GetDay(), 5);
  EXPECT_EQ(d.Format(u"%d-%m-%Y %H-%M-%S"), u"05-03-2010 13-04-05");
  EXPECT_EQ(d.Format("%d-%m-%Y"), d.Format(u"%d-%m-%Y"));
  EXPECT_EQ(d.Format(static_cast<const char*>(nullptr)), u"");
  EXPECT_EQ(d.Format(std::u16string(200, u'x').c_str()), u"");  // too long
  EXPECT_EQ((d - TimeSpan(1, 0, 0, 0)).GetDay(), 4);
}

}  // namespace
}  // namespace filtermodule
