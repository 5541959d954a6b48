// qorv::util::NonDeepCopyable<T>: a base for polymorphic classes that must
// not be copied by value (which would slice them). Its only virtual
// operation is the destructor; copying and assigning are deleted.
#pragma once

namespace qorv::util {

template <typename T>
class NonDeepCopyable {
 public:
  NonDeepCopyable(const NonDeepCopyable&) = delete;
  NonDeepCopyable& operator=(const NonDeepCopyable&) = delete;
  virtual ~NonDeepCopyable() = default;

 protected:
  NonDeepCopyable() = default;
};

}  // namespace qorv::util
