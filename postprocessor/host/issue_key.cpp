#include "postprocessor/host/issue_key.h"

namespace qorv::postprocessor {

const SeverityGroups severity_groups = {
    {"critical", {75, 100, CRITICAL}},
    {"informational", {0, 24, INFORMATIONAL}},
    {"warning", {25, 74, WARNING}},
};

}  // namespace qorv::postprocessor
