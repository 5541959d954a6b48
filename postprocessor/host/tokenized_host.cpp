#include "postprocessor/host/tokenized_host.h"

#include <algorithm>
#include <cstddef>
#include <string_view>

#include "postprocessor/host/str.h"

namespace qorv {
namespace {

// A name cut around its last run of digits: prefix, digits, suffix. Names
// that do not fold (no digits, or holding notation characters) are cut as
// prefix = whole name with no digits, so they sort and dedupe like the rest.
struct Token {
  std::string_view name;
  std::size_t digits_begin;
  std::size_t digits_end;
  // Start of the significant digits: leading zeros skipped, one digit kept.
  std::size_t value_begin;
  // 0 for digits written without padding, else their width. Each range of
  // the notation has one width, so only tokens of one lane share a range.
  std::size_t lane;

  std::string_view prefix() const { return name.substr(0, digits_begin); }
  std::string_view digits() const { return name.substr(digits_begin, digits_end - digits_begin); }
  std::string_view suffix() const { return name.substr(digits_end); }
  std::string_view value() const { return name.substr(value_begin, digits_end - value_begin); }
  bool folds() const { return digits_end != digits_begin; }
};

Token tokenize(std::string_view name) {
  Token t{name, name.size(), name.size(), name.size(), 0};
  if (name.find_first_of("[],") != std::string_view::npos) return t;
  const std::size_t last = name.find_last_of("0123456789");
  if (last == std::string_view::npos) return t;
  std::size_t begin = last;
  while (begin > 0 && name[begin - 1] >= '0' && name[begin - 1] <= '9') --begin;
  t.digits_begin = begin;
  t.digits_end = last + 1;
  t.value_begin = begin;
  while (t.value_begin + 1 < t.digits_end && name[t.value_begin] == '0') ++t.value_begin;
  if (t.value_begin != begin) t.lane = t.digits_end - begin;
  return t;
}

// Compares significant digits by numeric value. They may be longer than any
// integer type, so they are compared as text.
int compare_values(std::string_view a_value, std::string_view b_value) {
  if (a_value.size() != b_value.size()) return a_value.size() < b_value.size() ? -1 : 1;
  return a_value.compare(b_value);
}

// Orders digit strings by value, then unpadded before padded.
bool digits_less(std::string_view a, std::string_view b) {
  auto value = [](std::string_view d) {
    const std::size_t lead = std::min(d.find_first_not_of('0'), d.size() - 1);
    return d.substr(lead);
  };
  const int c = compare_values(value(a), value(b));
  return c != 0 ? c < 0 : a.size() < b.size();
}

// Sort key: group (prefix, suffix, folds), then lane, then value. Equal keys
// mean equal names, which is how duplicates are found.
bool token_less(const Token& a, const Token& b) {
  if (const int c = a.prefix().compare(b.prefix()); c != 0) return c < 0;
  if (const int c = a.suffix().compare(b.suffix()); c != 0) return c < 0;
  if (a.folds() != b.folds()) return !a.folds();
  if (a.lane != b.lane) return a.lane < b.lane;
  return compare_values(a.value(), b.value()) < 0;
}

// True when `b` is the digit string that follows `a` when counting: the same
// width, or one digit wider when `a` is all nines.
bool is_successor(std::string_view a, std::string_view b) {
  const std::size_t keep = a.find_last_not_of('9');
  if (keep == std::string_view::npos) {
    return b.size() == a.size() + 1 && b[0] == '1' && b.find_first_not_of('0', 1) == std::string_view::npos;
  }
  return b.size() == a.size() && b.compare(0, keep, a, 0, keep) == 0 && b[keep] == a[keep] + 1 &&
         (keep + 1 == b.size() || b.find_first_not_of('0', keep + 1) == std::string_view::npos);
}

bool is_zero_then_nines(std::string_view d) {
  return d.size() >= 2 && d[0] == '0' && d.find_first_not_of('9', 1) == std::string_view::npos;
}

bool is_one_then_zeros(std::string_view d) {
  return d[0] == '1' && d.find_first_not_of('0', 1) == std::string_view::npos;
}

struct Range {
  std::string_view first;
  std::string_view last;
};

// Runs of the unpadded lane, kept as index spans so that a padded run can
// take over their leading part of one width.
struct Span {
  std::size_t begin;
  std::size_t end;  // begin == end once fully taken over
};

// Appends the bracket body for tokens[begin, end): one group of distinct
// names sorted by lane then value, at least two of them.
void append_ranges(const std::vector<Token>& tokens, std::size_t begin, std::size_t end, std::vector<Range>& ranges,
                   std::vector<Span>& spans, std::string& out) {
  ranges.clear();
  spans.clear();
  std::size_t i = begin;
  while (i < end && tokens[i].lane == 0) {
    std::size_t j = i + 1;
    while (j < end && tokens[j].lane == 0 && is_successor(tokens[j - 1].digits(), tokens[j].digits())) ++j;
    spans.push_back({i, j});
    i = j;
  }
  auto width_of_span = [&](const Span& s) { return tokens[s.begin].digits().size(); };
  while (i < end) {
    std::size_t j = i + 1;
    while (j < end && tokens[j].lane == tokens[i].lane && is_successor(tokens[j - 1].digits(), tokens[j].digits())) ++j;
    Range range{tokens[i].digits(), tokens[j - 1].digits()};
    // Fixed-width numbering such as 0998, 0999, 1000 is one range: a padded
    // range may run on into unpadded numbers of its own width (they expand
    // the same), but never into wider ones, which readers reject.
    const std::size_t width = tokens[i].lane;
    if (is_zero_then_nines(range.last)) {
      auto it =
          std::partition_point(spans.begin(), spans.end(), [&](const Span& s) { return width_of_span(s) < width; });
      if (it != spans.end() && it->begin != it->end && width_of_span(*it) == width &&
          is_one_then_zeros(tokens[it->begin].digits())) {
        const std::size_t stop =
            static_cast<std::size_t>(std::partition_point(tokens.begin() + static_cast<std::ptrdiff_t>(it->begin),
                                                          tokens.begin() + static_cast<std::ptrdiff_t>(it->end),
                                                          [&](const Token& t) { return t.digits().size() == width; }) -
                                     tokens.begin());
        range.last = tokens[stop - 1].digits();
        // The rest starts at the next power of ten, where a wider padded
        // lane may take it over in turn; a span that is gone keeps its
        // begin so the partition above stays ordered by width.
        if (stop == it->end) {
          it->end = it->begin;
        } else {
          it->begin = stop;
        }
      }
    }
    ranges.push_back(range);
    i = j;
  }
  for (const Span& s : spans) {
    if (s.begin != s.end) ranges.push_back({tokens[s.begin].digits(), tokens[s.end - 1].digits()});
  }
  std::sort(ranges.begin(), ranges.end(), [](const Range& a, const Range& b) { return digits_less(a.first, b.first); });
  for (std::size_t k = 0; k < ranges.size(); ++k) {
    if (k > 0) out += ',';
    out += ranges[k].first;
    if (ranges[k].last != ranges[k].first) {
      out += '-';
      out += ranges[k].last;
    }
  }
}

std::string merge(const std::vector<std::string>& hosts) {
  std::vector<Token> tokens;
  tokens.reserve(hosts.size());
  std::size_t total = 0;
  for (const std::string& host : hosts) {
    if (host.empty()) continue;
    tokens.push_back(tokenize(host));
    total += host.size() + 1;
  }
  // Node sets mostly come sorted already: names of one width sort the same
  // by text as by number.
  if (!std::is_sorted(tokens.begin(), tokens.end(), token_less)) std::sort(tokens.begin(), tokens.end(), token_less);
  tokens.erase(
      std::unique(tokens.begin(), tokens.end(), [](const Token& a, const Token& b) { return a.name == b.name; }),
      tokens.end());

  std::string out;
  out.reserve(total);
  std::vector<Range> ranges;
  std::vector<Span> spans;
  for (std::size_t i = 0; i < tokens.size();) {
    std::size_t j = i + 1;
    if (tokens[i].folds()) {
      while (j < tokens.size() && tokens[j].folds() && tokens[j].prefix() == tokens[i].prefix() &&
             tokens[j].suffix() == tokens[i].suffix()) {
        ++j;
      }
    }
    if (!out.empty()) out += ',';
    if (j - i == 1) {
      out += tokens[i].name;
    } else {
      out += tokens[i].prefix();
      out += '[';
      append_ranges(tokens, i, j, ranges, spans, out);
      out += ']';
      out += tokens[i].suffix();
    }
    i = j;
  }
  return out;
}

}  // namespace

std::string TokenizedHost::get_merged_hosts(const std::vector<std::string>& hosts) {
  // The names are merged as they are shown, their control characters as
  // escapes. Almost no name has one: one check of all names together
  // spares a copy of each.
  std::string all;
  for (const std::string& host : hosts) all += host;
  if (str::escape_controls(all, false).size() == all.size()) return merge(hosts);
  std::vector<std::string> shown;
  shown.reserve(hosts.size());
  for (const std::string& host : hosts) shown.push_back(str::escape_controls(host, false));
  return merge(shown);
}

}  // namespace qorv
