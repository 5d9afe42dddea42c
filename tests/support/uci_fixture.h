// SPDX-License-Identifier: MIT
// Test fixture for code on top of UCI: a fresh config directory per test,
// a context that reads from it, and the looked-up value of a path as a
// text. Works against libuci and against the layer of our own alike.
#pragma once

#include <gtest/gtest.h>
#include <uci.h>

#include <string>
#include <vector>

#include "identity/uci_context_guard.h"
#include "tests/support/temp_dir.h"

class UciFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    context_.reset(uci_alloc_context());
    ASSERT_TRUE(context_);
    ASSERT_EQ(uci_set_confdir(context_.get(), dir_.path().c_str()), UCI_OK);
  }

  uci_context *ctx() { return context_.get(); }
  void write(const std::string &package, const std::string &content) {
    dir_.write(package, content);
  }

  // One lookup; the path text stays alive with the result, as the
  // pointers of uci_ptr refer into it.
  struct lookup_result {
    int status = -1;
    uci_ptr ptr{};
    std::vector<char> path;
    bool complete() const { return (ptr.flags & uci_ptr::UCI_LOOKUP_COMPLETE) != 0; }
  };
  lookup_result lookup(const std::string &path, bool extended = true) {
    lookup_result result;
    result.path.assign(path.begin(), path.end());
    result.path.push_back('\0');
    result.status = uci_lookup_ptr(ctx(), &result.ptr, result.path.data(), extended);
    return result;
  }

  // The value at path: the string, or the list items joined by '|'; a
  // marker in angle brackets when there is none.
  std::string value(const std::string &path) {
    lookup_result found = lookup(path);
    if (found.status != UCI_OK) return "<error " + std::to_string(found.status) + ">";
    if (found.ptr.last == nullptr || found.ptr.last->type != UCI_TYPE_OPTION) return "<none>";
    if (found.ptr.o->type == UCI_TYPE_STRING) return found.ptr.o->v.string;
    std::string joined;
    uci_element *item;
    uci_foreach_element(&found.ptr.o->v.list, item) {
      if (!joined.empty() || item != list_to_element(found.ptr.o->v.list.next)) joined += "|";
      joined += item->name;
    }
    return "[" + joined + "]";
  }

  // Drops every loaded package, so that the next lookup reads the file anew.
  void reset_context() {
    context_.reset(uci_alloc_context());
    ASSERT_TRUE(context_);
    ASSERT_EQ(uci_set_confdir(context_.get(), dir_.path().c_str()), UCI_OK);
  }

  temp_dir dir_;
  unique_uci_context context_;
};
