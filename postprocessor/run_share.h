// What the extensions of one run share: the run's category maps and its
// facts, each built on the first request and then only read.
//
// The share travels with the run's issue list: fillOutputData gives the
// list a deleter that holds it, so every copy of the run data that points
// at that list finds the same share, no field of the run data and no
// global holds it, and it goes with the list. A run data whose issue list
// was made elsewhere (replaced by an extension, or built by hand) has no
// share; its callers build what they need afresh.
#pragma once

#include <memory>
#include <set>
#include <string>

#include "postprocessor/postprocessor_extension_data.h"

namespace qorv::postprocessor {

class CategoryMap;
class RunFacts;

namespace detail {

struct RunShare {
  // By table mode: [0] without tables, [1] with them.
  std::shared_ptr<CategoryMap> maps[2];
  std::shared_ptr<const RunFacts> facts;
  // Mapping errors already written: each is written once per run, however
  // many reports classify the issue again.
  std::set<std::string> reported_errors;
};

// A new issue list holding list, with a share of its own.
std::shared_ptr<IssueList> NewSharedIssueList(IssueList list);

// The share of the run data's issue list, or null when it has none.
RunShare* ShareOf(const PostprocessorExtensionData& data);

}  // namespace detail
}  // namespace qorv::postprocessor
