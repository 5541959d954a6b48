// Suppression files: read with libxml2 (no network, no DTD, no entities
// but the predefined ones), then walked strictly; node ranges expanded here.
#include "tools/suppressions.h"

#include <fcntl.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <unordered_map>
#include <utility>

#include "postprocessor/host/str.h"

namespace qorv::tools {

namespace {

// Far more than any list of rules needs; keeps a wrong file from being read
// into memory whole.
constexpr off_t kMaxFileBytes = off_t{16} << 20;
// Numbers in a node range: enough for any node name, far from overflow.
constexpr std::size_t kMaxDigits = 18;

// Text from a file as it goes into a one-line message: control characters
// as \xNN.
std::string Printable(const std::string& text) {
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7f) {
      out += c;
    } else {
      static const char kHex[] = "0123456789abcdef";
      out += {'\\', 'x', kHex[byte >> 4], kHex[byte & 15]};
    }
  }
  return out;
}

bool Digits(const std::string& text) {
  return !text.empty() && text.size() <= kMaxDigits && text.find_first_not_of("0123456789") == std::string::npos;
}

// One comma-separated item of a node-range string: a name, or
// "prefix[elements]suffix".
void ExpandItem(const std::string& item, std::size_t limit, std::vector<std::string>& names) {
  auto fail = [&](const std::string& problem) { throw std::invalid_argument("'" + Printable(item) + "': " + problem); };
  if (item.empty()) throw std::invalid_argument("an empty node name (two commas in a row, or one at an end)");
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  if (blank(item.front()) || blank(item.back())) {
    fail("a node name neither starts nor ends with a blank");
  }
  const std::size_t open = item.find('[');
  if (open == std::string::npos) {
    if (names.size() >= limit) throw std::length_error("too many node names");
    names.push_back(item);
    return;
  }
  const std::size_t close = item.find(']', open);  // present: the caller checked the brackets pair up
  const std::string prefix = item.substr(0, open), suffix = item.substr(close + 1);
  if (suffix.find('[') != std::string::npos) fail("more than one bracket in a name");
  const std::string inside = item.substr(open + 1, close - open - 1);
  if (inside.empty()) fail("an empty bracket");

  std::size_t start = 0;
  while (true) {
    const std::size_t comma = std::min(inside.find(',', start), inside.size());
    const std::string element = inside.substr(start, comma - start);
    const std::size_t dash = element.find('-');
    const std::string first = element.substr(0, dash);
    const std::string last = dash == std::string::npos ? first : element.substr(dash + 1);
    if (!Digits(first) || !Digits(last)) {
      fail("'" + Printable(element) + "' is not a number or a range first-last (of up to " +
           std::to_string(kMaxDigits) + " digits)");
    }
    // A zero-padded range keeps its width throughout ("node[0998-1003]");
    // an unpadded one has no leading zeros ("node[9-10]").
    const bool padded = first.size() > 1 && first[0] == '0';
    if (padded ? last.size() != first.size() : (last.size() > 1 && last[0] == '0')) {
      fail("'" + element + "': the ends of a range are both zero-padded to one width, or neither is padded");
    }
    const unsigned long long low = std::stoull(first), high = std::stoull(last);
    if (low > high) fail("'" + element + "' runs backwards");
    if (high - low >= limit - names.size()) throw std::length_error("too many node names");
    for (unsigned long long value = low;; ++value) {
      std::string number = std::to_string(value);
      if (padded && number.size() < first.size()) number.insert(0, first.size() - number.size(), '0');
      names.push_back(prefix + number + suffix);
      if (value == high) break;
    }
    if (comma == inside.size()) break;
    start = comma + 1;
  }
}

// The whole file in `bytes`; false when it is optional and does not exist.
bool ReadWhole(const std::string& path, bool optional, std::string& bytes) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (optional && (errno == ENOENT || errno == ENOTDIR)) return false;
    throw SuppressionError(path + ": cannot open the suppression file: " + std::strerror(errno));
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > kMaxFileBytes) {
    const std::string problem = S_ISDIR(info.st_mode)    ? std::strerror(EISDIR)
                                : !S_ISREG(info.st_mode) ? "not a regular file"
                                                         : "larger than 16 MiB";
    ::close(fd);
    throw SuppressionError(path + ": cannot read the suppression file: " + problem);
  }
  bytes.resize(static_cast<std::size_t>(info.st_size));
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t got = ::read(fd, bytes.data() + done, bytes.size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      const std::string problem = got < 0 ? std::strerror(errno) : "the file shrank while being read";
      ::close(fd);
      throw SuppressionError(path + ": cannot read the suppression file: " + problem);
    }
    done += static_cast<std::size_t>(got);
  }
  ::close(fd);
  return true;
}

#if LIBXML_VERSION >= 21200
using XmlErrorArg = const xmlError*;
#else
using XmlErrorArg = xmlErrorPtr;
#endif

