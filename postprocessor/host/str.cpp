#include "postprocessor/host/str.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <vector>

namespace qorv::str {

namespace {

const std::string& charset(const std::string& chars) {
  static const std::string whitespace = kWhitespace;
  return chars.empty() ? whitespace : chars;
}

std::string home_of(const std::string& user) {
  if (user.empty()) {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
  }
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  const int rc = user.empty() ? getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found)
                              : getpwnam_r(user.c_str(), &entry, buffer.data(), buffer.size(), &found);
  if (rc != 0 || !found || !found->pw_dir) return {};
  return found->pw_dir;
}

bool is_name_start(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool is_name_char(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// Expands "$NAME" and "${NAME}" in text; anything else is copied as it is.
// A variable that is not set expands to nothing, or, given `unset`, ends
// the expansion with its name stored there.
std::string expand_variables(const std::string& text, std::string* unset = nullptr) {
  std::string out;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] != '$' || i + 1 == text.size()) {
      out += text[i++];
      continue;
    }
    std::size_t name_begin = i + 1;
    std::size_t name_end;
    std::size_t next;
    if (text[name_begin] == '{') {
      const std::size_t close = text.find('}', name_begin + 1);
      name_end = close;
      if (close == std::string::npos || close == name_begin + 1 || !is_name_start(text[name_begin + 1]) ||
          !std::all_of(text.begin() + name_begin + 1, text.begin() + close, is_name_char)) {
        out += text[i++];
        continue;
      }
      ++name_begin;
      next = close + 1;
    } else {
      if (!is_name_start(text[name_begin])) {
        out += text[i++];
        continue;
      }
      name_end = name_begin;
      while (name_end < text.size() && is_name_char(text[name_end])) ++name_end;
      next = name_end;
    }
    const std::string name = text.substr(name_begin, name_end - name_begin);
    if (const char* value = std::getenv(name.c_str())) {
      out += value;
    } else if (unset) {
      *unset = name;
      return {};
    }
    i = next;
  }
  return out;
}

// The home directory a leading "~" or "~name" (up to the first '/') of path
// names, with the rest of the path left in `rest`; "" with `rest` the whole
// path when there is no such prefix or its home directory is unknown.
std::string split_home(const std::string& path, std::string& rest) {
  rest = path;
  if (path.empty() || path[0] != '~') return {};
  const std::size_t slash = path.find('/');
  std::string home = home_of(path.substr(1, slash == std::string::npos ? std::string::npos : slash - 1));
  if (!home.empty()) rest = slash == std::string::npos ? std::string() : path.substr(slash);
  return home;
}

}  // namespace

std::string upper(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

std::string lower(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::string strip(const std::string& text, const std::string& chars) {
  // One copy of what stays, rather than one per end.
  const std::string& set = charset(chars);
  const std::size_t first = text.find_first_not_of(set);
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(set) - first + 1);
}

std::string rstrip(const std::string& text, const std::string& chars) {
  const std::size_t last = text.find_last_not_of(charset(chars));
  return last == std::string::npos ? std::string() : text.substr(0, last + 1);
}

std::string fstrip(const std::string& text, const std::string& chars) {
  const std::size_t first = text.find_first_not_of(charset(chars));
  return first == std::string::npos ? std::string() : text.substr(first);
}

std::string squeeze(std::string text, char c) {
  // Most texts have no run to squeeze: find the first before copying any byte.
  const char pair[2] = {c, c};
  const std::size_t run = text.find(pair, 0, 2);
  if (run == std::string::npos) return text;
  std::size_t size = run + 1;
  for (const char ch : std::string_view(text).substr(run + 1)) {
    if (ch == c && size > 0 && text[size - 1] == c) continue;
    text[size++] = ch;
  }
  text.resize(size);
  return text;
}

namespace {

// How many bytes from text[i] on escape_controls escapes: 0, 1, or 2 for a
// C1 control.
std::size_t control_length(std::string_view text, std::size_t i, bool keep_newlines) {
  const auto byte = static_cast<unsigned char>(text[i]);
  if (byte >= 0x20 && byte < 0x7f) return 0;
  if (byte < 0x20) return byte == '\t' || (byte == '\n' && keep_newlines) ? 0 : 1;
  if (byte == 0x7f) return 1;
  if (byte != 0xc2 || i + 1 == text.size()) return 0;
  const auto next = static_cast<unsigned char>(text[i + 1]);
  return next >= 0x80 && next <= 0x9f ? 2 : 0;
}

}  // namespace

std::string escape_controls(std::string_view text, bool keep_newlines) {
  std::size_t i = 0;
  while (i < text.size() && control_length(text, i, keep_newlines) == 0) ++i;
  if (i == text.size()) return std::string(text);

  static const char kHex[] = "0123456789abcdef";
  std::string out(text.substr(0, i));
  out.reserve(text.size() + 16);
  while (i < text.size()) {
    const std::size_t length = control_length(text, i, keep_newlines);
    if (length == 0) {
      out += text[i++];
      continue;
    }
    for (const std::size_t end = i + length; i < end; ++i) {
      const auto byte = static_cast<unsigned char>(text[i]);
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xf];
    }
  }
  return out;
}

