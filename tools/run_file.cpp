#include "tools/run_file.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "tools/json_reader.h"

namespace qorv::tools {

namespace {

// Run files nest a few levels; anything deeper is not a run.
constexpr std::size_t kMaxDepth = 32;

// A name given in one place that must match a definition given elsewhere,
// checked once the whole file is read.
struct Reference {
  std::string name;
  const char* at = nullptr;
  std::string path;
};

// Builds the Config of one run file.
class RunFileParser {
 public:
  RunFileParser(JsonReader& reader, std::filesystem::path base) : r_(reader), base_(std::move(base)) {}

  void Top(od::value value) {
    static constexpr FieldNames<29> kFields = {"command_line",
                                               "passed",
                                               "fail_level",
                                               "output_file",
                                               "install_dir",
                                               "include_nodes",
                                               "databases",
                                               "nodes",
                                               "tested_names",
                                               "nodefile",
                                               "node_groups_file",
                                               "node_groups",
                                               "extensions",
                                               "fwds",
                                               "roots",
                                               "diagnosis_ids",
                                               "observation_ids",
                                               "category_map",
                                               "message_tables",
                                               "report_messages",
                                               "sorting",
                                               "extra_text_setting",
                                               "provider_optionsets",
                                               "diagnoses",
                                               "observations",
                                               "third",
                                               "issues",
                                               "timestamp",
                                               "metrics_file"};
    Config& c = *config_;
    r_.Record(value, kFields, [&](std::size_t field, od::value v) {
      switch (field) {
        case 0: c.command_line = r_.String(v); break;
        case 1:
          c.passed = r_.Bool(v);
          states_verdict_ = true;
          break;
        case 2: c.fail_level = static_cast<std::int32_t>(r_.Integer(v, -1, 100)); break;
        case 3: c.output_file = r_.String(v); break;
        case 4: c.install_dir = Resolve(r_.String(v)); break;
        case 5: c.include_nodes = r_.Strings(v); break;
        case 6: c.databases = r_.Strings(v); break;
        case 7: Nodes(v); break;
        case 8:
          c.tested_names = r_.StringSet(v);
          tested_names_given_ = true;
          break;
        case 9: c.nodefile = r_.String(v); break;
        case 10: c.node_groups_file = r_.String(v); break;
        case 11: r_.Array(v, [&](od::value item) { NodeGroup(item); }); break;
        case 12: c.extension_specs = Extensions(v); break;
        case 13: r_.Array(v, [&](od::value item) { Definition(item); }); break;
        case 14:
          r_.Array(v, [&](od::value item) { roots_.push_back(Name(item)); });
          roots_given_ = true;
          break;
        case 15: c.diagnosis_ids = IdLists(v); break;
        case 16: c.observation_ids = IdLists(v); break;
        case 17:
          r_.Map(v, [&](std::string_view key, const char*, od::value item) {
            c.category_map.emplace(key, r_.String(item));
          });
          break;
        case 18: MessageTables(v); break;
        case 19: ReportMessages(v); break;
        case 20: r_.Array(v, [&](od::value item) { SortCriterion(item); }); break;
        case 21: c.extra_text_setting = r_.String(v); break;
        case 22: r_.Array(v, [&](od::value item) { ProviderOptionset(item); }); break;
        case 23:
        case 24:
        case 25:
        case 26: Issues(v, c.issue_lists[field - 23]); break;
        case 27:
          r_.Fail(JsonReader::At(v), "the time stamp is not part of a run file; use --timestamp or SOURCE_DATE_EPOCH");
          break;
        case 28: metrics_file_ = r_.String(v); break;
      }
    });
    Link();
  }

  std::shared_ptr<Config> config() const { return config_; }
  bool names_extensions() const { return names_extensions_; }
  bool states_verdict() const { return states_verdict_; }
  const std::string& metrics_file() const { return metrics_file_; }

 private:
  std::string Resolve(const std::string& directory) const {
    if (directory.empty() || std::filesystem::path(directory).is_absolute()) return directory;
    std::string resolved = (base_ / directory).lexically_normal().string();
    // Catalogue directories are joined to file names without a separator.
    if (directory.back() == '/' && resolved.back() != '/') resolved += '/';
    return resolved;
  }

