#include "tools/run_file.h"

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include <nlohmann/json.hpp>

namespace qorv::tools {

namespace {

using nlohmann::json;

KVAL_2_18::types::variant ToVariant(const json& value) {
  if (value.is_string()) return value.get<std::string>();
  if (value.is_number_unsigned()) return value.get<std::uint64_t>();
  if (value.is_number_integer()) return value.get<std::int64_t>();
  if (value.is_number_float()) return value.get<double>();
  if (value.is_boolean()) return value.get<bool>() ? "true" : "false";
  return value.dump();
}

MessageArgs ToArgs(const json& record, const char* key) {
  MessageArgs args;
  for (const auto& value : record.value(key, json::array())) args.push_back(ToVariant(value));
  return args;
}

std::string Resolve(const std::filesystem::path& base, const std::string& directory) {
  if (directory.empty() || std::filesystem::path(directory).is_absolute()) return directory;
  std::string resolved = (base / directory).lexically_normal().string();
  // Catalogue directories are joined to file names without a separator.
  if (directory.back() == '/' && resolved.back() != '/') resolved += '/';
  return resolved;
}

std::shared_ptr<analysis::AnalysisOutput> ToIssue(const json& record) {
  auto issue = std::make_shared<analysis::AnalysisOutput>();
  issue->id = record.at("id").get<std::string>();
  issue->severity = record.value("severity", 0);
  issue->sort_value = record.value("sort_value", 0);
  issue->nodes = record.value("nodes", std::vector<std::string>());
  issue->suppressed = record.value("suppressed", false);
  issue->subcategory = record.value("subcategory", "");
  issue->message_args = ToArgs(record, "args");
  issue->secondary_id = record.value("secondary_id", "");
  issue->secondary_args = ToArgs(record, "secondary_args");
  issue->remedy_id = record.value("remedy_id", "");
  issue->remedy_args = ToArgs(record, "remedy_args");
  return issue;
}

std::vector<ExtensionSpec> ToSpecs(const json& specs, const std::filesystem::path& base) {
  std::vector<ExtensionSpec> out;
  for (const auto& spec : specs) {
    out.push_back({spec.value("names", std::vector<std::string>()), Resolve(base, spec.value("directory", ""))});
  }
  return out;
}

}  // namespace

std::shared_ptr<Config> ReadRunFile(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error(path + ": cannot open the run file");
  const std::filesystem::path base = std::filesystem::path(path).parent_path();

  try {
    const json run = json::parse(in);
    auto config = std::make_shared<Config>();
    config->command_line = run.value("command_line", "");
    config->passed = run.value("passed", true);
    config->fail_level = run.value("fail_level", -1);
    config->output_file = run.value("output_file", "");
    config->install_dir = Resolve(base, run.value("install_dir", ""));
    config->include_nodes = run.value("include_nodes", std::vector<std::string>());
    config->databases = run.value("databases", std::vector<std::string>());
    config->extension_specs = ToSpecs(run.value("extensions", json::array()), base);
    config->diagnosis_ids = run.value("diagnosis_ids", std::map<std::string, std::vector<std::string>>());
    config->observation_ids = run.value("observation_ids", std::map<std::string, std::vector<std::string>>());
    config->category_map = run.value("category_map", std::unordered_map<std::string, std::string>());
    for (const auto& node : run.value("nodes", json::array())) {
      config->nodes.push_back({node.value("group", ""), node.at("name").get<std::string>()});
      config->tested_names.insert(node.at("name").get<std::string>());
    }
    for (const auto& record : run.value("fwds", json::array())) {
      auto fwd = std::make_shared<Fwd>();
      fwd->name = record.at("name").get<std::string>();
      fwd->path = record.value("path", "");
      fwd->signs = record.value("signs", std::set<std::string>());
      fwd->extension_specs = ToSpecs(record.value("extensions", json::array()), base);
      for (const auto& group : record.value("catalogs", json::array())) {
        fwd->catalog_files.push_back(
            {group.value("files", std::vector<std::string>()), Resolve(base, group.value("directory", ""))});
      }
      config->fwd_attributes->names.push_back(fwd->name);
      config->fwd_attributes->fwds[fwd->name] = fwd;
    }
    const char* lists[] = {"diagnoses", "observations", "third", "issues"};
    for (std::size_t i = 0; i < 4; ++i) {
      for (const auto& record : run.value(lists[i], json::array())) config->issue_lists[i].push_back(ToIssue(record));
    }
    return config;
  } catch (const json::exception& error) {
    throw std::runtime_error(path + ": " + error.what());
  }
}

}  // namespace qorv::tools
