// SPDX-License-Identifier: MIT
// The identity loader's UCI routines on real config files in a temporary
// config directory.

#include "identity/device_config.h"

#include <gtest/gtest.h>
#include <syslog.h>
#include <uci.h>

#include <cstring>
#include <string>
#include <vector>

#include "lib/log_verbose.h"
#include "tests/support/log_capture.h"
#include "tests/support/uci_fixture.h"

namespace {

class OptionGet : public UciFixture {
 protected:
  void SetUp() override {
    UciFixture::SetUp();
    log_capture_clear();
    log_verbose = 0;
  }
  void TearDown() override { log_verbose = 0; }

  // uci_option_get on a writable copy of path into a 64-byte buffer that
  // starts out filled with 'X'; *stderr_text receives what went to stderr.
  int get(const std::string &path, std::string *text, std::string *stderr_text = nullptr) {
    std::vector<char> writable(path.begin(), path.end());
    writable.push_back('\0');
    char buffer[64];
    memset(buffer, 'X', sizeof buffer);
    testing::internal::CaptureStderr();
    int status = uci_option_get(ctx(), writable.data(), buffer, sizeof buffer, uci_option_copy);
    std::string err = testing::internal::GetCapturedStderr();
    if (stderr_text != nullptr) *stderr_text = err;
    *text = std::string(buffer, strnlen(buffer, sizeof buffer));
    return status;
  }
};

TEST_F(OptionGet, TwoStringOptions) {
  write("messaging",
        "config info 'deviceInfo'\n"
        "\toption DEVICE_ID 'dev-0042'\n"
        "\toption CHANNEL_SECRET 'k3y with spaces'\n");
  std::string text, err;
  EXPECT_EQ(get("messaging.deviceInfo.DEVICE_ID", &text, &err), 0);
  EXPECT_EQ(text, "dev-0042");
  EXPECT_EQ(err, "");
  EXPECT_EQ(get("messaging.deviceInfo.CHANNEL_SECRET", &text, &err), 0);
  EXPECT_EQ(text, "k3y with spaces");
  EXPECT_EQ(err, "");
  // Each successful get unloads its package again.
  EXPECT_TRUE(uci_list_empty(&ctx()->root));
}

TEST_F(OptionGet, ListItemsJoinedBySpaces) {
  write("messaging",
        "config info 'deviceInfo'\n"
        "\tlist DEVICE_ID a\n"
        "\tlist DEVICE_ID b\n"
        "\tlist DEVICE_ID c\n");
  std::string text;
  EXPECT_EQ(get("messaging.deviceInfo.DEVICE_ID", &text), 0);
  EXPECT_EQ(text, "a b c");
}

TEST_F(OptionGet, LongValuesKeepTheirFirst63Characters) {
  std::string id(100, 'i');
  for (size_t i = 0; i < id.size(); ++i) id[i] = static_cast<char>('a' + i % 26);
  std::string items;
  for (int i = 0; i < 30; ++i) items += "\tlist CHANNEL_SECRET item" + std::to_string(i) + "\n";
  write("messaging", "config info 'deviceInfo'\n\toption DEVICE_ID '" + id + "'\n" + items);
  std::string text;
  EXPECT_EQ(get("messaging.deviceInfo.DEVICE_ID", &text), 0);
  EXPECT_EQ(text, id.substr(0, 63));
  EXPECT_EQ(get("messaging.deviceInfo.CHANNEL_SECRET", &text), 0);
  std::string joined;
  for (int i = 0; i < 30; ++i) joined += (i ? " item" : "item") + std::to_string(i);
  EXPECT_EQ(text, joined.substr(0, 63));
}

TEST_F(OptionGet, MissingPackageIsALookupErrorOnStderr) {
  std::string text, err;
  EXPECT_EQ(get("messaging.deviceInfo.DEVICE_ID", &text, &err), -1);
  EXPECT_EQ(err, "look uci error: Entry not found\n");
  EXPECT_EQ(text, std::string(64, 'X'));
}

TEST_F(OptionGet, MissingSectionOrOptionFailsQuietly) {
  write("messaging",
        "config info 'other'\n"
        "\toption DEVICE_ID x\n"
        "config info 'deviceInfo'\n"
        "\toption CHANNEL_SECRET y\n");
  std::string text, err;
  // Not lookup errors to libuci: the path just ends at a section or package.
  EXPECT_EQ(get("messaging.absent.DEVICE_ID", &text, &err), -1);
  EXPECT_EQ(err, "");
  EXPECT_EQ(get("messaging.deviceInfo.DEVICE_ID", &text, &err), -1);
  EXPECT_EQ(err, "");
  EXPECT_EQ(get("messaging.deviceInfo", &text, &err), -1);
  EXPECT_EQ(text, std::string(64, 'X'));
  // The package stays loaded in the context until the context is freed.
  EXPECT_FALSE(uci_list_empty(&ctx()->root));
}

TEST_F(OptionGet, BrokenFileGivesTheLibraryMessage) {
  write("messaging", "config info 'deviceInfo'\n\toption DEVICE_ID 'unterminated\n");
  std::string text, err;
  EXPECT_EQ(get("messaging.deviceInfo.DEVICE_ID", &text, &err), -1);
  EXPECT_EQ(err.rfind("look uci error: Parse error (", 0), 0u) << err;
  EXPECT_EQ(err.back(), '\n');
}

int copier_calls = 0;
uci_option *copier_option = nullptr;
size_t copier_size = 0;
int failing_copier(uci_option *option, char *buffer, size_t size) {
  ++copier_calls;
  copier_option = option;
  copier_size = size;
  snprintf(buffer, size, "copied");
  return -1;
}

TEST_F(OptionGet, HandsTheOptionToTheCopierAndIgnoresItsResult) {
  write("p", "config t s\n\toption a value\n");
  char path[] = "p.s.a";
  char buffer[16] = "";
  copier_calls = 0;
  EXPECT_EQ(uci_option_get(ctx(), path, buffer, sizeof buffer, failing_copier), 0);
  EXPECT_EQ(copier_calls, 1);
  EXPECT_NE(copier_option, nullptr);
  EXPECT_EQ(copier_size, sizeof buffer);
  EXPECT_STREQ(buffer, "copied");
}

TEST_F(OptionGet, RefusesBadArguments) {
  write("p", "config t s\n\toption a value\n");
  char buffer[8] = "keep";
  char path[] = "p.s.a";
  copier_calls = 0;
  EXPECT_EQ(uci_option_get(ctx(), path, nullptr, 8, failing_copier), -1);
  EXPECT_EQ(uci_option_get(ctx(), path, buffer, 0, failing_copier), -1);
  EXPECT_EQ(uci_option_get(ctx(), path, buffer, sizeof buffer, nullptr), -1);
  EXPECT_EQ(uci_option_get(ctx(), nullptr, buffer, sizeof buffer, failing_copier), -1);
  EXPECT_EQ(uci_option_get(nullptr, path, buffer, sizeof buffer, failing_copier), -1);
  EXPECT_EQ(copier_calls, 0);
  EXPECT_STREQ(buffer, "keep");
  EXPECT_STREQ(path, "p.s.a");
}

// uci_option_copy on options built by hand, so that every type and size
// can be reached.
struct hand_option {
  uci_option option{};
  std::vector<uci_element> items;
  std::vector<std::string> names;

