// The coordinate conversions live with the model's points.
#pragma once

#include "gds/numeric.h"
