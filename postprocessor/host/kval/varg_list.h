// KVAL_2_18::generic::varg_list: the named arguments of one message.
//
// An ordered list of (name, value) pairs; messages name their arguments "0",
// "1", ... Plain value type, not synchronised: use one list per thread.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "postprocessor/host/kval/ustring8.h"
#include "postprocessor/host/kval/variant.h"
#include "postprocessor/support/export.h"

namespace KVAL_2_18::generic {

class QORV_EXPORT varg_list {
 public:
  varg_list() = default;

  // Appends an argument. A name pushed again shadows the earlier value.
  void push_back(const strings::ustring8& name, const types::variant& value);

  // The value most recently pushed under `name`; nullptr when there is none.
  // The pointer stays valid until the list is next modified or destroyed.
  const types::variant* find(const std::string& name) const;

  // Makes room for n arguments in all, so that pushing them allocates once.
  void reserve(std::size_t n) { arguments_.reserve(n); }

  // Number of pushed arguments, shadowed ones included.
  std::size_t size() const { return arguments_.size(); }
  bool empty() const { return arguments_.empty(); }

 private:
  std::vector<std::pair<std::string, types::variant>> arguments_;
};

}  // namespace KVAL_2_18::generic
