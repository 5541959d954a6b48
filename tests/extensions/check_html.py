#!/usr/bin/env python3
"""Strict checks of qorv_html pages: usage check_html.py FILE-OR-DIR...

A page passes when it is valid UTF-8 without control characters, every
element is one the report writes, elements nest and close properly, the only
script is the page's own (one inline element, no event-handler attributes,
nothing loaded from elsewhere) beside its JSON data block (valid JSON without
a "<") and character references are the escapes the report uses. Anything
injected by a run's text would break one of these. The issue lists a large
page keeps in <noscript> are parsed as the markup they are without a script.
"""
import html.parser
import json
import pathlib
import re
import sys

VOID = {"meta", "input", "br"}
ELEMENTS = VOID | {
    "html", "head", "title", "style", "script", "body", "header", "nav", "main", "section", "footer", "form",
    "fieldset", "legend", "label", "h1", "h2", "h3", "p", "div", "span", "strong", "code", "a", "ul", "ol", "li",
    "dl", "dt", "dd", "details", "summary", "table", "caption", "thead", "tbody", "tr", "th", "td", "time",
    "noscript",
}
DATA_BLOCK = [("type", "application/json"), ("id", "report-data")]
NAMED_REFERENCES = {"amp", "lt", "gt", "quot"}
# Elements that hold only phrasing content, and the flow content that must
# not stand in them (a browser would move it out, splitting the element).
PHRASING = {"p", "span", "code", "strong", "a", "label", "h1", "h2", "h3", "time", "legend"}
FLOW = {"div", "p", "ul", "ol", "dl", "details", "table", "section", "header", "footer", "nav", "form", "fieldset"}


class StrictParser(html.parser.HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=False)
        self.stack = []
        self.problems = []
        self.scripts = 0
        self.data_blocks = []
        self.in_data = False
        self.doctype = None
        self.seen = set()

    def problem(self, text):
        line, column = self.getpos()
        self.problems.append(f"{line}:{column}: {text}")

    def handle_decl(self, decl):
        self.doctype = decl

    def handle_starttag(self, tag, attrs):
        self.seen.add(tag)
        if tag not in ELEMENTS:
            self.problem(f"unexpected element <{tag}>")
        if tag in FLOW and PHRASING.intersection(self.stack):
            self.problem(f"<{tag}> inside {self.stack}")
        for name, value in attrs:
            if name.startswith("on"):
                self.problem(f"event handler attribute {name} on <{tag}>")
            if name in ("src", "srcset", "action", "formaction") or (name == "href" and not value.startswith("#")):
                self.problem(f"<{tag}> refers elsewhere: {name}={value!r}")
        if tag == "script" and attrs == DATA_BLOCK:
            self.data_blocks.append("")
            self.in_data = True
        elif tag == "script":
            self.scripts += 1
            if attrs:
                self.problem("<script> with attributes")
        if tag not in VOID:
            self.stack.append(tag)

    def handle_startendtag(self, tag, attrs):
        self.problem(f"self-closing <{tag}/>")

    def handle_endtag(self, tag):
        self.in_data = False
        if not self.stack or self.stack[-1] != tag:
            self.problem(f"</{tag}> does not close {self.stack[-1:] or 'anything'}")
            if tag in self.stack:
                del self.stack[self.stack.index(tag):]
            return
        self.stack.pop()

    def handle_data(self, data):
        if self.in_data:
            self.data_blocks[-1] += data

    def handle_entityref(self, name):
        if name not in NAMED_REFERENCES:
            self.problem(f"unexpected reference &{name};")

    def handle_charref(self, name):
        if name not in ("39", "10"):
            self.problem(f"unexpected reference &#{name};")

    def handle_comment(self, data):
        self.problem("comment")


def check(path):
    data = pathlib.Path(path).read_bytes()
    try:
        text = data.decode("utf-8", errors="strict")
    except UnicodeDecodeError as error:
        return [f"invalid UTF-8: {error}"]
    problems = []
    control = re.search(r"[\x00-\x08\x0b-\x1f\x7f-\x9f]", text)
    if control:
        problems.append(f"control character {control.group()!r} at offset {control.start()}")
    parser = StrictParser()
    parser.feed(text)
    parser.close()
    problems += parser.problems
    if parser.stack:
        problems.append(f"unclosed elements: {parser.stack}")
    if parser.doctype != "DOCTYPE html":
        problems.append(f"doctype {parser.doctype!r}")
    if parser.scripts != 1:
        problems.append(f"{parser.scripts} script elements")
    if len(parser.data_blocks) != 1:
        problems.append(f"{len(parser.data_blocks)} data blocks")
    for block in parser.data_blocks:
        try:
            json.loads(block)
        except ValueError as error:
            problems.append(f"data block: {error}")
        if "<" in block:
            problems.append("data block holds a '<'")
    for needed in ("html", "head", "title", "body", "main", "h1"):
        if needed not in parser.seen:
            problems.append(f"no <{needed}>")
    for needed in ('<meta charset="utf-8">', '<meta name="viewport"', '<html lang="en">', "@media print"):
        if needed not in text:
            problems.append(f"no {needed}")
    return problems


def main(arguments):
    files = []
    for argument in arguments:
        path = pathlib.Path(argument)
        files += sorted(path.glob("*.html")) if path.is_dir() else [path]
    if not files:
        print("no pages to check", file=sys.stderr)
        return 1
    failed = 0
    for file in files:
        problems = check(file)
        for problem in problems:
            print(f"{file}: {problem}", file=sys.stderr)
        failed += bool(problems)
    print(f"{len(files) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