std::string wordexp(const std::string& path) {
  if (has_command_substitution(path)) return path;
  std::string rest;
  const std::string home = split_home(path, rest);
  return home + expand_variables(rest);
}

std::string expand_strictly(const std::string& path, std::string& error) {
  error.clear();
  if (has_command_substitution(path)) {
    error = "'" + path + "': command substitution ('$(' or '`') is never run";
    return {};
  }
  std::string rest;
  const std::string home = split_home(path, rest);
  if (home.empty() && !path.empty() && path[0] == '~') {
    error = "'" + path.substr(0, path.find('/')) + "' names no home directory";
    return {};
  }
  std::string unset;
  std::string expanded = home + expand_variables(rest, &unset);
  if (!unset.empty()) {
    error = "$" + unset + " is not set";
    return {};
  }
  if (expands_again(expanded)) {
    error = expanded == path ? "'" + path + "' holds a '$' that names no variable"
                             : "'" + path + "' expands to '" + expanded + "', which would expand again";
    return {};
  }
  return expanded;
}

bool has_command_substitution(const std::string& text) {
  return text.find("$(") != std::string::npos || text.find('`') != std::string::npos;
}

bool expands_again(const std::string& expanded) {
  return expanded.find_first_of("$`") != std::string::npos || (!expanded.empty() && expanded[0] == '~');
}

std::string dirname(const std::string& path) {
  const std::size_t end = path.find_last_not_of('/');
  if (end == std::string::npos) return path.empty() ? "." : "/";
  const std::size_t slash = path.rfind('/', end);
  if (slash == std::string::npos) return ".";
  const std::size_t dir_end = path.find_last_not_of('/', slash);
  return dir_end == std::string::npos ? "/" : path.substr(0, dir_end + 1);
}

std::string basename(const std::string& path) {
  const std::size_t end = path.find_last_not_of('/');
  if (end == std::string::npos) return path.empty() ? "" : "/";
  const std::size_t slash = path.rfind('/', end);
  const std::size_t begin = slash == std::string::npos ? 0 : slash + 1;
  return path.substr(begin, end + 1 - begin);
}

std::string remove_path(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string replace_extension(const std::string& path, const std::string& suffix) {
  const std::size_t slash = path.rfind('/');
  const std::size_t name = slash == std::string::npos ? 0 : slash + 1;
  const std::size_t dot = path.rfind('.');
  const bool has_extension = dot != std::string::npos && dot > name;
  return path.substr(0, has_extension ? dot : std::string::npos) + suffix;
}

std::string get_lib_name(const std::string& path) {
  std::string name = remove_path(path);
  // The last ".so" that is followed by nothing or by a version (".1.2").
  for (std::size_t pos = name.rfind(".so"); pos != std::string::npos && pos > 0; pos = name.rfind(".so", pos - 1)) {
    const std::string tail = name.substr(pos + 3);
    bool version = true;
    for (std::size_t i = 0; i < tail.size(); ++i) {
      const bool dot = tail[i] == '.';
      const bool digit = std::isdigit(static_cast<unsigned char>(tail[i])) != 0;
      if ((i == 0 && !dot) || (!dot && !digit) || (dot && i + 1 < tail.size() && tail[i + 1] == '.')) {
        version = false;
        break;
      }
    }
    if (version) {
      name.erase(pos);
      break;
    }
  }
  if (name.size() > 3 && name.compare(0, 3, "lib") == 0) name.erase(0, 3);
  return name;
}

std::string remove_sub_id(const std::string& id) { return std::string(usable_id(id)); }

std::vector<std::string> AlignRight(const std::vector<std::string>& texts, const std::string& prefix) {
  std::size_t width = 0;
  for (const auto& text : texts) width = std::max(width, text.size());
  std::vector<std::string> out;
  out.reserve(texts.size());
  for (const auto& text : texts) out.push_back(prefix + std::string(width - text.size(), ' ') + text);
  return out;
}

std::string join_set_strings(const std::set<std::string>& texts) {
  std::string out;
  bool first = true;
  for (const auto& text : texts) {
    if (!first) out += ", ";
    out += text;
    first = false;
  }
  return out;
}

std::string format_tree(const std::vector<TreeLine>& lines, const std::string& blank, const std::string& last_branch,
                        const std::string& branch, const std::string& vertical) {
  std::string out;
  for (const auto& [name, flags] : lines) {
    if (flags.size() > 1) {
      for (std::size_t level = 0; level + 2 < flags.size(); ++level) out += flags[level] ? vertical : blank;
      out += flags.back() ? last_branch : branch;
    }
    out += name;
    out += '\n';
  }
  return out;
}

}  // namespace qorv::str