  // A name that refers to a definition or group, with its place.
  Reference Name(od::value value) {
    const char* at = JsonReader::At(value);
    return {r_.String(value), at, r_.Path()};
  }

  // Message arguments: strings and numbers.
  MessageArgs Arguments(od::value value) {
    MessageArgs args;
    // Allocated once, at its size: a million records hold a list each.
    r_.ArrayCounted(
        value, [&](std::size_t n) { args.reserve(n); }, [&](od::value item) { args.push_back(Argument(item)); });
    return args;
  }

  KVAL_2_18::types::variant Argument(od::value value) {
    if (ArgumentType(value) == od::json_type::string) return r_.String(value);
    return NumberArgument(value);
  }

  // The type of a message argument: a string or a number.
  od::json_type ArgumentType(od::value& value) {
    const auto type = r_.TypeOf(value);
    if (type != od::json_type::string && type != od::json_type::number) {
      r_.Fail(JsonReader::At(value), std::string("expected a string or a number, found ") + JsonReader::TypeName(type));
    }
    return type;
  }

  KVAL_2_18::types::variant NumberArgument(od::value& value) {
    const char* at = JsonReader::At(value);
    od::number number;
    if (value.get_number().get(number)) {
      r_.Fail(at,
              JsonReader::Token(value) + " is out of range (a whole number of at most 64 bits, or a decimal number)");
    }
    switch (number.get_number_type()) {
      case od::number_type::signed_integer: return number.get_int64();
      case od::number_type::unsigned_integer: return number.get_uint64();
      case od::number_type::floating_point_number: break;
    }
    const double real = number.get_double();
    if (!std::isfinite(real)) r_.Fail(at, JsonReader::Token(value) + " is out of range");
    return real;
  }

  // Whether a list of message arguments reads as the one given, compared
  // without building it.
  bool ArgumentsAre(od::value value, const MessageArgs& expected) {
    return r_.ArrayIs(value, expected.size(), [&](std::size_t i, od::value item) {
      if (ArgumentType(item) == od::json_type::string) {
        return expected[i].kind() == KVAL_2_18::types::variant::Kind::kText &&
               r_.StringIs(item, expected[i].to_string());
      }
      return SameArgument(NumberArgument(item), expected[i]);
    });
  }

  // Arguments are the same when they print the same: 0.0 and -0.0 differ.
  static bool SameArgument(const KVAL_2_18::types::variant& a, const KVAL_2_18::types::variant& b) {
    return a == b && (a.kind() != KVAL_2_18::types::variant::Kind::kReal || a.to_string() == b.to_string());
  }

  void Nodes(od::value value) {
    static constexpr FieldNames<2> kFields = {"name", "group"};
    auto& nodes = config_->nodes;
    r_.ArrayCounted(
        value, [&](std::size_t n) { nodes.reserve(n); },
        [&](od::value item) {
          const char* at = JsonReader::At(item);
          Node node;
          const char* name_at = nullptr;
          const auto present = r_.Record(item, kFields, [&](std::size_t field, od::value v) {
            if (field == 0) {
              name_at = JsonReader::At(v);
              node.name = r_.String(v);
            } else {
              node.group = r_.String(v);
            }
          });
          r_.Require(present, 0, kFields, at);
          // Hinted at the end: node lists are mostly in name order.
          const std::size_t known = node_names_.size();
          node_names_.insert(node_names_.end(), node.name);
          if (node_names_.size() == known) {
            r_.Fail(name_at, r_.Path() + ".name", "node '" + node.name + "' is listed twice");
          }
          nodes.push_back(std::move(node));
        });
  }

