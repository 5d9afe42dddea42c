// SPDX-License-Identifier: MIT
// Owner of a UCI context.
//
// The context, with every package still loaded in it, is freed with
// uci_free_context() exactly once, on every path out of the owning scope.
#pragma once

#include <uci.h>

#include <memory>

struct uci_context_deleter {
  void operator()(uci_context *ctx) const noexcept { uci_free_context(ctx); }
};

using unique_uci_context = std::unique_ptr<uci_context, uci_context_deleter>;
