// Test support for the report printers: prints through the real output log
// into a file and reads back what was written; builds small run data.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "log/output_log.h"
#include "postprocessor/collapse/collapsed_analysis_output.h"
#include "postprocessor/postprocessor_extension_data.h"
#include "tests/support/temp_dir.h"

namespace qorv::testing {

// What print writes through the output log, pointed at a fresh file.
inline std::string Printed(const std::function<void()>& print) {
  TempDir dir;
  const std::string file = dir / "report.txt";
  EXPECT_TRUE(log::OutputLog::set_out_streams(file, std::ios::out | std::ios::trunc));
  print();
  log::OutputLog::set_out_streams("", std::ios::out | std::ios::trunc);
  return ReadFile(file);
}

inline std::shared_ptr<analysis::AnalysisOutput> Record(std::string id, int severity, std::vector<std::string> nodes,
                                                        std::string message = "", std::string category = "",
                                                        std::string subcluster = "") {
  auto record = std::make_shared<analysis::AnalysisOutput>();
  record->id = std::move(id);
  record->severity = severity;
  record->nodes = std::move(nodes);
  record->message = message.empty() ? record->id : std::move(message);
  record->category = std::move(category);
  record->subcategory = std::move(subcluster);
  return record;
}

// A collapsed issue of the given records.
inline std::shared_ptr<postprocessor::CollapsedAnalysisOutput> Collapsed(
    std::vector<std::shared_ptr<analysis::AnalysisOutput>> records) {
  auto issue = std::make_shared<postprocessor::CollapsedAnalysisOutput>(postprocessor::COLLAPSED);
  for (const auto& record : records) issue->append(record);
  return issue;
}

// A definition and its tree node, linked both ways as the host links them.
inline std::shared_ptr<FwdNode> Definition(FWDAttributes& attributes, const std::string& name,
                                           const std::string& validation = "", bool pass = true) {
  auto fwd = std::make_shared<Fwd>();
  fwd->name = name;
  fwd->path = "/opt/qorv/fwd/" + name + ".xml";
  fwd->validation = validation;
  fwd->pass = pass;
  fwd->node = std::make_shared<FwdNode>();
  fwd->node->fwd = fwd;
  attributes.fwds[name] = fwd;
  attributes.names.push_back(name);
  return fwd->node;
}

// Every line of text fits in width, unless it is one word after its indent.
inline void ExpectFits(const std::string& text, int width) {
  std::size_t begin = 0;
  while (begin < text.size()) {
    std::size_t end = text.find('\n', begin);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(begin, end - begin);
    const std::size_t first = line.find_first_not_of(' ');
    const bool one_word = first == std::string::npos || line.find(' ', first) == std::string::npos;
    EXPECT_TRUE(line.size() <= static_cast<std::size_t>(width) || one_word) << "width " << width << ": " << line;
    begin = end + 1;
  }
}

}  // namespace qorv::testing