  void NodeGroup(od::value value) {
    static constexpr FieldNames<7> kFields = {"name",      "automatic", "excluded_groups", "test_exclusions", "nodes",
                                              "root_fwds", "valid"};
    const char* at = JsonReader::At(value);
    auto group = std::make_shared<ClusterDefinition>();
    GroupRefs refs;
    const auto present = r_.Record(value, kFields, [&](std::size_t field, od::value v) {
      switch (field) {
        case 0:
          refs.name = Name(v);
          group->name = refs.name.name;
          break;
        case 1: group->automatic = r_.Bool(v); break;
        case 2: r_.Array(v, [&](od::value item) { refs.excluded.push_back(Name(item)); }); break;
        case 3:
          r_.Map(v, [&](std::string_view test, const char* key_at, od::value item) {
            refs.excluded_tests.push_back({std::string(test), key_at, r_.Path()});
            group->test_exclusions[std::string(test)] = r_.StringSet(item);
          });
          break;
        case 4: group->node_names = r_.StringSet(v); break;
        case 5: r_.Array(v, [&](od::value item) { refs.tests.push_back(Name(item)); }); break;
        case 6: group->valid = r_.Bool(v); break;
      }
    });
    r_.Require(present, 0, kFields, at);
    if (!config_->node_groups.emplace(group->name, group).second) {
      r_.Fail(refs.name.at, refs.name.path, "node group '" + group->name + "' is defined twice");
    }
    for (const auto& excluded : refs.excluded) group->excluded_groups.insert(excluded.name);
    for (const auto& test : refs.tests) group->root_fwd_names.insert(test.name);
    group_refs_.push_back(std::move(refs));
  }

  // An array of {"directory", <list>}: extension names or catalogue files
  // (member) and the directory they lie in.
  template <typename Group>
  std::vector<Group> DirectoryGroups(od::value value, std::string_view list, std::vector<std::string> Group::*member) {
    const FieldNames<2> fields = {"directory", list};
    std::vector<Group> groups;
    r_.Array(value, [&](od::value item) {
      Group group;
      const char* at = JsonReader::At(item);
      const auto present = r_.Record(item, fields, [&](std::size_t field, od::value v) {
        if (field == 0) {
          group.directory = Resolve(r_.String(v));
        } else {
          group.*member = r_.Strings(v);
        }
      });
      r_.Require(present, 1, fields, at);
      groups.push_back(std::move(group));
    });
    return groups;
  }

  std::vector<ExtensionSpec> Extensions(od::value value) {
    auto specs = DirectoryGroups(value, "names", &ExtensionSpec::names);
    for (const auto& spec : specs) names_extensions_ |= !spec.names.empty();
    return specs;
  }

  void Definition(od::value value) {
    static constexpr FieldNames<9> kFields = {"name",       "path", "signs",   "extensions", "catalogs",
                                              "validation", "pass", "skipped", "depends_on"};
    const char* at = JsonReader::At(value);
    auto fwd = std::make_shared<Fwd>();
    Reference name;
    std::vector<std::vector<Reference>> depends_on;
    const auto present = r_.Record(value, kFields, [&](std::size_t field, od::value v) {
      switch (field) {
        case 0:
          name = Name(v);
          fwd->name = name.name;
          break;
        case 1: fwd->path = r_.String(v); break;
        case 2: fwd->signs = r_.StringSet(v); break;
        case 3: fwd->extension_specs = Extensions(v); break;
        case 4: fwd->catalog_files = DirectoryGroups(v, "files", &FileGroup::files); break;
        case 5: fwd->validation = r_.String(v); break;
        case 6: fwd->pass = r_.Bool(v); break;
        case 7: fwd->skipped = r_.Bool(v); break;
        case 8:
          r_.Array(v, [&](od::value group) {
            depends_on.emplace_back();
            r_.Array(group, [&](od::value item) { depends_on.back().push_back(Name(item)); });
          });
          break;
      }
    });
    r_.Require(present, 0, kFields, at);
    auto& attributes = *config_->fwd_attributes;
    if (!attributes.fwds.emplace(fwd->name, fwd).second) {
      r_.Fail(name.at, name.path, "Framework Definition '" + fwd->name + "' is defined twice");
    }
    fwd->node = std::make_shared<FwdNode>();
    fwd->node->fwd = fwd;
    attributes.names.push_back(fwd->name);
    dependencies_.push_back(std::move(depends_on));
  }

  std::map<std::string, std::vector<std::string>> IdLists(od::value value) {
    std::map<std::string, std::vector<std::string>> lists;
    r_.Map(value, [&](std::string_view key, const char*, od::value item) {
      lists.emplace_hint(lists.end(), key, r_.Strings(item));
    });
    return lists;
  }

