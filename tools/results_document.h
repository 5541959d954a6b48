// ResultsDocument: a qorv_results.json document (docs/results-json.md) of
// schema version 1, read whole and parsed, for the commands that read the
// results of a run (diff, drain).
//
// Every problem is a ResultsError whose what() names the file and the
// problem: the system's reason when the file cannot be read (only a regular
// file is read: a FIFO would keep the program waiting), the line and column
// when it is not JSON, the field when it is not a results document.
#pragma once

#include <simdjson.h>

#include <string>
#include <string_view>
#include <vector>

#include "tools/results_error.h"

namespace qorv::tools {

class ResultsDocument {
 public:
  // Reads and checks file. Throws ResultsError.
  explicit ResultsDocument(const std::string& file);
  ResultsDocument(const ResultsDocument&) = delete;
  ResultsDocument& operator=(const ResultsDocument&) = delete;

  const std::string& file() const { return file_; }
  // The document's object; valid while this lives.
  simdjson::dom::object root() const { return root_; }

  // The member name of object, which `where` names in the message ("the
  // document", "issues[3]"). Throws ResultsError when it has none.
  simdjson::dom::element Field(simdjson::dom::object object, const char* name, const std::string& where) const;
  // The string value, which `where` names. Throws ResultsError when it is
  // not a string.
  std::string_view Text(simdjson::dom::element value, const std::string& where) const;
  // The names of a node list ({"names": [...]}), which `where` names.
  // Throws ResultsError when they are not a list of strings.
  std::vector<std::string> NodeNames(simdjson::dom::element nodes, const std::string& where) const;

  // Calls visit(object, where) for each member of "issues", in order: the
  // issue's object and its place ("issues[3]") for messages. Throws
  // ResultsError when issues is not a list of objects.
  template <typename Visit>
  void ForEachIssue(Visit&& visit) const {
    simdjson::dom::array issues;
    if (Field(root_, "issues", "the document").get_array().get(issues) != simdjson::SUCCESS) {
      throw ResultsError(file_ + ": issues is not a list");
    }
    std::size_t index = 0;
    for (simdjson::dom::element element : issues) {
      const std::string where = "issues[" + std::to_string(index++) + "]";
      simdjson::dom::object object;
      if (element.get_object().get(object) != simdjson::SUCCESS) {
        throw ResultsError(file_ + ": " + where + " is not an object");
      }
      visit(object, where);
    }
  }

 private:
  std::string file_;
  simdjson::dom::parser parser_;
  simdjson::dom::object root_;
};

}  // namespace qorv::tools
