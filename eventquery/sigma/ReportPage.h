// The hunt report's page around its data: HTML, styles and the script
// that draws the counts, the chart and the table from the JSON object
// written between the head and the tail (in a script element of type
// application/json, with every '<' escaped).
//
// The script reads the page's fragment on load: "#sort=COLUMN" sorts the
// table by a column (its header's text, lower case; ",desc" after it
// descending), "q=TEXT" searches it, joined by '&'; a link can so point
// at a view.
//
// Thread safety: constant text.

#ifndef SIGMA_REPORTPAGE_H_
#define SIGMA_REPORTPAGE_H_

#include <string_view>

namespace eventquery::sigma {

std::string_view ReportPageHead();
std::string_view ReportPageTail();

}  // namespace eventquery::sigma

#endif  // SIGMA_REPORTPAGE_H_
