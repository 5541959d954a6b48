// A hint to the processor that an address will be read soon. Internal, not
// installed. Only a hint: it changes no value and never faults.
#pragma once

namespace qorv::postprocessor::detail {

inline void Prefetch(const void* address) {
  __builtin_prefetch(address);
  // A prefetch has no effect the compiler can see, and GCC drops a call
  // that has none, prefetches and all; an empty volatile asm keeps it.
  asm volatile("");
}

}  // namespace qorv::postprocessor::detail
