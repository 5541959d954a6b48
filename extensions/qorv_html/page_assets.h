// The style sheet and the script of the HTML report, inlined into every
// page so that it opens from a file on any machine, offline.
//
// The script only reads the page: the node names of each issue (the
// data-nodes attribute, one escaped name per line) and its severity group
// (data-severity). It hides the issues the filters leave out, says how many
// remain, and unfolds everything for printing.
#pragma once

namespace qorv::html_report {

inline constexpr const char kStyle[] = R"css(
:root { --fg: #1b1f24; --muted: #57606a; --line: #d0d7de; --bg-soft: #f6f8fa;
  --pass: #1a7f37; --fail: #cf222e; --critical: #a40e26; --warning: #9a6700; --info: #0969da; }
* { box-sizing: border-box; }
body { margin: 0 auto; max-width: 72rem; padding: 0 1rem 2rem; color: var(--fg); background: #fff;
  font: 16px/1.45 system-ui, -apple-system, "Segoe UI", Roboto, "Noto Sans", sans-serif; overflow-wrap: break-word; }
h1 { font-size: 1.6rem; margin: 1rem 0 .5rem; }
h2 { font-size: 1.3rem; margin: 2rem 0 .5rem; padding-bottom: .2rem; border-bottom: 1px solid var(--line); }
h3 { font-size: 1.1rem; margin: 1rem 0 .3rem; }
summary h2, summary h3 { display: inline; margin: 0; border: 0; padding: 0; }
code, .mono, .message { overflow-wrap: anywhere; }
code, .mono { font-family: ui-monospace, SFMono-Regular, Menlo, Consolas, monospace; font-size: .92em; }
a { color: var(--info); }
.result { border: 2px solid var(--line); border-radius: .5rem; padding: .5rem 1rem 1rem; margin-top: 1rem; }
.result.pass { border-color: var(--pass); } .result.fail { border-color: var(--fail); }
.verdict { font-size: 2rem; font-weight: 700; letter-spacing: .05em; }
.pass .verdict { color: var(--pass); } .fail .verdict { color: var(--fail); }
nav.toc ul { display: flex; flex-wrap: wrap; gap: .25rem 1rem; padding: 0; list-style: none; margin: .5rem 0; }
dl.facts { display: grid; grid-template-columns: max-content 1fr; gap: .2rem 1rem; margin: .5rem 0; }
dl.facts dt { font-weight: 600; } dl.facts dd { margin: 0; }
.scroll { overflow-x: auto; max-width: 100%; }
table { border-collapse: collapse; margin: .5rem 0; }
th, td { border: 1px solid var(--line); padding: .2rem .5rem; text-align: left; vertical-align: top; }
th { background: var(--bg-soft); }
td.num { text-align: right; font-variant-numeric: tabular-nums; white-space: nowrap; }
#severity-counts th, #severity-counts td { overflow-wrap: normal; }
.warning-note { border-left: 4px solid var(--warning); padding: .2rem .7rem; background: #fff8c5; }
.controls { position: sticky; top: 0; z-index: 1; background: #fff; border-bottom: 1px solid var(--line);
  padding: .5rem 0; display: flex; flex-wrap: wrap; gap: .5rem 1.5rem; align-items: center; }
.controls fieldset { border: 0; margin: 0; padding: 0; display: flex; flex-wrap: wrap; gap: .2rem .8rem; }
.controls legend { float: left; margin-right: .5rem; font-weight: 600; }
.controls input[type=search] { font: inherit; padding: .2rem .4rem; width: 14rem; max-width: 100%; }
.controls label { white-space: nowrap; }
#filter-status { color: var(--muted); }
details { margin: .3rem 0; }
summary { cursor: pointer; }
details.category { border: 1px solid var(--line); border-radius: .4rem; padding: .3rem .7rem; margin: .7rem 0; }
details.category > summary { padding: .2rem 0; }
details.block { margin-left: .3rem; }
details.block > summary { font-weight: 600; }
.count { color: var(--muted); font-weight: 400; }
ol.issues { padding-left: 1.8rem; margin: .3rem 0; }
li.issue { margin: .5rem 0; padding: .3rem .5rem; border-left: 3px solid var(--line); }
li.issue[data-severity=CRITICAL] { border-left-color: var(--critical); }
li.issue[data-severity=WARNING] { border-left-color: var(--warning); }
li.issue[data-severity=INFORMATIONAL] { border-left-color: var(--info); }
.issue-id { font-weight: 600; }
.badge { display: inline-block; font-size: .75rem; font-weight: 700; padding: 0 .4rem; border-radius: .6rem;
  color: #fff; background: var(--muted); vertical-align: middle; white-space: nowrap; }
.badge.CRITICAL { background: var(--critical); } .badge.WARNING { background: var(--warning); }
.badge.INFORMATIONAL { background: var(--info); }
.message { white-space: pre-line; }
.none, .no-match { color: var(--muted); font-style: italic; }
details.nodes { display: inline-block; vertical-align: top; margin: 0; }
details.nodes > summary { display: inline; }
details.nodes > summary::after { content: " \25B8 all"; color: var(--info); font-size: .85em; }
details.nodes[open] > summary::after { content: " \25BE"; }
.node-list { font-family: ui-monospace, SFMono-Regular, Menlo, Consolas, monospace; font-size: .9em;
  margin: .2rem 0 .2rem 1rem; max-height: 20rem; overflow-y: auto; }
ul.tree, ul.tree ul { list-style: none; padding-left: 1.2rem; margin: 0; }
ul.tree li { position: relative; }
ul.tree { margin-bottom: .6rem; }
ul.tree ul li::before { content: "\251C\2500 "; color: var(--muted); margin-left: -1.2rem; }
ul.tree ul li.last::before { content: "\2514\2500 "; }
footer { margin-top: 2rem; border-top: 1px solid var(--line); padding-top: .5rem; color: var(--muted); }
[hidden] { display: none !important; }
@media (max-width: 40rem) {
  body { padding: 0 .5rem 1rem; font-size: 15px; }
  dl.facts { grid-template-columns: 1fr; } dl.facts dd { margin-left: .8rem; }
  ol.issues { padding-left: 1.3rem; }
  .controls { position: static; }
  #severity-counts { font-size: .85rem; }
}
@media print {
  body { max-width: none; font-size: 11pt; }
  .controls, nav.toc { display: none !important; }
  details > summary { list-style: none; }
  details > summary::-webkit-details-marker { display: none; }
  details.nodes > summary::after { content: none; }
  details::details-content { content-visibility: visible; display: block; }
  .node-list { max-height: none; overflow: visible; }
  li.issue, tr { break-inside: avoid; }
  a { color: inherit; text-decoration: none; }
}
)css";

inline constexpr const char kScript[] = R"js(
(function () {
  "use strict";
  var controls = document.getElementById("filters");
  var filter = document.getElementById("node-filter");
  var boxes = Array.prototype.slice.call(document.querySelectorAll("input[data-severity-toggle]"));
  var issues = Array.prototype.slice.call(document.querySelectorAll("li.issue"));
  var lists = Array.prototype.slice.call(document.querySelectorAll("ol.issues"));
  var status = document.getElementById("filter-status");
  var names = issues.map(function (issue) {
    return (issue.getAttribute("data-nodes") || "").toLowerCase().split("\n");
  });

  function apply() {
    var text = filter.value.trim().toLowerCase();
    var shown = {};
    var allGroups = true;
    boxes.forEach(function (box) { shown[box.value] = box.checked; allGroups = allGroups && box.checked; });
    var count = 0;
    issues.forEach(function (issue, i) {
      var visible = shown[issue.getAttribute("data-severity")] !== false &&
        (text === "" || names[i].some(function (name) { return name.indexOf(text) !== -1; }));
      issue.hidden = !visible;
      if (visible) count += 1;
    });
    lists.forEach(function (list) {
      var note = list.nextElementSibling;
      if (note && note.classList.contains("no-match")) {
        note.hidden = list.querySelector("li.issue:not([hidden])") !== null;
      }
    });
    if (text === "" && allGroups) {
      status.textContent = "";
    } else {
      var groups = boxes.filter(function (box) { return box.checked; }).map(function (box) { return box.value; });
      status.textContent = "Showing " + count + " of " + issues.length + " issues" +
        (text === "" ? "" : " on nodes matching \u201c" + filter.value.trim() + "\u201d") +
        " (" + (groups.length ? groups.join(", ") : "no severity group") + ")";
    }
  }

  // Printing shows every fold open; the reader's folds come back afterwards.
  var closed = [];
  window.addEventListener("beforeprint", function () {
    closed = Array.prototype.filter.call(document.querySelectorAll("details"), function (d) { return !d.open; });
    closed.forEach(function (d) { d.open = true; });
  });
  window.addEventListener("afterprint", function () {
    closed.forEach(function (d) { d.open = false; });
    closed = [];
  });

  controls.addEventListener("submit", function (event) { event.preventDefault(); });
  filter.addEventListener("input", apply);
  boxes.forEach(function (box) { box.addEventListener("change", apply); });
  controls.hidden = false;
  apply();
})();
)js";

}  // namespace qorv::html_report