  void MessageTables(od::value value) {
    static constexpr FieldNames<2> kFields = {"header", "cell"};
    r_.Map(value, [&](std::string_view id, const char*, od::value columns) {
      auto& table = config_->message_tables[std::string(id)];
      r_.Array(columns, [&](od::value column) {
        std::pair<std::string, std::string> cell;
        const char* at = JsonReader::At(column);
        const auto present = r_.Record(column, kFields, [&](std::size_t field, od::value v) {
          (field == 0 ? cell.first : cell.second) = r_.String(v);
        });
        r_.Require(present, 0, kFields, at);
        r_.Require(present, 1, kFields, at);
        table.push_back(std::move(cell));
      });
    });
  }

  void ReportMessages(od::value value) {
    static constexpr FieldNames<3> kFields = {"id", "args", "nodes"};
    r_.Map(value, [&](std::string_view key, const char*, od::value messages) {
      auto& list = config_->report_messages[std::string(key)];
      r_.Array(messages, [&](od::value item) {
        templates::Reports_msg message;
        const char* at = JsonReader::At(item);
        const auto present = r_.Record(item, kFields, [&](std::size_t field, od::value v) {
          if (field == 0) message.id = r_.String(v);
          if (field == 1) message.args = Arguments(v);
          if (field == 2) message.nodes = r_.StringSet(v);
        });
        r_.Require(present, 0, kFields, at);
        list.push_back(std::move(message));
      });
    });
  }

  void SortCriterion(od::value value) {
    static constexpr FieldNames<2> kFields = {"field", "ascending"};
    static constexpr FieldNames<4> kSortFields = {"sort_value", "id", "node", "severity"};
    const char* at = JsonReader::At(value);
    Sorting criterion(true, Sorting::SEVERITY);
    const auto present = r_.Record(value, kFields, [&](std::size_t field, od::value v) {
      if (field == 1) {
        criterion.ascending = r_.Bool(v);
        return;
      }
      const char* field_at = JsonReader::At(v);
      const std::string name = r_.String(v);
      std::size_t index = 0;
      while (index < kSortFields.size() && kSortFields[index] != name) ++index;
      if (index == kSortFields.size()) {
        r_.Fail(field_at, "unknown sort field '" + name + "' (expected sort_value, id, node or severity)");
      }
      criterion.field = static_cast<Sorting::FIELD>(index);
    });
    r_.Require(present, 0, kFields, at);
    config_->sorting_criteria.push_back(criterion);
  }

  void ProviderOptionset(od::value value) {
    std::map<std::string, std::vector<qorv::ProviderOptionset>> sets;
    r_.Map(value, [&](std::string_view name, const char*, od::value list) {
      auto& entries = sets[std::string(name)];
      r_.Array(list, [&](od::value item) {
        qorv::ProviderOptionset options;
        r_.Map(item,
               [&](std::string_view key, const char*, od::value v) { options.options.emplace(key, r_.String(v)); });
        entries.push_back(std::move(options));
      });
    });
    config_->provider_optionsets.push_back(std::move(sets));
  }

  void Issues(od::value value, IssueList& issues) {
    const bool repeats_typed = &issues == &config_->issue_lists[Config::ISSUES];
    r_.ArrayCounted(
        value, [&](std::size_t n) { issues.reserve(issues.size() + n); },
        [&](od::value item) {
          const char* at = JsonReader::At(item);
          r_.Release(at);
          od::object object = r_.Object(item);
          if (repeats_typed) {
            // Most records repeat the next typed one: compared first without
            // building them, and read in full only when they differ.
            if (const auto* candidate = NextTyped()) {
              if (Repeats(object, at, **candidate)) {
                issues.push_back(*candidate);
                ++shared_next_;
                return;
              }
              r_.Rewind(object, at);
            }
          }
          auto record = std::make_shared<analysis::AnalysisOutput>();
          Issue(object, at, *record);
          if (repeats_typed) {
            if (auto same = NextOfTypedLists(*record)) record = std::move(same);
          }
          issues.push_back(std::move(record));
        });
  }

