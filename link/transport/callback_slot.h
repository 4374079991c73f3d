#pragma once

// The old place of this header, kept for code that still includes it from here.
#include "link/runtime/callback_slot.h"
