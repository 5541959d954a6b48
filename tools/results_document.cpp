#include "tools/results_document.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>

#include "postprocessor/host/str.h"
#include "tools/json_syntax.h"

namespace qorv::tools {

namespace {

// The whole file, or ResultsError with the system's reason.
std::string Load(const std::string& file) {
  const std::string shown = str::escape_controls(file, false);
  struct stat info {};
  if (::stat(file.c_str(), &info) != 0)
    throw ResultsError(shown + ": cannot read the results: " + std::strerror(errno));
  if (!S_ISREG(info.st_mode)) throw ResultsError(shown + ": cannot read the results: not a file");
  errno = 0;
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  if (in) text << in.rdbuf();
  if (!in || in.bad()) {
    throw ResultsError(shown +
                       ": cannot read the results: " + (errno ? std::strerror(errno) : "the file cannot be read"));
  }
  return text.str();
}

}  // namespace

ResultsDocument::ResultsDocument(const std::string& file) : file_(file) {
  const std::string text = Load(file);
  simdjson::dom::element document;
  if (const auto error = parser_.parse(text).get(document); error != simdjson::SUCCESS) {
    // Where the text breaks off or goes wrong, for a file cut short or edited by hand.
    std::string where;
    std::string problem = simdjson::error_message(error);
    if (const auto syntax = FindSyntaxError(text, 1024)) {
      const auto position = PositionOf(text, syntax->offset);
      where = ":" + std::to_string(position.line) + ":" + std::to_string(position.column);
      problem = syntax->problem;
    }
    throw ResultsError(str::escape_controls(file, false) + where + ": not a JSON document: " + problem);
  }
  if (document.get_object().get(root_) != simdjson::SUCCESS) {
    throw ResultsError(file + ": not a qorv_results.json document (not a JSON object)");
  }
  const simdjson::dom::element version_value = Field(root_, "schema_version", "the document");
  std::int64_t version = 0;
  if (version_value.get_int64().get(version) != simdjson::SUCCESS || version != 1) {
    throw ResultsError(file + ": schema version " + simdjson::minify(version_value) +
                       " is not supported (this program reads version 1)");
  }
}

simdjson::dom::element ResultsDocument::Field(simdjson::dom::object object, const char* name,
                                              const std::string& where) const {
  simdjson::dom::element value;
  if (object[name].get(value) != simdjson::SUCCESS) {
    throw ResultsError(file_ + ": " + where + " has no '" + name + "': not a qorv_results.json document");
  }
  return value;
}

std::string_view ResultsDocument::Text(simdjson::dom::element value, const std::string& where) const {
  std::string_view text;
  if (value.get_string().get(text) != simdjson::SUCCESS) throw ResultsError(file_ + ": " + where + " is not a string");
  return text;
}

std::vector<std::string> ResultsDocument::NodeNames(simdjson::dom::element nodes, const std::string& where) const {
  simdjson::dom::array names;
  if (nodes["names"].get_array().get(names) != simdjson::SUCCESS) {
    throw ResultsError(file_ + ": " + where + ".names is not a list");
  }
  std::vector<std::string> result;
  for (simdjson::dom::element name : names) result.emplace_back(Text(name, where + ".names"));
  return result;
}

}  // namespace qorv::tools
