// Forwarding header: issue keys are declared in postprocessor/host/issue_key.h.
#pragma once

#include "postprocessor/host/issue_key.h"
