// SPDX-License-Identifier: MIT
// The dnsmasq ipset and nftset files and the restart against the real
// programs. Runs as root in network and mount namespaces of its own (see
// tests/CMakeLists.txt): real dnsmasq instances on the namespace's loopback
// fill a real kernel ipset and real nftables sets, and the init script lives in an overlay over
// /etc, so neither the host's network nor its /etc is touched.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <json-c/json.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "lib/dnsmasq_ipset.h"
#include "lib/json_doc.h"
#include "tests/support/temp_dir.h"

namespace {

std::string namespace_of(const char *pid, const char *kind) {
  char target[128] = {};
  std::string link = std::string("/proc/") + pid + "/ns/" + kind;
  ssize_t length = readlink(link.c_str(), target, sizeof target - 1);
  return length > 0 ? std::string(target, static_cast<size_t>(length)) : "";
}

bool tool_found(const std::string &name) {
  return system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

// Output and exit status of a shell command.
int run(const std::string &command, std::string *output = nullptr) {
  FILE *pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return -1;
  std::string text;
  char chunk[512];
  size_t count;
  while ((count = fread(chunk, 1, sizeof chunk, pipe)) > 0) text.append(chunk, count);
  int status = pclose(pipe);
  if (output != nullptr) *output = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool loopback_up() {
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return false;
  ifreq request = {};
  snprintf(request.ifr_name, sizeof request.ifr_name, "lo");
  bool up = ioctl(fd, SIOCGIFFLAGS, &request) == 0;
  request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
  up = up && ioctl(fd, SIOCSIFFLAGS, &request) == 0;
  close(fd);
  return up;
}

// A program in the background, killed and reaped when the owner ends.
class background {
 public:
  explicit background(const std::vector<std::string> &argv) {
    pid_ = fork();
    if (pid_ == 0) {
      int null = open("/dev/null", O_WRONLY);
      if (null >= 0) {
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
      }
      std::vector<char *> args;
      for (const std::string &arg : argv) args.push_back(const_cast<char *>(arg.c_str()));
      args.push_back(nullptr);
      execvp(args[0], args.data());
      _exit(127);
    }
  }
  ~background() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
  background(const background &) = delete;
  background &operator=(const background &) = delete;

 private:
  pid_t pid_ = -1;
};

// Sends one A query for name to 127.0.0.1#port; true when an answer with
// at least one record came back. Retries while the server starts.
bool dns_query(const std::string &name, int port) {
  std::vector<unsigned char> packet = {0x51, 0x7a, 0x01, 0x00, 0, 1, 0, 0, 0, 0, 0, 0};
  size_t start = 0;
  while (start <= name.size()) {
    size_t dot = name.find('.', start);
    if (dot == std::string::npos) dot = name.size();
    packet.push_back(static_cast<unsigned char>(dot - start));
    packet.insert(packet.end(), name.begin() + static_cast<long>(start),
                  name.begin() + static_cast<long>(dot));
    start = dot + 1;
  }
  packet.insert(packet.end(), {0, 0, 1, 0, 1});
  sockaddr_in server = {};
  server.sin_family = AF_INET;
  server.sin_port = htons(static_cast<uint16_t>(port));
  server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  // About a minute in all: dnsmasq may start slowly on a busy machine.
  for (int attempt = 0; attempt < 170; ++attempt) {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) return false;
    sendto(fd, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr *>(&server),
           sizeof server);
    pollfd ready = {fd, POLLIN, 0};
    unsigned char answer[512];
    ssize_t count = -1;
    if (poll(&ready, 1, 250) > 0) count = recv(fd, answer, sizeof answer, 0);
    close(fd);
    if (count >= 12 && answer[0] == 0x51 && answer[1] == 0x7a)
      return (answer[3] & 0x0f) == 0 && (answer[6] << 8 | answer[7]) > 0;
    usleep(100000);
  }
  return false;
}

// An upstream dnsmasq on 127.0.0.1#5354 that answers for example.test,
// other.test and evil.test, and one on 127.0.0.1#5353 that reads the
// configuration file and forwards to it: only forwarded answers reach the
// sets.
class dnsmasq_pair {
 public:
  dnsmasq_pair(const temp_dir &dir, const std::string &config)
      : upstream_(with_common({"dnsmasq", "--port=5354", "-C", empty_config(dir),
                               "--address=/example.test/1.2.3.4", "--address=/other.test/5.6.7.8",
                               "--address=/evil.test/6.6.6.6"})),
        forwarder_(
            with_common({"dnsmasq", "--port=5353", "-C", config, "--server=127.0.0.1#5354"})) {}

 private:
  static std::string empty_config(const temp_dir &dir) {
    dir.write("empty.conf", "");
    return dir.file("empty.conf");
  }
  static std::vector<std::string> with_common(std::vector<std::string> argv) {
    for (const char *flag : {"-k", "--listen-address=127.0.0.1", "--bind-interfaces", "--no-resolv",
                             "--no-hosts", "--pid-file=", "--user=root"})
      argv.push_back(flag);
    return argv;
  }

  background upstream_;
  background forwarder_;
};

class DnsmasqSandbox : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(geteuid(), 0u) << "needs root";
    ASSERT_NE(namespace_of("self", "net"), namespace_of("1", "net"))
        << "must run in a network namespace of its own (unshare -n -m --propagation private)";
    ASSERT_NE(namespace_of("self", "mnt"), namespace_of("1", "mnt"))
        << "must run in a mount namespace of its own (unshare -n -m --propagation private)";
    for (const char *tool : {"dnsmasq", "ipset"})
      ASSERT_TRUE(tool_found(tool)) << tool << " is needed (packages dnsmasq-base, ipset)";
  }
};