// The first error libxml2 reports while parsing; warnings are ignored.
struct FirstError {
  bool set = false;
  long line = 0;
  std::string message;
};

// Called from C code: nothing may be thrown through it.
void CaptureError(void* data, XmlErrorArg error) noexcept {
  auto& first = *static_cast<FirstError*>(data);
  if (first.set || error == nullptr || error->level < XML_ERR_ERROR) return;
  first.set = true;
  first.line = error->line;
  try {
    first.message = error->message ? str::rstrip(error->message) : "malformed XML";
    // Some messages run on to a second line; a message here is one line.
    for (char& c : first.message) {
      if (c == '\n' || c == '\r') c = ' ';
    }
    first.message = Printable(first.message);
  } catch (...) {
    first.message = "malformed XML";
  }
}

struct FreeXml {
  void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
  void operator()(xmlChar* text) const { xmlFree(text); }
};

std::string Name(const xmlNode* node) { return reinterpret_cast<const char*>(node->name); }

// An element's name as written, with its namespace prefix; one in a
// default namespace says so.
std::string Tag(const xmlNode* node) {
  if (!node->ns) return "<" + Name(node) + ">";
  if (node->ns->prefix) {
    return "<" + std::string(reinterpret_cast<const char*>(node->ns->prefix)) + ":" + Name(node) + ">";
  }
  return "<" + Name(node) + "> (in a namespace)";
}

// Walks one parsed file and collects its rules.
class FileWalker {
 public:
  FileWalker(const std::string& path, xmlDoc* doc, std::vector<SuppressionRule>& rules, std::size_t& node_names)
      : path_(path), doc_(doc), rules_(rules), node_names_(node_names) {}

  void Walk() {
    xmlNode* root = xmlDocGetRootElement(doc_);
    if (root->ns || Name(root) != "qorv") Fail(root, "the root element is " + Tag(root) + ", expected <qorv>");
    Attributes(root, {});
    Children(root, "suppressions", [&](xmlNode* section) {
      Attributes(section, {});
      Children(section, "suppress", [&](xmlNode* rule) { Rule(rule); });
    });
  }

 private:
  [[noreturn]] void Fail(const xmlNode* node, const std::string& problem) const {
    const long line = xmlGetLineNo(node);
    throw SuppressionError(path_ + ":" + std::to_string(line > 0 ? line : 1) + ": " + problem);
  }

  // The children of parent: elements named `expected` (none when null) go
  // to each; blank text and comments are skipped; anything else is refused.
  template <typename Each>
  void Children(xmlNode* parent, const char* expected, Each each) const {
    const std::string where = Tag(parent);
    for (xmlNode* child = parent->children; child; child = child->next) {
      switch (child->type) {
        case XML_ELEMENT_NODE:
          if (expected && !child->ns && Name(child) == expected) {
            each(child);
          } else if (expected) {
            Fail(child, "unknown element " + Tag(child) + " in " + where + " (expected <" + expected + ">)");
          } else {
            Fail(child, "unknown element " + Tag(child) + " in " + where + ", which holds none");
          }
          break;
        case XML_TEXT_NODE:
          if (!xmlIsBlankNode(child)) Fail(child, "unexpected text in " + where);
          break;
        case XML_COMMENT_NODE: break;
        default: Fail(child, "unexpected content in " + where + " (only elements and comments belong here)");
      }
    }
  }

  // The attributes of node, each one of `known`, as name and value.
  std::vector<std::pair<std::string, std::string>> Attributes(xmlNode* node,
                                                              const std::vector<std::string>& known) const {
    std::vector<std::pair<std::string, std::string>> found;
    for (xmlAttr* attribute = node->properties; attribute; attribute = attribute->next) {
      std::string name = reinterpret_cast<const char*>(attribute->name);
      if (attribute->ns && attribute->ns->prefix) {
        name = reinterpret_cast<const char*>(attribute->ns->prefix) + (":" + name);
      }
      if (attribute->ns || std::find(known.begin(), known.end(), name) == known.end()) {
        std::string expected;
        for (const auto& k : known) expected += (expected.empty() ? " (expected " : " or ") + k;
        Fail(node, "unknown attribute '" + name + "' of <" + Name(node) + ">" +
                       (expected.empty() ? std::string(", which takes none") : expected + ")"));
      }
      const std::unique_ptr<xmlChar, FreeXml> value(xmlNodeListGetString(doc_, attribute->children, 1));
      found.emplace_back(name, value ? reinterpret_cast<const char*>(value.get()) : "");
    }
    return found;
  }

