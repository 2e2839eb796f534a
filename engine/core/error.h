#pragma once

// The engine's Error lives with the byte sources, the lowest layer that
// reports one; this header keeps the model's spelling of it.
#include "io/error.h"
