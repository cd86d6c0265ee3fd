// SPDX-License-Identifier: MIT
#pragma once
// The command line prints stored texts and paths with the engine's escapes.

#include "core/escape.h"

namespace pelorix::cli {

using pelorix::escapeControls;
using pelorix::JsonObject;
using pelorix::jsonString;

}  // namespace pelorix::cli