  static constexpr FieldNames<11> kIssueFields = {"id",           "severity",       "nodes",      "args",
                                                  "secondary_id", "secondary_args", "remedy_id",  "remedy_args",
                                                  "sort_value",   "suppressed",     "subcategory"};
  static constexpr auto kInt32Min = std::numeric_limits<std::int32_t>::min();
  static constexpr auto kInt32Max = std::numeric_limits<std::int32_t>::max();

  void Issue(od::object& object, const char* at, analysis::AnalysisOutput& i) {
    const auto present = r_.Fields(object, at, kIssueFields, [&](std::size_t field, od::value v) {
      switch (field) {
        case 0: {
          const char* id_at = JsonReader::At(v);
          i.id = r_.String(v);
          if (i.id.empty()) r_.Fail(id_at, "the message id is empty");
          break;
        }
        case 1: i.severity = static_cast<std::int32_t>(r_.Integer(v, 0, 100)); break;
        case 2: i.nodes = r_.Strings(v); break;
        case 3: i.message_args = Arguments(v); break;
        case 4: i.secondary_id = r_.String(v); break;
        case 5: i.secondary_args = Arguments(v); break;
        case 6: i.remedy_id = r_.String(v); break;
        case 7: i.remedy_args = Arguments(v); break;
        case 8: i.sort_value = static_cast<std::int32_t>(r_.Integer(v, kInt32Min, kInt32Max)); break;
        case 9: i.suppressed = r_.Bool(v); break;
        case 10: i.subcategory = r_.String(v); break;
      }
    });
    r_.Require(present, 0, kIssueFields, at);
  }

  // Whether the record at object reads as `record` (SameRecord), found
  // without building it. No on any doubt (a key with escapes, a missing id):
  // the caller then rewinds and reads the record in full, and that reports
  // what is wrong. A value that is wrong fails here as it would there, since
  // the fields before it were read alike.
  bool Repeats(od::object& object, const char* at, const analysis::AnalysisOutput& record) {
    std::uint64_t present = 0;
    for (auto field_result : object) {
      od::field field = r_.Get(std::move(field_result), at);
      if (JsonReader::KeyEscaped(field)) return false;
      const std::size_t index = r_.FieldIndex(field, kIssueFields, present);
      JsonReader::Scope scope(r_, {JsonReader::Step::kField, kIssueFields[index], 0});
      od::value v = field.value();
      bool same = false;
      switch (index) {
        case 0: same = r_.StringIs(v, record.id); break;
        case 1: same = r_.Integer(v, 0, 100) == record.severity; break;
        case 2: same = r_.StringsAre(v, record.nodes); break;
        case 3: same = ArgumentsAre(v, record.message_args); break;
        case 4: same = r_.StringIs(v, record.secondary_id); break;
        case 5: same = ArgumentsAre(v, record.secondary_args); break;
        case 6: same = r_.StringIs(v, record.remedy_id); break;
        case 7: same = ArgumentsAre(v, record.remedy_args); break;
        case 8: same = r_.Integer(v, kInt32Min, kInt32Max) == record.sort_value; break;
        case 9: same = r_.Bool(v) == record.suppressed; break;
        case 10: same = r_.StringIs(v, record.subcategory); break;
      }
      if (!same) return false;
    }
    // The fields left out hold their defaults in a record read in full; so
    // do those a run file does not give.
    const auto absent = [&](std::size_t index) { return !(present & (std::uint64_t{1} << index)); };
    return !absent(0) && (!absent(1) || record.severity == 0) && (!absent(2) || record.nodes.empty()) &&
           (!absent(3) || record.message_args.empty()) && (!absent(4) || record.secondary_id.empty()) &&
           (!absent(5) || record.secondary_args.empty()) && (!absent(6) || record.remedy_id.empty()) &&
           (!absent(7) || record.remedy_args.empty()) && (!absent(8) || record.sort_value == 0) &&
           (!absent(9) || !record.suppressed) && (!absent(10) || record.subcategory.empty()) &&
           record.category.empty() && record.message.empty() && record.secondary_message.empty() &&
           record.remedy.empty();
  }

