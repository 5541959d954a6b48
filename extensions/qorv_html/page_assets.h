// The style sheet and the script of the HTML report, inlined into every
// page so that it opens from a file on any machine, offline.
//
// The script reads the page's data block (the node names and the severity
// group of every listed issue) and builds, on the first use of the node
// filter, an index from node to issues. A filter shows the issues it leaves,
// hides the folds it leaves empty and gives each fold's count of the issues
// it shows; a node filter that leaves few issues opens their folds. The
// issue lists of a large report are parsed from their <noscript> chunks when
// a fold opens, a page of issues at a time. Printing shows every issue the
// filters leave, with every fold open.
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
/* The script numbers the issues it lists itself (data-n), so that an issue
   keeps its number when the filters leave out those before it; value
   attributes would cost a layout of the whole list for each. */
ol.issues.numbered { list-style: none; }
ol.issues.numbered > li.issue { position: relative; }
ol.issues.numbered > li.issue::before { content: attr(data-n) "."; position: absolute; right: calc(100% + .4rem);
  font-variant-numeric: tabular-nums; }
li.issue[data-severity=CRITICAL] { border-left-color: var(--critical); }
li.issue[data-severity=WARNING] { border-left-color: var(--warning); }
li.issue[data-severity=INFORMATIONAL] { border-left-color: var(--info); }
.issue-id { font-weight: 600; }
.badge { display: inline-block; font-size: .75rem; font-weight: 700; padding: 0 .4rem; border-radius: .6rem;
  color: #fff; background: var(--muted); vertical-align: middle; white-space: nowrap; }
.badge.CRITICAL { background: var(--critical); } .badge.WARNING { background: var(--warning); }
.badge.INFORMATIONAL { background: var(--info); }
.message { white-space: pre-line; }
.none { color: var(--muted); font-style: italic; }
.more { margin: .3rem 0 .6rem 1.8rem; color: var(--muted); }
.more button { font: inherit; font-size: .9em; margin-right: .3rem; }
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
  .result { padding: .5rem .6rem .8rem; }
  #severity-counts { font-size: .8rem; }
  #severity-counts th, #severity-counts td { padding: .2rem .3rem; }
  #severity-counts .badge { font-size: .62rem; padding: 0 .3rem; }
}
@media print {
  body { max-width: none; font-size: 11pt; }
  .controls, nav.toc, .more { display: none !important; }
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
  var PAGE = 100;       // issues a list shows at a time
  var AUTO_OPEN = 100;  // a node filter with at most this many issues opens their folds
  var DELAY = 30;       // ms of quiet typing before the filter runs
  var data = JSON.parse(document.getElementById("report-data").textContent);
  var controls = document.getElementById("filters");
  var filter = document.getElementById("node-filter");
  var partial = document.getElementById("node-partial");
  var boxes = Array.prototype.slice.call(document.querySelectorAll("input[data-severity-toggle]"));
  var status = document.getElementById("filter-status");
  var names = data.nodes;
  var issues = data.issues;

  // The folds (categories and blocks) and the issue lists, in page order;
  // each list knows the folds it stands in, each fold its lists.
  var folds = Array.prototype.map.call(document.querySelectorAll("details.category, details.block"), function (d) {
    var count = d.querySelector(":scope > summary > .count");
    return {element: d, count: count, text: count.textContent, total: +count.getAttribute("data-total"),
            category: d.classList.contains("category"), lists: []};
  });
  var foldOf = new Map(folds.map(function (fold) { return [fold.element, fold]; }));
  var first = 0;
  var lists = Array.prototype.map.call(document.querySelectorAll("[data-list]"), function (element, k) {
    var list = {element: element, first: first, count: data.lists[k][0], counted: data.lists[k][1] === 1,
                matches: data.lists[k][0], folds: [], limit: PAGE, dirty: true, ol: null, more: null,
                chunks: element.getElementsByTagName("noscript"), parsed: [],
                items: data.large ? null : element.querySelectorAll("li.issue")};
    first += list.count;
    if (list.items) {
      Array.prototype.forEach.call(element.getElementsByTagName("ol"), function (ol) { ol.classList.add("numbered"); });
      Array.prototype.forEach.call(list.items, function (li, j) { li.setAttribute("data-n", j + 1); });
    }
    for (var d = element.parentElement.closest("details"); d; d = d.parentElement.closest("details")) {
      var fold = foldOf.get(d);
      if (fold) {
        list.folds.push(fold);
        fold.lists.push(list);
      }
    }
    return list;
  });
  var current = null;  // per issue 1 when the filters show it; null when no filter is set

  // --- Node names -----------------------------------------------------------

  var lower = null, byName = null, issuesOf = null;
  // Built when the browser is first idle, or by the first filter: the names
  // in lower case, name to node numbers, node number to its issues.
  function index() {
    if (issuesOf) return;
    lower = names.map(function (name) { return name.toLowerCase(); });
    byName = new Map();
    issuesOf = names.map(function () { return []; });
    lower.forEach(function (name, n) {
      if (!byName.has(name)) byName.set(name, []);
      byName.get(name).push(n);
    });
    issues.forEach(function (row, i) {
      for (var k = 1; k < row.length; k++) issuesOf[row[k]].push(i);
    });
  }

  // The terms of a filter: split at commas and blanks outside brackets.
  function terms(text) {
    var out = [], term = "", depth = 0;
    for (var i = 0; i < text.length; i++) {
      var c = text.charAt(i), blank = /\s/.test(c);
      if (c === "[") depth += 1;
      if (c === "]" && depth > 0) depth -= 1;
      if (blank && depth > 0) continue;
      if (depth === 0 && (blank || c === ",")) {
        if (term) out.push(term);
        term = "";
      } else {
        term += c;
      }
    }
    if (term) out.push(term);
    return out;
  }

  // Digit strings compared by value.
  function value(digits) { return digits.replace(/^0+(?=\d)/, ""); }
  function compare(a, b) { return a.length !== b.length ? a.length - b.length : a < b ? -1 : a > b ? 1 : 0; }
  function literal(text) { return text.replace(/[.*+?^${}()|[\]\\\/-]/g, "\\$&"); }

  // A node-range term such as "node[01-04,07]" or "rack[1-2]n[1-8]": a
  // pattern with a group per bracket and the elements each group allows;
  // null when the term is none. An element "01-04" with a leading zero
  // names numbers of its width ("01" ... "04"), one without names numbers
  // written without padding.
  function range(term) {
    var source = "^", groups = [], rest = term, open;
    while ((open = rest.indexOf("[")) !== -1) {
      var close = rest.indexOf("]", open);
      if (close === -1) return null;
      var elements = rest.slice(open + 1, close).split(",").map(function (element) {
        var m = /^(\d+)(?:-(\d+))?$/.exec(element);
        if (!m) return null;
        var low = value(m[1]), high = value(m[2] === undefined ? m[1] : m[2]);
        var width = m[1].length > 1 && m[1].charAt(0) === "0" ? m[1].length : 0;
        return compare(low, high) <= 0 ? {low: low, high: high, width: width} : null;
      });
      if (elements.indexOf(null) !== -1) return null;
      source += literal(rest.slice(0, open)) + "(\\d+)";
      groups.push(elements);
      rest = rest.slice(close + 1);
    }
    if (rest.indexOf("]") !== -1) return null;
    return {pattern: new RegExp(source + literal(rest) + "$"), groups: groups};
  }

  function fits(digits, element) {
    if (element.width ? digits.length !== element.width : digits.length > 1 && digits.charAt(0) === "0") return false;
    var v = value(digits);
    return compare(v, element.low) >= 0 && compare(v, element.high) <= 0;
  }

  // The nodes a filter names: per node 1 or 0, and how many. A term is a
  // whole name or a node range; with anyPart, or after a leading "*", a
  // part of a name. Case is ignored.
  function matchNodes(text, anyPart) {
    var marked = new Uint8Array(names.length), count = 0;
    function mark(n) {
      if (!marked[n]) {
        marked[n] = 1;
        count += 1;
      }
    }
    terms(text.toLowerCase()).forEach(function (term) {
      var part = anyPart || term.charAt(0) === "*";
      if (term.charAt(0) === "*") term = term.slice(1);
      if (part) {
        lower.forEach(function (name, n) { if (name.indexOf(term) !== -1) mark(n); });
        return;
      }
      var nodes = term.indexOf("[") === -1 ? null : range(term);
      if (!nodes) {
        (byName.get(term) || []).forEach(mark);
        return;
      }
      lower.forEach(function (name, n) {
        var m = nodes.pattern.exec(name);
        if (m && nodes.groups.every(function (elements, g) {
          return elements.some(function (element) { return fits(m[g + 1], element); });
        })) mark(n);
      });
    });
    return {marked: marked, count: count};
  }

  // --- Issue lists ----------------------------------------------------------

  function visible(list) {
    return list.folds.every(function (fold) { return fold.element.open && !fold.element.hidden; });
  }

  // The list's j-th issue; a large report's chunks are parsed when first needed.
  function item(list, j) {
    var c = Math.floor(j / data.chunk);
    if (!list.parsed[c]) {
      var template = document.createElement("template");
      template.innerHTML = list.chunks[c].textContent;
      list.parsed[c] = template.content.querySelectorAll("li.issue");
    }
    return list.parsed[c][j - c * data.chunk];
  }

  function button(text, action) {
    var b = document.createElement("button");
    b.type = "button";
    b.textContent = text;
    b.addEventListener("click", action);
    return b;
  }

  // Shows the first list.limit issues of a large report's list that the
  // filters leave, with buttons for the rest.
  function render(list) {
    var fragment = document.createDocumentFragment();
    var end = list.first + list.count;
    for (var i = list.first, shown = 0; i < end && shown < list.limit; i++) {
      if (current && !current[i]) continue;
      var li = item(list, i - list.first);
      li.setAttribute("data-n", i - list.first + 1);
      fragment.appendChild(li);
      shown += 1;
    }
    if (!list.ol) {
      list.ol = document.createElement("ol");
      list.ol.className = "issues numbered";
      list.more = document.createElement("p");
      list.more.className = "more";
      list.element.insertBefore(list.more, list.element.firstChild);
      list.element.insertBefore(list.ol, list.more);
    }
    list.ol.replaceChildren(fragment);
    var rest = list.matches - shown;
    list.more.hidden = rest === 0;
    if (rest > 0) {
      list.more.replaceChildren(shown + " of " + list.matches + " shown. ",
        button("Show " + Math.min(rest, PAGE) + " more", function () { list.limit += PAGE; render(list); }));
    }
    if (rest > PAGE) {
      list.more.append(" ", button("Show all " + list.matches, function () { list.limit = Infinity; render(list); }));
    }
    list.dirty = false;
  }

  // Renders the shown lists the filters or the folds changed.
  function refresh() {
    if (!data.large) return;
    lists.forEach(function (list) { if (list.dirty && visible(list)) render(list); });
  }

  // --- Filters --------------------------------------------------------------

  var timer = 0;
  var saved = null;  // the folds' state before a node filter opened some

  function plural(n) { return n + (n === 1 ? " issue" : " issues"); }

  function apply() {
    clearTimeout(timer);
    timer = 0;
    var text = filter.value.trim();
    var allowed = {};
    boxes.forEach(function (box) { allowed[box.value] = box.checked; });
    var severities = data.severities.map(function (name) { return allowed[name] !== false; });
    var active = text !== "" || severities.indexOf(false) !== -1;
    var nodes = null;
    current = null;
    if (active) {
      current = new Uint8Array(issues.length);
      if (text === "") {
        issues.forEach(function (row, i) { current[i] = severities[row[0]] ? 1 : 0; });
      } else {
        index();
        nodes = matchNodes(text, partial.checked);
        for (var n = 0; n < names.length; n++) {
          if (!nodes.marked[n]) continue;
          issuesOf[n].forEach(function (i) { if (severities[issues[i][0]]) current[i] = 1; });
        }
      }
    }
    var total = 0;
    lists.forEach(function (list) {
      var k = list.count;
      if (current) {
        k = 0;
        for (var i = list.first; i < list.first + list.count; i++) k += current[i];
      }
      list.matches = k;
      list.limit = PAGE;
      list.dirty = true;
      total += k;
      if (!data.large) {
        for (var j = 0; j < list.count; j++) list.items[j].hidden = current !== null && !current[list.first + j];
      }
    });
    folds.forEach(function (fold) {
      var counted = 0, any = 0;
      fold.lists.forEach(function (list) {
        any += list.matches;
        if (list.counted || !fold.category) counted += list.matches;
      });
      fold.any = any;
      fold.element.hidden = active && any === 0;
      fold.count.textContent = active ? "(" + counted + " of " + plural(fold.total) + ")" : fold.text;
    });
    // A node filter with few issues opens their folds; clearing the
    // filters closes them again.
    if (nodes && total > 0 && total <= AUTO_OPEN) {
      if (!saved) saved = folds.map(function (fold) { return fold.element.open; });
      folds.forEach(function (fold) { if (fold.any > 0) fold.element.open = true; });
    } else if (!active && saved) {
      folds.forEach(function (fold, k) { fold.element.open = saved[k]; });
      saved = null;
    }
    refresh();
    if (!active) {
      status.textContent = "";
      return;
    }
    var groups = boxes.filter(function (box) { return box.checked; }).map(function (box) { return box.value; });
    var quoted = "\u201c" + text + "\u201d";
    var where = text === "" ? "" : nodes.count === 0
      ? ": no node with issues " + (partial.checked ? "has a name containing " : "matches ") + quoted
      : " on nodes " + (partial.checked ? "whose names contain " : "matching ") + quoted;
    status.textContent = "Showing " + total + " of " + plural(issues.length) + where +
      " (" + (groups.length ? groups.join(", ") : "no severity group") + ")";
  }

  // --- Folds, links and printing --------------------------------------------

  // toggle does not bubble; a fold that opens shows its lists.
  document.addEventListener("toggle", refresh, true);

  // A link to a part of the page opens the folds around it.
  function reveal(id) {
    var target = document.getElementById(id);
    if (!target) return;
    for (var d = target.closest("details"); d; d = d.parentElement.closest("details")) d.open = true;
    var only = target.children.length === 1 && target.firstElementChild.tagName === "DETAILS" ?
      target.firstElementChild : null;
    if (target.tagName === "DETAILS") target.open = true;
    else if (only) only.open = true;
  }
  document.addEventListener("click", function (event) {
    var link = event.target.closest && event.target.closest("a[href^='#']");
    if (link) reveal(decodeURIComponent(link.getAttribute("href").slice(1)));
  });
  if (location.hash) reveal(decodeURIComponent(location.hash.slice(1)));

  // Printing shows every issue the filters leave, every fold open; the
  // reader's folds and lists come back afterwards.
  var printed = null;
  window.addEventListener("beforeprint", function () {
    printed = {limits: lists.map(function (list) { return list.limit; })};
    if (data.large) lists.forEach(function (list) { list.limit = Infinity; render(list); });
    printed.closed = Array.prototype.filter.call(document.querySelectorAll("details"), function (d) {
      return !d.open;
    });
    printed.closed.forEach(function (d) { d.open = true; });
  });
  window.addEventListener("afterprint", function () {
    if (!printed) return;
    printed.closed.forEach(function (d) { d.open = false; });
    lists.forEach(function (list, k) {
      list.limit = printed.limits[k];
      list.dirty = true;
    });
    printed = null;
    refresh();
  });

  controls.addEventListener("submit", function (event) { event.preventDefault(); });
  filter.addEventListener("input", function () {
    clearTimeout(timer);
    timer = setTimeout(apply, DELAY);
  });
  partial.addEventListener("change", apply);
  boxes.forEach(function (box) { box.addEventListener("change", apply); });
  controls.hidden = false;
  // The index is ready before the first keystroke when the browser is idle.
  if (window.requestIdleCallback) requestIdleCallback(index);
  if (filter.value.trim() !== "" || boxes.some(function (box) { return !box.checked; })) apply();
})();
)js";

}  // namespace qorv::html_report
