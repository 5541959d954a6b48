#include "postprocessor/host/kval/varg_list.h"

namespace KVAL_2_18::generic {

void varg_list::push_back(const strings::ustring8& name, const types::variant& value) {
  arguments_.emplace_back(name.str(), value);
}

const types::variant* varg_list::find(const std::string& name) const {
  // Lists hold a handful of arguments; a backward scan makes the latest win.
  for (auto it = arguments_.rbegin(); it != arguments_.rend(); ++it) {
    if (it->first == name) return &it->second;
  }
  return nullptr;
}

}  // namespace KVAL_2_18::generic