  // The category report's list usually repeats the records of the typed
  // lists (diagnoses, observations, third) in their order. Such a record is
  // taken as the same record, as the host hands it over, rather than held
  // twice.

  // The next record of the typed lists not taken yet, or null.
  const std::shared_ptr<analysis::AnalysisOutput>* NextTyped() {
    auto& lists = config_->issue_lists;
    while (shared_list_ < Config::ISSUES && shared_next_ >= lists[shared_list_].size()) {
      ++shared_list_;
      shared_next_ = 0;
    }
    if (shared_list_ >= Config::ISSUES) return nullptr;
    return &lists[shared_list_][shared_next_];
  }

  // That record, taken, when it is equal to `record` in every field; else null.
  std::shared_ptr<analysis::AnalysisOutput> NextOfTypedLists(const analysis::AnalysisOutput& record) {
    const auto* candidate = NextTyped();
    if (!candidate || !SameRecord(**candidate, record)) return nullptr;
    ++shared_next_;
    return *candidate;
  }

  static bool SameArguments(const MessageArgs& a, const MessageArgs& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), SameArgument);
  }

  static bool SameRecord(const analysis::AnalysisOutput& a, const analysis::AnalysisOutput& b) {
    return a.sort_value == b.sort_value && a.severity == b.severity && a.suppressed == b.suppressed && a.id == b.id &&
           a.nodes == b.nodes && a.subcategory == b.subcategory && a.secondary_id == b.secondary_id &&
           a.remedy_id == b.remedy_id && a.category == b.category && a.message == b.message &&
           a.secondary_message == b.secondary_message && a.remedy == b.remedy &&
           SameArguments(a.message_args, b.message_args) && SameArguments(a.secondary_args, b.secondary_args) &&
           SameArguments(a.remedy_args, b.remedy_args);
  }

  // Resolves the names that refer to definitions and groups, builds the
  // dependency trees and picks their roots.
  void Link() {
    Config& c = *config_;
    if (!tested_names_given_) c.tested_names = std::move(node_names_);
    auto& attributes = *c.fwd_attributes;

    std::unordered_set<std::string> depended_on;
    for (std::size_t d = 0; d < attributes.names.size(); ++d) {
      auto& node = *attributes.fwds.at(attributes.names[d])->node;
      for (const auto& group : dependencies_[d]) {
        node.dependencies.emplace_back();
        for (const auto& reference : group) {
          node.dependencies.back().push_back(Find(reference, "Framework Definition")->node);
          depended_on.insert(reference.name);
        }
      }
    }
    CheckCycles();

    if (roots_given_) {
      std::unordered_set<std::string> listed;
      for (const auto& reference : roots_) {
        const auto& node = Find(reference, "Framework Definition")->node;
        if (!listed.insert(reference.name).second)
          r_.Fail(reference.at, reference.path, "'" + reference.name + "' is listed twice");
        attributes.roots.push_back(node);
      }
    } else {
      for (const auto& name : attributes.names) {
        if (!depended_on.count(name)) attributes.roots.push_back(attributes.fwds.at(name)->node);
      }
    }

    for (const auto& refs : group_refs_) {
      for (const auto& excluded : refs.excluded) {
        if (!c.node_groups.count(excluded.name))
          r_.Fail(excluded.at, excluded.path, "no node group '" + excluded.name + "'");
      }
      for (const auto& test : refs.tests) Find(test, "Framework Definition");
      for (const auto& test : refs.excluded_tests) {
        const bool listed =
            std::any_of(refs.tests.begin(), refs.tests.end(), [&](const Reference& t) { return t.name == test.name; });
        if (!listed) r_.Fail(test.at, test.path, "'" + test.name + "' is not among the group's root_fwds");
      }
    }

    // A run without node groups has its nodes in the default group, as the
    // host defines it; the category report then files issues by the nodes'
    // own groups.
    if (c.node_groups.empty()) {
      auto group = std::make_shared<ClusterDefinition>();
      group->name = "default-subcluster";
      for (const auto& node : c.nodes) group->node_names.insert(node.name);
      for (const auto& root : attributes.roots) group->root_fwd_names.insert(root->fwd->name);
      c.node_groups.emplace(group->name, group);
    }
  }

