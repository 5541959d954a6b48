#include "postprocessor/run_share.h"

#include <utility>

#include "postprocessor/collapse/category_map.h"
#include "postprocessor/run_facts.h"

namespace qorv::postprocessor::detail {

namespace {

// Deletes the list; holds the run's share for as long as the list lives.
struct SharingDeleter {
  std::shared_ptr<RunShare> share;
  void operator()(IssueList* list) const { delete list; }
};

}  // namespace

std::shared_ptr<IssueList> NewSharedIssueList(IssueList list) {
  return std::shared_ptr<IssueList>(new IssueList(std::move(list)), SharingDeleter{std::make_shared<RunShare>()});
}

RunShare* ShareOf(const PostprocessorExtensionData& data) {
  const auto* deleter = std::get_deleter<SharingDeleter>(data.issues);
  return deleter ? deleter->share.get() : nullptr;
}

}  // namespace qorv::postprocessor::detail
