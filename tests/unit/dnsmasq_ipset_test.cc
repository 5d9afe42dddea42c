// SPDX-License-Identifier: MIT
#include "lib/dnsmasq_ipset.h"

#include <gtest/gtest.h>
#include <json-c/json.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <string>

#include "lib/json_doc.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"

namespace {

json_doc parse(const std::string &text) {
  return json_doc(json_tokener_parse(text.c_str()));
}

bool starts_with(const std::string &text, const std::string &prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// Every line is one ipset option for the set: it begins with "ipset=/",
// ends with "/<set>" and holds only printable bytes.
void expect_only_ipset_lines(const std::string &content, const std::string &set) {
  size_t start = 0;
  while (start < content.size()) {
    size_t end = content.find('\n', start);
    ASSERT_NE(end, std::string::npos) << "unterminated last line";
    std::string line = content.substr(start, end - start);
    EXPECT_TRUE(starts_with(line, "ipset=/")) << line.substr(0, 80);
    EXPECT_TRUE(line.ends_with("/" + set)) << line.substr(0, 80);
    for (char c : line) EXPECT_TRUE(c >= 0x20 && c <= 0x7e) << static_cast<int>(c);
    start = end + 1;
  }
}

// Exit status of dnsmasq's syntax check of the file at path (-1 when it
// did not exit), its output in *output.
int dnsmasq_check(const std::string &path, std::string *output) {
  FILE *run = popen(("dnsmasq --test -C " + path + " 2>&1").c_str(), "r");
  if (run == nullptr) return -1;
  char chunk[256];
  size_t count;
  while ((count = fread(chunk, 1, sizeof chunk, run)) > 0) output->append(chunk, count);
  int status = pclose(run);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class IpsetFile : public ::testing::Test {
 protected:
  void SetUp() override { log_capture_clear(); }

  // Writes the file for hosts (JSON text) and returns the result code.
  int create(const std::string &hosts_json, const char *set = "cdnwhite") {
    json_doc hosts = parse(hosts_json);
    EXPECT_TRUE(hosts) << hosts_json;
    return ipset_file_create(path().c_str(), set, hosts.get());
  }
  std::string path() const { return dir_.file("ipset.conf"); }
  std::string content() const { return dir_.read("ipset.conf"); }
  int end_lines(int code) const {
    return log_capture_count(LOG_WARNING, "rule chain ipset end " + std::to_string(code) + "\n");
  }

  temp_dir dir_;
};

TEST_F(IpsetFile, OneLinePerHostInArrayOrder) {
  EXPECT_EQ(create(R"(["www.example.com","cdn.example.net"])"), 0);
  EXPECT_EQ(content(), "ipset=/www.example.com/cdnwhite\nipset=/cdn.example.net/cdnwhite\n");
  ASSERT_EQ(log_capture_lines().size(), 2u) << log_capture_dump();
  const captured_line &entry = log_capture_lines()[0];
  EXPECT_EQ(entry.priority, LOG_INFO);
  EXPECT_TRUE(
      starts_with(entry.text, "stat_points_none ========== ipset_file_create: cdnwhite  time: "))
      << entry.text;
  EXPECT_EQ(end_lines(0), 1);
}

TEST_F(IpsetFile, DnsmasqAcceptsTheFile) {
  ASSERT_EQ(create(R"(["www.example.com","example.org","a-b.c-d.test",12])"), 0);
  std::string output;
  int status = dnsmasq_check(path(), &output);
  ASSERT_NE(status, 127) << "dnsmasq (package dnsmasq-base) is needed";
  EXPECT_EQ(status, 0) << output << "\n" << content();
  EXPECT_NE(output.find("syntax check OK"), std::string::npos) << output;
}

TEST_F(IpsetFile, EmptyArrayGivesAnEmptyFile) {
  dir_.write("ipset.conf", "older content\n");
  EXPECT_EQ(create("[]"), 0);
  EXPECT_EQ(content(), "");
  EXPECT_EQ(end_lines(0), 1);
}

TEST_F(IpsetFile, HostsThatCouldBreakALineAreSkippedSilently) {
  std::string hosts =
      R"(["a.test","b\tc.test","c.test\nipset=/#/cdnwhite","d\r.test","\u00e9.test","e.test\u0000x","f.test"])";
  EXPECT_EQ(create(hosts), 0);
  EXPECT_EQ(content(), "ipset=/a.test/cdnwhite\nipset=/f.test/cdnwhite\n");
  EXPECT_EQ(log_capture_lines().size(), 2u) << log_capture_dump();
  // Raw bytes above 127 in the JSON text are skipped as well.
  json_doc list(json_object_new_array());
  json_object_array_add(list.get(), json_object_new_string("x\xff.test"));
  json_object_array_add(list.get(), json_object_new_string("ok.test"));
  EXPECT_EQ(ipset_file_create(path().c_str(), "cdnwhite", list.get()), 0);
  EXPECT_EQ(content(), "ipset=/ok.test/cdnwhite\n");
}

TEST_F(IpsetFile, OtherValuesAreWrittenAsTheirJsonText) {
  EXPECT_EQ(create(R"([12, true, 1.5, {"a":1}, ["x"], "plain"])"), 0);
  std::string written = content();
  expect_only_ipset_lines(written, "cdnwhite");
  EXPECT_TRUE(
      starts_with(written, "ipset=/12/cdnwhite\nipset=/true/cdnwhite\nipset=/1.5/cdnwhite\n"))
      << written;
  EXPECT_TRUE(written.ends_with("ipset=/plain/cdnwhite\n")) << written;
  EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 6);
}

TEST_F(IpsetFile, AMegabyteHostIsOneLine) {
  std::string host(1 << 20, 'h');
  EXPECT_EQ(create("[\"" + host + "\",\"x.test\"]"), 0);
  EXPECT_EQ(content(), "ipset=/" + host + "/cdnwhite\nipset=/x.test/cdnwhite\n");
}

TEST_F(IpsetFile, NullElementStopsAndKeepsEarlierLines) {
  EXPECT_EQ(create(R"(["a.test",null,"c.test"])"), -4);
  EXPECT_EQ(content(), "ipset=/a.test/cdnwhite\n");
  EXPECT_EQ(log_capture_count(LOG_WARNING,
                              "rule url(index 1 not get):[ \"a.test\", null, \"c.test\" ]\n"),
            1)
      << log_capture_dump();
  EXPECT_EQ(end_lines(-4), 1);
}

TEST_F(IpsetFile, NonArrayListsLeaveTheFileEmpty) {
  for (const char *list : {R"({"host":["a.test"]})", R"("a.test")", "12", "true"}) {
    log_capture_clear();
    dir_.write("ipset.conf", "older\n");
    EXPECT_EQ(create(list), -3) << list;
    EXPECT_EQ(content(), "") << list;
    EXPECT_EQ(log_capture_count(LOG_WARNING, "host list not array.\n"), 1) << list;
    EXPECT_EQ(end_lines(-3), 1) << list;
  }
}

TEST_F(IpsetFile, MissingArgumentsTouchNoFile) {
  json_doc list = parse(R"(["a.test"])");
  dir_.write("ipset.conf", "kept\n");
  EXPECT_EQ(ipset_file_create(path().c_str(), "cdnwhite", nullptr), -1);
  EXPECT_EQ(ipset_file_create(nullptr, "cdnwhite", list.get()), -1);
  EXPECT_EQ(ipset_file_create(path().c_str(), nullptr, list.get()), -1);
  // A set name that could end a line is refused like a missing one.
  EXPECT_EQ(ipset_file_create(path().c_str(), "cdnwhite\nserver=/x/1.2.3.4", list.get()), -1);
  EXPECT_EQ(content(), "kept\n");
  EXPECT_EQ(log_capture_count(LOG_WARNING, "host list is NULL.\n"), 4) << log_capture_dump();
  EXPECT_EQ(log_capture_lines().size(), 8u) << log_capture_dump();
  // The entry line comes first and shows a missing set name as "(null)".
  EXPECT_TRUE(starts_with(log_capture_lines()[4].text,
                          "stat_points_none ========== ipset_file_create: (null)  time: "))
      << log_capture_dump();
}

TEST_F(IpsetFile, UnopenablePathGivesNoEndLine) {
  json_doc list = parse(R"(["a.test"])");
  std::string missing = dir_.file("no/such/dir");
  EXPECT_EQ(ipset_file_create(missing.c_str(), "cdnwhite", list.get()), -2);
  EXPECT_EQ(log_capture_count(LOG_WARNING, "host file open fail.\n"), 1);
  EXPECT_EQ(log_capture_lines().size(), 2u) << log_capture_dump();
}

// A file that could not take all its lines is not reported as complete.
TEST_F(IpsetFile, LinesLostOnWriteAreReported) {
  std::string hosts = "[";
  for (int i = 0; i < 2000; ++i) hosts += (i ? ",\"h" : "\"h") + std::to_string(i) + ".test\"";
  hosts += "]";
  json_doc list = parse(hosts);
  ASSERT_TRUE(list);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit = {100, 100};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(10);
    if (ipset_file_create(path().c_str(), "cdnwhite", list.get()) != -2) _exit(11);
    if (end_lines(-2) != 1) _exit(12);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "check number " << WEXITSTATUS(status) << " failed";
}

TEST_F(IpsetFile, DestroyRemovesTheFileAndToleratesTheRest) {
  dir_.write("ipset.conf", "ipset=/a.test/cdnwhite\n");
  ipset_file_destroy(path().c_str());
  EXPECT_EQ(content(), "<missing>");
  ipset_file_destroy(path().c_str());
  ipset_file_destroy(nullptr);
  ASSERT_EQ(log_capture_lines().size(), 3u);
  for (const captured_line &line : log_capture_lines()) {
    EXPECT_EQ(line.priority, LOG_INFO);
    EXPECT_TRUE(starts_with(line.text, "stat_points_none ========== ipset_file_destroy() time:"))
        << line.text;
    EXPECT_NE(line.text[strlen("stat_points_none ========== ipset_file_destroy() time:")], ' ');
  }
}

}  // namespace

namespace {

struct nftset_case {
  const char *name;
  nftset_target target;
  const char *hosts;
  int code;
  const char *content;  // the file afterwards; "kept\n" when untouched
};

// The nftset writer: the ipset writer's loop, codes and lines, with the
// target of nftables sets instead of a set name.
TEST_F(IpsetFile, NftsetLines) {
  const nftset_case cases[] = {
      {"both families",
       {"inet", "fw4", "cdnwhite", "cdnwhite6"},
       R"(["a.test","b.test"])",
       0,
       "nftset=/a.test/4#inet#fw4#cdnwhite,6#inet#fw4#cdnwhite6\n"
       "nftset=/b.test/4#inet#fw4#cdnwhite,6#inet#fw4#cdnwhite6\n"},
      {"no IPv6 set",
       {"ip", "filter", "allow_v4", nullptr},
       R"(["a.test"])",
       0,
       "nftset=/a.test/4#ip#filter#allow_v4\n"},
      {"empty IPv6 set",
       {"inet", "fw4", "s.1-x", ""},
       R"(["a.test",12])",
       0,
       "nftset=/a.test/4#inet#fw4#s.1-x\nnftset=/12/4#inet#fw4#s.1-x\n"},
      {"unsafe hosts skipped",
       {"inet", "fw4", "s", nullptr},
       R"(["x\ny.test","\u00e9","ok"])",
       0,
       "nftset=/ok/4#inet#fw4#s\n"},
      {"null element",
       {"inet", "fw4", "s", nullptr},
       R"(["a",null,"c"])",
       -4,
       "nftset=/a/4#inet#fw4#s\n"},
      {"not an array", {"inet", "fw4", "s", nullptr}, R"({"a":1})", -3, ""},
      {"unknown family", {"inet6", "fw4", "s", nullptr}, R"(["a"])", -1, "kept\n"},
      {"null family", {nullptr, "fw4", "s", nullptr}, R"(["a"])", -1, "kept\n"},
      {"null table", {"inet", nullptr, "s", nullptr}, R"(["a"])", -1, "kept\n"},
      {"null set", {"inet", "fw4", nullptr, nullptr}, R"(["a"])", -1, "kept\n"},
      {"set breaks the line",
       {"inet", "fw4", "s\nserver=/x/1.2.3.4", nullptr},
       R"(["a"])",
       -1,
       "kept\n"},
      {"set6 with a comma", {"inet", "fw4", "s", "t,4#ip#x#y"}, R"(["a"])", -1, "kept\n"},
      {"table with a hash", {"inet", "f#w", "s", nullptr}, R"(["a"])", -1, "kept\n"},
      {"set of 32 characters",
       {"inet", "fw4", "abcdefghijklmnopqrstuvwxyz012345", nullptr},
       R"(["a"])",
       -1,
       "kept\n"},
      {"set starting with a digit", {"inet", "fw4", "1set", nullptr}, R"(["a"])", -1, "kept\n"},
  };
  for (const nftset_case &c : cases) {
    log_capture_clear();
    dir_.write("ipset.conf", "kept\n");
    json_doc hosts = parse(c.hosts);
    ASSERT_TRUE(hosts) << c.name;
    EXPECT_EQ(nftset_file_create(path().c_str(), &c.target, hosts.get()), c.code) << c.name;
    EXPECT_EQ(content(), c.content) << c.name;
    ASSERT_FALSE(log_capture_lines().empty()) << c.name;
    const std::string set = c.target.set != nullptr ? c.target.set : "(null)";
    EXPECT_TRUE(starts_with(log_capture_lines()[0].text,
                            "stat_points_none ========== nftset_file_create: " + set + "  time: "))
        << c.name << ": " << log_capture_dump();
    EXPECT_EQ(end_lines(c.code), c.code == -1 ? 0 : 1) << c.name;
    EXPECT_EQ(log_capture_count(LOG_WARNING, "host list is NULL.\n"), c.code == -1 ? 1 : 0)
        << c.name;
  }
  json_doc list = parse(R"(["a"])");
  EXPECT_EQ(nftset_file_create(path().c_str(), nullptr, list.get()), -1);
  EXPECT_EQ(nftset_file_create(nullptr, &cases[0].target, list.get()), -1);
  EXPECT_EQ(nftset_file_create(path().c_str(), &cases[0].target, nullptr), -1);
  EXPECT_EQ(nftset_file_create(dir_.file("no/dir").c_str(), &cases[0].target, list.get()), -2);
  EXPECT_EQ(log_capture_count(LOG_WARNING, "host file open fail.\n"), 1);
}

TEST_F(IpsetFile, DnsmasqAcceptsTheNftsetFile) {
  const nftset_target target = {"inet", "fw4", "cdnwhite", "cdnwhite6"};
  json_doc hosts = parse(R"(["www.example.com","a-b.c-d.test",12])");
  ASSERT_EQ(nftset_file_create(path().c_str(), &target, hosts.get()), 0);
  std::string output;
  EXPECT_EQ(dnsmasq_check(path(), &output), 0) << output << "\n" << content();
  EXPECT_NE(output.find("syntax check OK"), std::string::npos) << output;
}

}  // namespace