  const std::shared_ptr<Fwd>& Find(const Reference& reference, const char* what) {
    const auto& fwds = config_->fwd_attributes->fwds;
    const auto found = fwds.find(reference.name);
    if (found == fwds.end())
      r_.Fail(reference.at, reference.path, std::string("no ") + what + " '" + reference.name + "'");
    return found->second;
  }

  // Definitions depend on each other without a cycle: the reports walk the
  // dependencies to their leaves. One depth-first walk over all of them, in
  // file order, with its own stack, so that a chain of any length is checked
  // in linear time and stack space.
  void CheckCycles() {
    const auto& names = config_->fwd_attributes->names;
    std::unordered_map<std::string_view, std::size_t> index;
    for (std::size_t d = 0; d < names.size(); ++d) index.emplace(names[d], d);
    enum class State : unsigned char { kNew, kOnPath, kDone };
    std::vector<State> state(names.size(), State::kNew);
    struct Frame {
      std::size_t definition, group, item;  // the next dependency to visit
    };
    std::vector<Frame> path;
    for (std::size_t start = 0; start < names.size(); ++start) {
      if (state[start] != State::kNew) continue;
      state[start] = State::kOnPath;
      path.push_back({start, 0, 0});
      while (!path.empty()) {
        Frame& frame = path.back();
        const auto& groups = dependencies_[frame.definition];
        if (frame.group == groups.size()) {
          state[frame.definition] = State::kDone;
          path.pop_back();
        } else if (frame.item == groups[frame.group].size()) {
          ++frame.group;
          frame.item = 0;
        } else {
          const Reference& reference = groups[frame.group][frame.item++];
          const std::size_t next = index.at(reference.name);
          if (state[next] == State::kOnPath) {
            // A long cycle is named by its first members and its length, on
            // one line of bounded length.
            constexpr std::size_t kNamed = 5;
            auto it = std::find_if(path.begin(), path.end(), [&](const Frame& f) { return f.definition == next; });
            const auto members = static_cast<std::size_t>(path.end() - it);
            std::string problem = "the Framework Definitions depend on each other in a cycle";
            if (members > kNamed) problem += " of " + std::to_string(members) + " definitions";
            problem += ": ";
            for (std::size_t k = 0; k < kNamed && it != path.end(); ++k, ++it) {
              problem += names[it->definition] + " -> ";
            }
            if (members > kNamed) problem += "... -> ";
            r_.Fail(reference.at, reference.path, problem + reference.name);
          }
          if (state[next] == State::kNew) {
            state[next] = State::kOnPath;
            path.push_back({next, 0, 0});
          }
        }
      }
    }
  }

  struct GroupRefs {
    Reference name;
    std::vector<Reference> excluded;
    std::vector<Reference> tests;
    std::vector<Reference> excluded_tests;
  };

  JsonReader& r_;
  std::filesystem::path base_;
  std::shared_ptr<Config> config_ = std::make_shared<Config>();
  bool names_extensions_ = false;
  bool states_verdict_ = false;
  std::string metrics_file_;
  bool tested_names_given_ = false;
  bool roots_given_ = false;
  std::set<std::string> node_names_;
  std::vector<Reference> roots_;
  std::vector<std::vector<std::vector<Reference>>> dependencies_;  // per definition, in file order
  std::vector<GroupRefs> group_refs_;
  std::size_t shared_list_ = 0;  // the next typed record to share: its list
  std::size_t shared_next_ = 0;  // and its position there
};

}  // namespace

RunFile ReadRunFile(const std::string& path) {
  try {
    JsonReader reader(path, "the run file", kMaxDepth);
    od::value top = reader.Top();
    if (reader.TypeOf(top) != od::json_type::object) reader.Fail(reader.Begin(), "a run file holds one JSON object");
    RunFileParser parser(reader, std::filesystem::path(path).parent_path());
    parser.Top(top);
    reader.End();
    return {parser.config(), parser.names_extensions(), parser.states_verdict(), parser.metrics_file()};
  } catch (const JsonReadError& error) {
    throw RunFileError(error.what());
  }
}

}  // namespace qorv::tools
