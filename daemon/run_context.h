// SPDX-License-Identifier: MIT
// The one record that lives for the whole run.
#pragma once

#include "identity/device_config.h"
#include "sync/cdn_state.h"

// Zero-filled at start, never released: the process ends instead.
struct run_context {
  struct device_config device_config;
  struct cdn_state cdn_state;
};