  explicit hand_option(const char *text) {
    option.e.type = UCI_TYPE_OPTION;
    option.type = UCI_TYPE_STRING;
    option.v.string = const_cast<char *>(text);
  }
  explicit hand_option(std::vector<std::string> list) : items(list.size()), names(std::move(list)) {
    option.e.type = UCI_TYPE_OPTION;
    option.type = UCI_TYPE_LIST;
    uci_list *head = &option.v.list;
    head->next = head->prev = head;
    for (size_t i = 0; i < items.size(); ++i) {
      items[i].type = UCI_TYPE_ITEM;
      items[i].name = names[i].data();
      items[i].list.prev = head->prev;
      items[i].list.next = head;
      head->prev->next = &items[i].list;
      head->prev = &items[i].list;
    }
  }
  std::string copy(size_t size, int *status = nullptr) {
    std::vector<char> buffer(size + 1, 'X');
    int result = uci_option_copy(&option, buffer.data(), size);
    if (status != nullptr) *status = result;
    EXPECT_EQ(buffer[size], 'X') << "wrote past the buffer";
    return std::string(buffer.data(), strnlen(buffer.data(), size));
  }
};

TEST(OptionCopy, StringsAreCutToTheBuffer) {
  hand_option option("abcdef");
  int status = -1;
  EXPECT_EQ(option.copy(64, &status), "abcdef");
  EXPECT_EQ(status, 0);
  EXPECT_EQ(option.copy(7), "abcdef");
  EXPECT_EQ(option.copy(6), "abcde");
  EXPECT_EQ(option.copy(1), "");
}

TEST(OptionCopy, ListsAreJoinedAndCut) {
  hand_option list({"abc", "def", "g"});
  EXPECT_EQ(list.copy(64), "abc def g");
  EXPECT_EQ(list.copy(10), "abc def g");
  EXPECT_EQ(list.copy(9), "abc def ");
  EXPECT_EQ(list.copy(5), "abc ");
  EXPECT_EQ(list.copy(4), "abc");
  EXPECT_EQ(list.copy(2), "a");
  EXPECT_EQ(list.copy(1), "");

  // The separator goes before every item but the first, empty ones too.
  hand_option empty_first({"", "b", ""});
  EXPECT_EQ(empty_first.copy(64), " b ");
  hand_option no_items(std::vector<std::string>{});
  EXPECT_EQ(no_items.copy(64), "");
}

// (An option type other than string or list cannot be made without
// undefined behaviour: the enum holds only those two.)
TEST(OptionCopy, BadArguments) {
  char buffer[8] = "keep";
  hand_option plain("text");
  EXPECT_EQ(uci_option_copy(&plain.option, nullptr, 8), -1);
  EXPECT_EQ(uci_option_copy(&plain.option, buffer, 0), -1);
  EXPECT_EQ(uci_option_copy(nullptr, buffer, sizeof buffer), -1);
  EXPECT_STREQ(buffer, "keep");
}

class ConfigDump : public ::testing::Test {
 protected:
  void SetUp() override {
    log_capture_clear();
    log_verbose = 0;
  }
  void TearDown() override { log_verbose = 0; }
};

TEST_F(ConfigDump, OnlyWhileVerbose) {
  device_config config{};
  snprintf(config.device_id, sizeof config.device_id, "%s", "dev-1");
  snprintf(config.channel_secret, sizeof config.channel_secret, "%s", "secret");
  device_config_dump(&config);
  EXPECT_TRUE(log_capture_lines().empty()) << log_capture_dump();

  log_verbose = 1;
  device_config_dump(&config);
  device_config_dump(nullptr);
  EXPECT_EQ(log_capture_lines().size(), 1u) << log_capture_dump();
  EXPECT_EQ(log_capture_count(
                LOG_INFO, "config\n\tdevice id:dev-1\n\tchannel_secret:secret\n\tetc size: 0\n"),
            1)
      << log_capture_dump();
}

TEST(ConfigLoad, NullRecord) {
  EXPECT_EQ(device_config_load(nullptr), -1);
}

}  // namespace
