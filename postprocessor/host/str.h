// qorv::str: the host's string services.
//
// Free functions on byte strings; each returns a new value and touches
// nothing else. Widths count UTF-8 characters, not bytes.
//
// Wrapping rule shared by word_wrap, space_wrap and column_wrap:
//  - Every line of the text (split at '\n') is wrapped on its own; the line
//    ends of the text stay where they are (a final '\n' included) and breaks
//    add new ones.
//  - Blanks are spaces and tabs; each counts as one character.
//  - A line is broken at the last break opportunity that keeps the row
//    within `width` characters. The blanks at a break are dropped, so rows
//    do not end in blanks; a line's leading blanks stay on its first row,
//    and the blanks closing a line stay when they fit in its last row. A
//    line of blanks only is kept as it is.
//  - Continuation rows start with `indent` (column_wrap: see below).
//  - No row is longer than `width` unless it holds a single unbreakable word
//    (after its indent or leading blanks); such a word is never cut, and
//    every row holds at least one word, even when `indent` is as wide as
//    `width` or wider. Multi-byte characters are never split.
//  - A width of 0 or less leaves the text as it is.
// The cost is linear in the size of the text.
#pragma once

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "postprocessor/host/fwd.h"
#include "postprocessor/support/export.h"

namespace qorv::str {

// The characters strip, rstrip and fstrip remove when given an empty set.
inline constexpr const char* kWhitespace = " \t\n\r\f\v";

QORV_EXPORT std::string upper(const std::string& text);  // ASCII letters only
QORV_EXPORT std::string lower(const std::string& text);  // ASCII letters only

// Copies trimmed of the characters in `chars` (whitespace when empty) at
// both ends, at the end, at the front.
QORV_EXPORT std::string strip(const std::string& text, const std::string& chars = "");
QORV_EXPORT std::string rstrip(const std::string& text, const std::string& chars = "");
QORV_EXPORT std::string fstrip(const std::string& text, const std::string& chars = "");

// Every run of `c` reduced to one `c`. Works in the text it is given: pass
// a temporary to spare the copy.
QORV_EXPORT std::string squeeze(std::string text, char c);

// The text with its control characters written as visible escapes, so that
// text from a run can neither drive a terminal nor break a report's lines:
// each C0 control (bytes 0x00-0x1F) but tab, and but newline when
// keep_newlines, and DEL (0x7F) becomes "\xHH" (lower-case hex of the
// byte); each C1 control in UTF-8 (U+0080-U+009F, bytes C2 80-C2 9F)
// becomes "\xc2\xHH". Backslashes and all other bytes, including those of
// ill-formed UTF-8, stay as they are. A text with nothing to escape comes
// back as it is, copied once.
QORV_EXPORT std::string escape_controls(std::string_view text, bool keep_newlines);

// Shell-style expansion of a path, without running anything:
//  - a leading "~" or "~/" becomes $HOME (or the user's home directory from
//    the password database), "~name" the home directory of user name;
//  - "$NAME" and "${NAME}" become the variable's value (empty when unset);
//  - no field splitting, no globbing, no quote removal.
// A text containing "$(" or a backtick is returned unchanged: command
// substitution is never performed. A "~name" of an unknown user and a "${"
// without its closing brace are kept literally.
QORV_EXPORT std::string wordexp(const std::string& path);

// The same expansion for a name that must mean one file, whatever expands
// it later: a leading "~" or "~name" and "$NAME" and "${NAME}" are expanded
// once. Refused, with `error` saying why and an empty result: a variable
// that is not set, a "~name" with no home directory, command substitution
// ("$(" or a backtick; nothing is run), and an expansion that still holds
// '$' or a backtick or begins with '~' (a '$' naming no variable, or a
// value holding one), which a second expansion could change. `error` is
// empty when the name is accepted.
QORV_EXPORT std::string expand_strictly(const std::string& path, std::string& error);

// Whether text asks for command substitution: "$(" or a backtick.
QORV_EXPORT bool has_command_substitution(const std::string& text);
// Whether a second expansion could change an expanded name: it holds '$' or
// a backtick, or begins with '~'.
QORV_EXPORT bool expands_again(const std::string& expanded);

// "a/b/c" gives "a/b"; "c" gives "."; "/c" gives "/"; trailing slashes are
// ignored ("a/b/" gives "a").
QORV_EXPORT std::string dirname(const std::string& path);
// The last component, trailing slashes ignored: "a/b/" gives "b"; "/" gives "/".
QORV_EXPORT std::string basename(const std::string& path);
// What follows the last '/': "a/b/c.so" gives "c.so", "a/b/" gives "".
QORV_EXPORT std::string remove_path(const std::string& path);

// The path with the extension of its file name replaced by suffix:
// "out/run.log" and ".json" give "out/run.json", "results" gives
// "results.json". A dot in a directory ("out.d/run") or leading the file
// name ("out/.results") does not start an extension.
QORV_EXPORT std::string replace_extension(const std::string& path, const std::string& suffix);

// The bare extension name of a library path: without directory, without a
// "lib" prefix (when something follows it) and without the ".so" suffix and
// any version after it. "/x/libcategory_log.so.1.2" gives "category_log";
// "qorv_json.so" gives "qorv_json"; a name without ".so" keeps its end.
QORV_EXPORT std::string get_lib_name(const std::string& path);

// The usable id of an identifier. An identifier may carry a sub-id after its
// first '#': "disk-full#sda1" has the usable id "disk-full". An identifier
// without '#' is its own usable id. usable_id gives it as a view into id,
// without a copy, for lookups; remove_sub_id as a string of its own.
inline std::string_view usable_id(std::string_view id) { return id.substr(0, id.find('#')); }
QORV_EXPORT std::string remove_sub_id(const std::string& id);

// Wraps at blanks and after commas (the comma ends its row), so long
// node-range lists such as "node[1-4],node7,node9" break too.
QORV_EXPORT std::string word_wrap(const std::string& text, int width, const std::string& indent);
// Wraps at blanks only.
QORV_EXPORT std::string space_wrap(const std::string& text, int width, const std::string& indent);
// Wraps like word_wrap, but continuation rows of a line that holds
// `separator` are aligned with blanks under the text that follows it (after
// the blanks behind it): the first separator of the line, or the last one
// when `after_last` is true. "Nodes: node[1-4],node7" continues under the
// 'n' after "Nodes: ". When that column would leave fewer than 20
// characters (or less than a third of the width) for text, or the line has
// no separator, continuation rows start with `indent` instead.
QORV_EXPORT std::string column_wrap(const std::string& text, int width, const std::string& indent, char separator,
                                    bool after_last);

// The strings padded on the left with blanks to the length of the longest,
// each preceded by `prefix`.
QORV_EXPORT std::vector<std::string> AlignRight(const std::vector<std::string>& texts, const std::string& prefix);

// The elements in set order, separated by ", ".
QORV_EXPORT std::string join_set_strings(const std::set<std::string>& texts);

// Draws tree lines (see FwdNode::create_tree) one per row, each ending in
// '\n'. A line with a single flag is a root and shows only its name. Deeper
// lines show, for each ancestor level, `vertical` when that ancestor has
// siblings after it and `blank` otherwise, then `last_branch` or `branch`
// as the node is or is not its parent's final child, then the name.
QORV_EXPORT std::string format_tree(const std::vector<TreeLine>& lines, const std::string& blank,
                                    const std::string& last_branch, const std::string& branch,
                                    const std::string& vertical);

}  // namespace qorv::str
