// Visibility of the library's symbols.
//
// The library is built with hidden visibility; QORV_EXPORT marks the entry
// points, the toolkit classes that extensions compile against, and the host
// services that stand in for the host tool's own libraries.
#pragma once

#define QORV_EXPORT __attribute__((visibility("default")))
