#include "ReportPage.h"

namespace eventquery::sigma {
namespace {

// Nothing is loaded from anywhere, and only the page's own style and
// script run: the policy names their SHA-256, so a script the data might
// carry would not run. A change to the style or the script changes its
// hash: the browser test (ReportInBrowser.py) says the policy to put here.
constexpr char kHead[] = R"page(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta http-equiv="Content-Security-Policy" content="default-src 'none'; script-src 'sha256-Z/cjzZyWg9O1nqcIB2HGFWxNGZ6TqPJ5kFGqJlMIu6g='; style-src 'sha256-1y51AexP+PnjZ6LMXQVFAlucIZKtHEArrqgCcnIIf8Q='">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Hunt report</title>
<style>
body { font: 14px/1.4 "DejaVu Sans", Arial, sans-serif; margin: 0 24px 24px;
  color: #1d1d1f; background: #fafafa; }
h1 { font-size: 22px; margin: 16px 0 4px; }
h2 { font-size: 16px; margin: 20px 0 8px; }
.note { color: #5f6368; margin: 4px 0; }
.warn { background: #fdecea; border: 1px solid #d32f2f; padding: 8px 12px;
  margin: 12px 0; }
.cards { display: flex; flex-wrap: wrap; gap: 10px; }
.card { background: #fff; border: 1px solid #ddd; border-left: 6px solid #777;
  padding: 8px 14px; min-width: 110px; }
.card .n { font-size: 22px; font-weight: bold; }
.critical { border-left-color: #6a1b9a; } .high { border-left-color: #d32f2f; }
.medium { border-left-color: #f57c00; } .low { border-left-color: #fbc02d; }
.informational { border-left-color: #1976d2; } .none { border-left-color: #9e9e9e; }
.two { display: flex; flex-wrap: wrap; gap: 24px; }
.two > section { flex: 1 1 420px; }
table { border-collapse: collapse; background: #fff; width: 100%; }
th, td { border: 1px solid #ddd; padding: 3px 6px; text-align: left;
  vertical-align: top; }
td.n { text-align: right; }
#detections th { cursor: pointer; user-select: none; background: #eef; }
#detections th[aria-sort=ascending]::after { content: " \25B2"; }
#detections th[aria-sort=descending]::after { content: " \25BC"; }
#detections td { max-width: 480px; overflow-wrap: anywhere; }
#search { width: 320px; padding: 4px; margin-bottom: 6px; }
#chart svg { width: 100%; height: 260px; background: #fff;
  border: 1px solid #ddd; }
.legend span { display: inline-block; margin-right: 12px; }
.legend i { display: inline-block; width: 12px; height: 12px;
  margin-right: 4px; vertical-align: -1px; }
</style>
</head>
<body>
<h1>Hunt report</h1>
<p class="note" id="period"></p>
<div id="warnings"></div>
<div class="cards" id="counts"></div>
<section>
<h2>Detections over time, by level</h2>
<div id="chart"></div>
<p class="legend" id="legend"></p>
<p class="note" id="chart-note"></p>
</section>
<div class="two">
<section><h2>Rules with the most detections</h2>
<table id="top-rules"><thead><tr><th>Detections</th><th>Rule</th><th>Level</th><th>Id</th></tr></thead><tbody></tbody></table></section>
<section><h2>Hosts with the most detections</h2>
<table id="top-hosts"><thead><tr><th>Detections</th><th>Host</th></tr></thead><tbody></tbody></table></section>
</div>
<section id="more"></section>
<section>
<h2 id="rows-title">Detections</h2>
<p class="note" id="rows-note"></p>
<input id="search" type="search" placeholder="Search every column" aria-label="Search">
<span class="note" id="shown"></span>
<table id="detections"><thead><tr>
<th>Time</th><th>Level</th><th>Rule</th><th>Rule id</th><th>Input</th><th>Record</th><th>Computer</th><th>Channel</th><th>EventID</th><th>Details</th>
</tr></thead><tbody id="rows"></tbody></table>
</section>
<script type="application/json" id="data">)page";

// Every text of the data goes in as a text node, never as markup: the
// events' fields are the attacker's words.
constexpr char kTail[] = R"page(</script>
<script>
"use strict";
const data = JSON.parse(document.getElementById("data").textContent);
const summary = data.summary;
const LEVELS = ["critical", "high", "medium", "low", "informational", "none"];
const COLOURS = ["#6a1b9a", "#d32f2f", "#f57c00", "#fbc02d", "#1976d2",
                 "#9e9e9e"];
const RANK = {critical: 5, high: 4, medium: 3, low: 2, informational: 1};
const SVG = "http://www.w3.org/2000/svg";

function el(tag, text, cls) {
  const e = document.createElement(tag);
  if (text !== undefined) e.textContent = String(text);
  if (cls) e.className = cls;
  return e;
}
function num(n) { return Number(n).toLocaleString("en-US"); }
function row(tbody, cells, numeric) {
  const tr = document.createElement("tr");
  cells.forEach((c, i) => tr.appendChild(el("td", c, numeric[i] ? "n" : "")));
  tbody.appendChild(tr);
}

// The period and what may make the counts short.
document.getElementById("period").textContent =
    (summary.first ? "Detected events from " + summary.first + " to " +
     summary.last + ". " : "") +
    num(summary.events ? summary.events.read : 0) + " event(s) read, " +
    num(summary.rules_loaded || 0) + " rule(s) loaded.";
const warnings = document.getElementById("warnings");
if (summary.failed)
  warnings.appendChild(el("p", "The hunt reported a failure: an input, " +
      "rule or record was not read whole, and these counts may be short. " +
      "Its messages say which.", "warn"));
if (data.rows_left_out > 0)
  warnings.appendChild(el("p", "The table holds the first " +
      num(data.rows.length) + " detections; " + num(data.rows_left_out) +
      " more are counted but not listed (the hunt's CSV or JSON Lines " +
      "output holds them all).", "warn"));

// The counts, as the summary gives them.
const counts = document.getElementById("counts");
function card(id, label, n, cls) {
  const c = el("div", undefined, "card " + (cls || ""));
  c.id = id;
  c.appendChild(el("div", num(n), "n"));
  c.appendChild(el("div", label));
  counts.appendChild(c);
}
card("total", "detections", summary.detections);
LEVELS.forEach(l => {
  const n = summary.by_level[l] || 0;
  if (l !== "none" || n > 0) card("level-" + l, l, n, l);
});
card("rules-fired", "rules fired", summary.rules.length);
card("hosts", "hosts", summary.hosts.length);
(summary.correlations || []).length &&
    card("correlated", "correlation detections",
         summary.correlations.reduce((a, c) => a + c.detections, 0));

// Detections over time, stacked by level.
(function chart() {
  const h = data.histogram, bars = h.bars;
  const note = document.getElementById("chart-note");
  const legend = document.getElementById("legend");
  LEVELS.forEach((l, i) => {
    const s = el("span", l);
    const sw = el("i");
    sw.style.background = COLOURS[i];
    s.prepend(sw);
    legend.appendChild(s);
  });
  let said = bars.length ? "Each bar is " + h.width + ", from " +
      bars[0].start + "." : "No detection has a readable time.";
  if (summary.without_time > 0)
    said += " " + num(summary.without_time) + " detection(s) have no " +
        "readable time and are not drawn.";
  note.textContent = said;
  if (!bars.length) return;
  const W = 1000, H = 260, left = 60, bottom = 30, top = 10;
  const most = Math.max(1, ...bars.map(b => b.counts.reduce((a, c) => a + c, 0)));
  const svg = document.createElementNS(SVG, "svg");
  svg.setAttribute("viewBox", "0 0 " + W + " " + H);
  svg.setAttribute("preserveAspectRatio", "none");
  svg.id = "chart-svg";
  const step = (W - left - 10) / bars.length;
  const scale = (H - bottom - top) / most;
  function label(x, y, t, anchor) {
    const e = document.createElementNS(SVG, "text");
    e.setAttribute("x", x);
    e.setAttribute("y", y);
    e.setAttribute("font-size", "12");
    e.setAttribute("text-anchor", anchor || "start");
    e.textContent = t;
    svg.appendChild(e);
  }
  bars.forEach((b, i) => {
    let y = H - bottom;
    const tip = [b.start];
    const g = document.createElementNS(SVG, "g");
    b.counts.forEach((c, l) => {
      if (!c) return;
      tip.push(num(c) + " " + LEVELS[l]);
      const r = document.createElementNS(SVG, "rect");
      const height = Math.max(1, c * scale);
      y -= height;
      r.setAttribute("x", left + i * step + step * 0.1);
      r.setAttribute("y", y);
      r.setAttribute("width", Math.max(1, step * 0.8));
      r.setAttribute("height", height);
      r.setAttribute("fill", COLOURS[l]);
      r.setAttribute("class", "bar " + LEVELS[l]);
      g.appendChild(r);
    });
    const t = document.createElementNS(SVG, "title");
    t.textContent = tip.length > 1 ? tip.join(", ") : b.start + ": none";
    g.appendChild(t);
    svg.appendChild(g);
  });
  label(left - 6, top + 12, num(most), "end");
  label(left - 6, H - bottom, "0", "end");
  label(left, H - 8, bars[0].start);
  label(W - 10, H - 8, bars[bars.length - 1].start, "end");
  document.getElementById("chart").appendChild(svg);
})();

// The rules and hosts with the most detections.
const topRules = document.querySelector("#top-rules tbody");
summary.rules.slice(0, 20).forEach(r =>
    row(topRules, [num(r.detections), r.title, r.level || "no level", r.id],
        [true]));
const topHosts = document.querySelector("#top-hosts tbody");
summary.hosts.slice(0, 20).forEach(h =>
    row(topHosts, [num(h.detections), h.host || "(no Computer)"], [true]));

// Correlations, site filters and the rules each kind of input met.
(function more() {
  const more = document.getElementById("more");
  function list(title, id, items) {
    if (!items || !items.length) return;
    more.appendChild(el("h2", title));
    const ul = el("ul");
    ul.id = id;
    items.forEach(t => ul.appendChild(el("li", t)));
    more.appendChild(ul);
  }
  list("Correlations", "correlations", (summary.correlations || []).map(c =>
      c.title + " (" + c.id + "): " + num(c.detections) + " detection(s)"));
  list("Site filters", "filters", (summary.filters || []).map(f =>
      f.title + " (" + f.id + ") removed " + num(f.removed) +
      " detection(s)"));
  list("Inputs by product", "products", (summary.products || []).map(p =>
      num(p.inputs) + " " + (p.product || "unknown product") +
      " input(s): " + num(p.rules_run) + " rule(s) ran" +
      (p.rules_not_run ? ", " + num(p.rules_not_run) +
       " of other log sources not run" : "")));
})();

// What a row of the table is.
(function rowsNote() {
  const notes = [];
  if (data.rows_are === "events") {
    document.getElementById("rows-title").textContent = "Events detected";
    notes.push("One row per event, with the rules that detected it and " +
               "the highest level; the counts above are of detections.");
  }
  const correlated = (summary.correlations || [])
      .reduce((a, c) => a + c.detections, 0);
  if (correlated > 0)
    notes.push("The " + num(correlated) + " correlation detection(s) are " +
               "rows too (no input or record); the counts and the chart " +
               "above are of the rules' detections.");
  document.getElementById("rows-note").textContent = notes.join(" ");
})();

// The table: click a header to sort (again to reverse), type to search.
(function table() {
  const rows = data.rows;
  const tbody = document.getElementById("rows");
  const shown = document.getElementById("shown");
  const search = document.getElementById("search");
  const headers = Array.from(document.querySelectorAll("#detections th"));
  const numeric = new Set([5, 8]);
  let order = rows.map((_, i) => i), column = -1, descending = false;
  function key(r, c) {
    if (c === 1) return RANK[r[1]] || 0;
    if (numeric.has(c)) {
      const n = Number(r[c]);
      return r[c] === "" || isNaN(n) ? -Infinity : n;
    }
    return String(r[c]).toLowerCase();
  }
  function render() {
    const q = search.value.trim().toLowerCase();
    const frag = document.createDocumentFragment();
    let n = 0;
    for (const i of order) {
      const r = rows[i];
      if (q && !r.some(c => String(c).toLowerCase().includes(q))) continue;
      ++n;
      const tr = document.createElement("tr");
      r.forEach((c, j) => tr.appendChild(el("td", c, numeric.has(j) ? "n" : "")));
      frag.appendChild(tr);
    }
    tbody.replaceChildren(frag);
    shown.textContent = num(n) + " of " + num(rows.length) + " row(s) shown";
  }
  headers.forEach((th, c) => th.addEventListener("click", () => {
    descending = column === c ? !descending : false;
    column = c;
    // A stable sort: equal keys keep the hunt's order.
    order = rows.map((_, i) => i).sort((a, b) => {
      const x = key(rows[a], c), y = key(rows[b], c);
      const d = x < y ? -1 : x > y ? 1 : 0;
      return descending ? -d : d;
    });
    headers.forEach(h => h.removeAttribute("aria-sort"));
    th.setAttribute("aria-sort", descending ? "descending" : "ascending");
    render();
  }));
  search.addEventListener("input", render);
  render();
  // A view the link names: #sort=COLUMN[,desc]&q=TEXT.
  const wanted = new URLSearchParams(location.hash.slice(1));
  const sort = (wanted.get("sort") || "").split(",");
  const th = headers.find(h => h.textContent.toLowerCase() === sort[0]);
  if (th) {
    th.click();
    if (sort[1] === "desc") th.click();
  }
  if (wanted.get("q")) {
    search.value = wanted.get("q");
    render();
  }
})();
</script>
</body>
</html>
)page";

}  // namespace

std::string_view ReportPageHead() { return {kHead, sizeof kHead - 1}; }
std::string_view ReportPageTail() { return {kTail, sizeof kTail - 1}; }

}  // namespace eventquery::sigma
