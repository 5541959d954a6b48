// Forwarding header: StringInterface is declared in
// postprocessor/text/string_interface.h.
#pragma once

#include "postprocessor/text/string_interface.h"