TEST_F(DnsmasqSandbox, TheFileMakesDnsmasqFillTheSet) {
  ASSERT_TRUE(loopback_up());
  std::string output;
  ASSERT_EQ(run("ipset create cdnwhite hash:net", &output), 0) << output;

  temp_dir dir;
  std::string path = dir.file("ipset.conf");
  json_doc hosts(
      json_tokener_parse(R"(["example.test", "evil.test\nipset=/#/cdnwhite", "other.test\t"])"));
  ASSERT_TRUE(hosts);
  ASSERT_EQ(ipset_file_create(path.c_str(), "cdnwhite", hosts.get()), 0);
  ASSERT_EQ(dir.read("ipset.conf"), "ipset=/example.test/cdnwhite\n");

  dnsmasq_pair servers(dir, path);

  ASSERT_TRUE(dns_query("www.example.test", 5354)) << "upstream dnsmasq does not answer";
  ASSERT_TRUE(dns_query("www.example.test", 5353)) << "dnsmasq with the file does not answer";
  ASSERT_TRUE(dns_query("www.other.test", 5353));
  ASSERT_TRUE(dns_query("www.evil.test", 5353));

  ASSERT_EQ(run("ipset list cdnwhite", &output), 0) << output;
  EXPECT_NE(output.find("\n1.2.3.4\n"), std::string::npos) << output;
  EXPECT_EQ(output.find("5.6.7.8"), std::string::npos) << output;
  EXPECT_EQ(output.find("6.6.6.6"), std::string::npos) << output;
  EXPECT_EQ(run("ipset destroy cdnwhite", &output), 0) << output;
}

// firewall4's sets: the nftset lines make dnsmasq add the forwarded A
// answers of a listed name to the IPv4 set, nothing else to either set.
TEST_F(DnsmasqSandbox, TheNftsetFileMakesDnsmasqFillTheNftSet) {
  ASSERT_TRUE(tool_found("nft")) << "nft is needed (package nftables)";
  ASSERT_TRUE(loopback_up());
  std::string output;
  ASSERT_EQ(
      run("nft add table inet fw4 && "
          "nft 'add set inet fw4 cdnwhite { type ipv4_addr; flags interval; auto-merge; }' && "
          "nft 'add set inet fw4 cdnwhite6 { type ipv6_addr; flags interval; auto-merge; }'",
          &output),
      0)
      << output;

  temp_dir dir;
  std::string path = dir.file("nftset.conf");
  json_doc hosts(json_tokener_parse(R"(["example.test", "evil.test\nipset=/#/cdnwhite"])"));
  ASSERT_TRUE(hosts);
  const nftset_target target = {"inet", "fw4", "cdnwhite", "cdnwhite6"};
  ASSERT_EQ(nftset_file_create(path.c_str(), &target, hosts.get()), 0);
  ASSERT_EQ(dir.read("nftset.conf"),
            "nftset=/example.test/4#inet#fw4#cdnwhite,6#inet#fw4#cdnwhite6\n");
  dnsmasq_pair servers(dir, path);

  ASSERT_TRUE(dns_query("www.example.test", 5354)) << "upstream dnsmasq does not answer";
  ASSERT_TRUE(dns_query("www.example.test", 5353)) << "dnsmasq with the file does not answer";
  ASSERT_TRUE(dns_query("www.other.test", 5353));
  ASSERT_TRUE(dns_query("www.evil.test", 5353));

  ASSERT_EQ(run("nft list set inet fw4 cdnwhite", &output), 0) << output;
  EXPECT_NE(output.find("elements = { 1.2.3.4 }"), std::string::npos) << output;
  EXPECT_EQ(output.find("5.6.7.8"), std::string::npos) << output;
  EXPECT_EQ(output.find("6.6.6.6"), std::string::npos) << output;
  ASSERT_EQ(run("nft list set inet fw4 cdnwhite6", &output), 0) << output;
  EXPECT_EQ(output.find("elements"), std::string::npos) << output;
  EXPECT_EQ(run("nft delete table inet fw4", &output), 0) << output;
}

// The init script is a stand-in in an overlay over /etc, private to this
// mount namespace.
TEST_F(DnsmasqSandbox, RestartHandsBackTheRawStatusOfTheInitScript) {
  temp_dir dir;
  std::string upper = dir.file("upper");
  std::string work = dir.file("work");
  ASSERT_EQ(mkdir(upper.c_str(), 0755), 0);
  ASSERT_EQ(mkdir(work.c_str(), 0755), 0);
  std::string options = "lowerdir=/etc,upperdir=" + upper + ",workdir=" + work;
  ASSERT_EQ(mount("overlay", "/etc", "overlay", 0, options.c_str()), 0) << strerror(errno);

  mkdir("/etc/init.d", 0755);
  std::string record = dir.file("calls");
  FILE *script = fopen("/etc/init.d/dnsmasq", "w");
  ASSERT_NE(script, nullptr);
  fprintf(script, "#!/bin/sh\necho \"$@\" >> %s\nexit 3\n", record.c_str());
  fclose(script);
  ASSERT_EQ(chmod("/etc/init.d/dnsmasq", 0755), 0);

  int status = dnsmasq_restart();
  EXPECT_EQ(status, 3 << 8);
  EXPECT_EQ(file_read_all(record), "restart\n");

  // Without the script the shell's own "not found" status comes back.
  ASSERT_EQ(unlink("/etc/init.d/dnsmasq"), 0);
  status = dnsmasq_restart();
  EXPECT_EQ(status, 127 << 8);
  EXPECT_EQ(file_read_all(record), "restart\n");

  EXPECT_EQ(umount2("/etc", MNT_DETACH), 0);
}

}  // namespace