  void Rule(xmlNode* element) {
    SuppressionRule rule;
    rule.file = path_;
    rule.line = xmlGetLineNo(element);
    bool has_id = false;
    for (auto& [name, value] : Attributes(element, {"id", "nodes"})) {
      if (name == "id") {
        has_id = true;
        rule.id = std::move(value);
      } else {
        rule.any_node = false;
        try {
          auto names = ExpandNodeRange(value, kMaxSuppressedNodeNames - node_names_);
          node_names_ += names.size();
          rule.nodes.insert(std::make_move_iterator(names.begin()), std::make_move_iterator(names.end()));
        } catch (const std::length_error&) {
          Fail(element,
               "nodes: the rules name more than " + std::to_string(kMaxSuppressedNodeNames) + " nodes together");
        } catch (const std::invalid_argument& error) {
          Fail(element, std::string("nodes: ") + error.what());
        }
      }
    }
    if (!has_id) Fail(element, "<suppress> has no id");
    if (rule.id.empty()) Fail(element, "<suppress> has an empty id");
    if (str::remove_sub_id(rule.id) != rule.id) {
      Fail(element,
           "id '" + Printable(rule.id) + "' carries a sub-id; a rule names the id without '#' and what follows");
    }
    Children(element, nullptr, [](xmlNode*) {});
    rules_.push_back(std::move(rule));
  }

  const std::string& path_;
  xmlDoc* doc_;
  std::vector<SuppressionRule>& rules_;
  std::size_t& node_names_;
};

}  // namespace

std::vector<std::string> ExpandNodeRange(const std::string& text, std::size_t limit) {
  if (text.empty()) throw std::invalid_argument("names no node");
  std::vector<std::string> names;
  std::size_t start = 0;
  while (true) {
    std::size_t end = start;
    bool inside = false;
    for (; end < text.size() && (inside || text[end] != ','); ++end) {
      if (text[end] == '[' && inside) throw std::invalid_argument("'[' inside a bracket");
      if (text[end] == ']' && !inside) throw std::invalid_argument("']' without its '['");
      if (text[end] == '[' || text[end] == ']') inside = !inside;
    }
    if (inside) throw std::invalid_argument("'[' without its ']'");
    ExpandItem(text.substr(start, end - start), limit, names);
    if (end == text.size()) break;
    start = end + 1;
  }
  return names;
}

void Suppressions::Load(const std::string& path, bool optional) {
  std::string bytes;
  if (!ReadWhole(path, optional, bytes)) return;

  FirstError first;
  xmlSetStructuredErrorFunc(&first, CaptureError);
  std::unique_ptr<xmlDoc, FreeXml> doc(
      xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), path.c_str(), nullptr,
                    XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_BIG_LINES));
  xmlSetStructuredErrorFunc(nullptr, nullptr);
  if (first.set || !doc) {
    const long line = first.line > 0 ? first.line : 1;
    throw SuppressionError(path + ":" + std::to_string(line) + ": " + (first.set ? first.message : "malformed XML"));
  }
  // Refused rather than read: a DTD could define entities and defaults.
  if (doc->intSubset || doc->extSubset) {
    const std::size_t at = bytes.find("<!DOCTYPE");
    const auto line = 1 + std::count(bytes.begin(), bytes.begin() + (at == std::string::npos ? 0 : at), '\n');
    throw SuppressionError(path + ":" + std::to_string(line) + ": a DOCTYPE is not accepted in a suppression file");
  }
  std::vector<SuppressionRule> rules;
  std::size_t node_names = node_names_;
  FileWalker(path, doc.get(), rules, node_names).Walk();
  // All of the file or none of it.
  rules_.insert(rules_.end(), std::make_move_iterator(rules.begin()), std::make_move_iterator(rules.end()));
  node_names_ = node_names;
}

std::vector<std::string> Suppressions::Apply(Config& config) const {
  std::unordered_map<std::string, std::vector<std::size_t>> by_id;
  for (std::size_t i = 0; i < rules_.size(); ++i) by_id[rules_[i].id].push_back(i);
  std::vector<bool> matched(rules_.size());
  if (!rules_.empty()) {
    // A record may stand in more than one list; marking it again changes nothing.
    for (auto& list : config.issue_lists) {
      for (auto& record : list) {
        if (!record) continue;
        const auto found = by_id.find(str::remove_sub_id(record->id));
        if (found == by_id.end()) continue;
        for (const std::size_t i : found->second) {
          const SuppressionRule& rule = rules_[i];
          // A rule with nodes takes only records whose every node it names,
          // so nothing reported about another node is hidden.
          bool applies = rule.any_node || !record->nodes.empty();
          for (std::size_t n = 0; applies && !rule.any_node && n < record->nodes.size(); ++n) {
            applies = rule.nodes.count(record->nodes[n]) != 0;
          }
          if (!applies) continue;
          record->suppressed = true;
          matched[i] = true;
        }
      }
    }
  }
  std::vector<std::string> unmatched;
  for (std::size_t i = 0; i < rules_.size(); ++i) {
    if (matched[i]) continue;
    const SuppressionRule& rule = rules_[i];
    unmatched.push_back(rule.file + ":" + std::to_string(rule.line) + ": the suppression of '" + Printable(rule.id) +
                        "' matches no issue");
  }
  return unmatched;
}

}  // namespace qorv::tools
