// Forwarding header: Table and Row are declared in postprocessor/text/table.h.
#pragma once

#include "postprocessor/text/table.h"
