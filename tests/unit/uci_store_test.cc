// SPDX-License-Identifier: MIT
// The UCI store under the identity loader: the config file format, path
// lookups and broken or hostile files. Runs against libuci as well; cases
// that only our own layer promises are marked with QUORVEL_UCI_OWN.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <uci.h>

#include <cstdint>
#include <ostream>
#include <string>

#include "tests/support/uci_fixture.h"

namespace {

using UciFormat = UciFixture;

TEST_F(UciFormat, NamedSectionWithQuotedAndPlainValues) {
  write("messaging",
        "package messaging\n"
        "\n"
        "config info 'deviceInfo'\n"
        "\toption DEVICE_ID 'dev 1'\n"
        "\toption CHANNEL_SECRET \"s3cr3t value\"\n"
        "\toption plain abc\n"
        "\toption 'quoted_name' x\n");
  EXPECT_EQ(value("messaging.deviceInfo.DEVICE_ID"), "dev 1");
  EXPECT_EQ(value("messaging.deviceInfo.CHANNEL_SECRET"), "s3cr3t value");
  EXPECT_EQ(value("messaging.deviceInfo.plain"), "abc");
  EXPECT_EQ(value("messaging.deviceInfo.quoted_name"), "x");
  auto section = lookup("messaging.deviceInfo");
  ASSERT_EQ(section.status, UCI_OK);
  ASSERT_NE(section.ptr.s, nullptr);
  EXPECT_STREQ(section.ptr.s->type, "info");
  EXPECT_FALSE(section.ptr.s->anonymous);
}

TEST_F(UciFormat, ListsKeepTheirOrderAndLaterOptionsWin) {
  write("p",
        "config t s\n"
        "  list items a\n"
        "  list items 'b c'\n"
        "  list items \"\"\n"
        "  option id first\n"
        "  option id second\n"
        "  option turned one\n"
        "  list turned two\n"
        "  list gone x\n"
        "  option gone y\n");
  EXPECT_EQ(value("p.s.items"), "[a|b c|]");
  EXPECT_EQ(value("p.s.id"), "second");
  // A string followed by list lines becomes the list's first item.
  EXPECT_EQ(value("p.s.turned"), "[one|two]");
  EXPECT_EQ(value("p.s.gone"), "y");
}

TEST_F(UciFormat, EmptyOptionValueChangesNothing) {
  write("p",
        "config t s\n"
        "  option kept value\n"
        "  option kept ''\n"
        "  option never\n");
  EXPECT_EQ(value("p.s.kept"), "value");
  EXPECT_EQ(value("p.s.never"), "<none>");
}

TEST_F(UciFormat, CommentsAnywhereButInsideQuotes) {
  write("p",
        "# leading comment\n"
        "   # indented comment\n"
        "config t s # after a section\n"
        "  option a 'x # y' # trailing\n"
        "  option b \"#\"\n"
        "  option c d#e\n"
        "#option a overridden\n");
  EXPECT_EQ(value("p.s.a"), "x # y");
  EXPECT_EQ(value("p.s.b"), "#");
  EXPECT_EQ(value("p.s.c"), "d");
}

TEST_F(UciFormat, EscapesContinuationsAndMultiLineQuotes) {
  write("p",
        "config t s\n"
        "  option dq \"say \\\"hi\\\" \\\\ back\"\n"
        "  option sq 'no \\escapes'\n"
        "  option bare a\\ b\\'c\n"
        "  option joined \"first \\\n"
        "second\"\n"
        "  option bare_joined ab\\\n"
        "cd\n"
        "  option multi 'line one\n"
        "line two'\n"
        "  option mixed ab'c d'\"e\"f\n");
  EXPECT_EQ(value("p.s.dq"), "say \"hi\" \\ back");
  EXPECT_EQ(value("p.s.sq"), "no \\escapes");
  EXPECT_EQ(value("p.s.bare"), "a b'c");
  EXPECT_EQ(value("p.s.joined"), "first second");
  EXPECT_EQ(value("p.s.bare_joined"), "abcd");
  EXPECT_EQ(value("p.s.multi"), "line one\nline two");
  EXPECT_EQ(value("p.s.mixed"), "abc def");
}

TEST_F(UciFormat, ShortKeywordsSemicolonsAndCrLf) {
  write("p",
        "c t s\r\n"
        "o a 1 ; o b 2\r\n"
        "l c x ;l c y\r\n"
        "p p\r\n");
  EXPECT_EQ(value("p.s.a"), "1");
  EXPECT_EQ(value("p.s.b"), "2");
  EXPECT_EQ(value("p.s.c"), "[x|y]");
}

// A ';' right after an argument written as it stands ends the line: what
// follows on that line is dropped. After a quote, a backslash or a space
// the ';' separates two commands.
TEST_F(UciFormat, SemicolonAfterAPlainArgumentEndsTheLine) {
  write("messaging",
        "config info deviceInfo\n"
        "\toption DEVICE_ID abc; option CHANNEL_SECRET xyz\n"
        "\tlist items a;list items b\n"
        "\toption quoted 'q'; option after_quote 1\n"
        "\toption escaped e\\s; option after_escape 2\n"
        "\toption spaced s ; option after_space 3\n"
        "\toption trailing t;\n"
        "\toption name_cut; option after_name 4\n"
        "config info cut; option after_section 5\n"
        "\toption next_line 6\n");
  EXPECT_EQ(value("messaging.deviceInfo.DEVICE_ID"), "abc");
  EXPECT_EQ(value("messaging.deviceInfo.CHANNEL_SECRET"), "<none>");
  EXPECT_EQ(value("messaging.deviceInfo.items"), "[a]");
  EXPECT_EQ(value("messaging.deviceInfo.quoted"), "q");
  EXPECT_EQ(value("messaging.deviceInfo.after_quote"), "1");
  EXPECT_EQ(value("messaging.deviceInfo.escaped"), "es");
  EXPECT_EQ(value("messaging.deviceInfo.after_escape"), "2");
  EXPECT_EQ(value("messaging.deviceInfo.spaced"), "s");
  EXPECT_EQ(value("messaging.deviceInfo.after_space"), "3");
  EXPECT_EQ(value("messaging.deviceInfo.trailing"), "t");
  EXPECT_EQ(value("messaging.deviceInfo.name_cut"), "<none>");
  EXPECT_EQ(value("messaging.deviceInfo.after_name"), "<none>");
  EXPECT_EQ(value("messaging.cut.after_section"), "<none>");
  EXPECT_EQ(value("messaging.cut.next_line"), "6");
}

// A ';' where a command word belongs is no command, nor is a line end that
// follows a separating ';'.
TEST_F(UciFormat, SemicolonInPlaceOfACommandIsInvalid) {
  for (const char *content : {"config t s\n;\n", "config t s\n  ;\n  option a 1\n",
                              "config t s\n; option a 1\n", "config t s\n  option a 1 ;\n"}) {
    SCOPED_TRACE(content);
    reset_context();
    write("p", content);
    auto found = lookup("p.s.a");
    EXPECT_EQ(found.status, UCI_ERR_PARSE);
  }
  // A separating ';' before a comment or the end of the text is fine.
  for (const char *content : {"config t s\n  option a 1 ; # note\n", "config t s ; option a 1"}) {
    SCOPED_TRACE(content);
    reset_context();
    write("p", content);
    EXPECT_EQ(value("p.s.a"), "1");
  }
}

TEST_F(UciFormat, AnonymousSectionsByTypeAndIndex) {
  write("network",
        "config interface\n"
        "  option name lan\n"
        "config device\n"
        "  option name br0\n"
        "config interface\n"
        "  option name wan\n"
        "config interface 'named'\n"
        "  option name guest\n");
  EXPECT_EQ(value("network.@interface[0].name"), "lan");
  EXPECT_EQ(value("network.@interface[1].name"), "wan");
  EXPECT_EQ(value("network.@interface[2].name"), "guest");
  EXPECT_EQ(value("network.@interface[-1].name"), "guest");
  EXPECT_EQ(value("network.@interface[-3].name"), "lan");
  EXPECT_EQ(value("network.@device[0].name"), "br0");
  EXPECT_EQ(value("network.@[1].name"), "br0");
  EXPECT_EQ(value("network.@[-1].name"), "guest");

  auto first = lookup("network.@interface[0]");
  ASSERT_EQ(first.status, UCI_OK);
  ASSERT_NE(first.ptr.s, nullptr);
  EXPECT_TRUE(first.ptr.s->anonymous);
  // The generated name reaches the same section without the index.
  ASSERT_NE(first.ptr.s->e.name, nullptr);
  EXPECT_EQ(value("network." + std::string(first.ptr.s->e.name) + ".name"), "lan");

  for (const char *missing :
       {"network.@interface[3].name", "network.@interface[-4].name", "network.@bridge[0].name"}) {
    auto found = lookup(missing);
    EXPECT_EQ(found.status, UCI_OK) << missing;
    EXPECT_FALSE(found.complete()) << missing;
    EXPECT_EQ(found.ptr.last, &found.ptr.p->e) << missing;
  }
}

TEST_F(UciFormat, SectionNamedTwiceAddsToTheFirst) {
  write("p",
        "config t s\n"
        "  option a 1\n"
        "  option b 1\n"
        "config t s\n"
        "  option b 2\n");
  EXPECT_EQ(value("p.s.a"), "1");
  EXPECT_EQ(value("p.s.b"), "2");
  EXPECT_EQ(value("p.@t[1].a"), "<none>");
}

using UciLookup = UciFixture;

TEST_F(UciLookup, MissingPiecesAreToldApart) {
  write("p", "config t s\n  option a 1\n");
  auto package = lookup("absent.s.a");
  EXPECT_EQ(package.status, UCI_ERR_NOTFOUND);
  testing::internal::CaptureStderr();
  uci_perror(ctx(), "look uci error");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "look uci error: Entry not found\n");

  // A missing section or option is still UCI_OK: the path ends early.
  auto section = lookup("p.other.a");
  EXPECT_EQ(section.status, UCI_OK);
  EXPECT_FALSE(section.complete());
  ASSERT_NE(section.ptr.p, nullptr);
  EXPECT_EQ(section.ptr.last, &section.ptr.p->e);
  EXPECT_EQ(section.ptr.s, nullptr);

  auto option = lookup("p.s.b");
  EXPECT_EQ(option.status, UCI_OK);
  EXPECT_FALSE(option.complete());
  ASSERT_NE(option.ptr.s, nullptr);
  EXPECT_EQ(option.ptr.last, &option.ptr.s->e);
  EXPECT_EQ(option.ptr.o, nullptr);

  auto full = lookup("p.s.a");
  EXPECT_TRUE(full.complete());
  EXPECT_EQ(full.ptr.target, UCI_TYPE_OPTION);
  EXPECT_STREQ(full.ptr.package, "p");
  EXPECT_STREQ(full.ptr.section, "s");
  EXPECT_STREQ(full.ptr.option, "a");
}

TEST_F(UciLookup, MalformedPaths) {
  write("p", "config t s\n  option a 1\n");
  EXPECT_EQ(lookup("p.s.a.extra").status, UCI_ERR_PARSE);
  EXPECT_EQ(lookup("").status, UCI_ERR_PARSE);
  EXPECT_EQ(lookup("../p.s.a").status, UCI_ERR_PARSE);
  EXPECT_EQ(lookup("p.s.bad-option").status, UCI_ERR_PARSE);
  // A package name that libuci cannot load is not found rather than
  // malformed.
  EXPECT_EQ(lookup("p/x.s.a").status, UCI_ERR_NOTFOUND);
  EXPECT_EQ(lookup("p:x.s.a").status, UCI_ERR_NOTFOUND);
  EXPECT_EQ(lookup("p.bad-section.a").status, UCI_ERR_INVAL);
  EXPECT_EQ(lookup("p.@t[x].a").status, UCI_ERR_INVAL);
  EXPECT_EQ(lookup("p.@t[0]x.a").status, UCI_ERR_INVAL);
  EXPECT_EQ(lookup("p.@t.a").status, UCI_ERR_INVAL);
  EXPECT_EQ(lookup("p.@t[0].a", false).status, UCI_ERR_INVAL);
  EXPECT_EQ(lookup("p.@t[0].a").status, UCI_OK);
  EXPECT_EQ(uci_lookup_ptr(nullptr, nullptr, nullptr, true), UCI_ERR_INVAL);
  testing::internal::CaptureStderr();
  uci_perror(nullptr, "x");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "x: Invalid argument\n");
}

TEST_F(UciLookup, UnloadForgetsThePackage) {
  write("p", "config t s\n  option a 1\n");
  auto first = lookup("p.s.a");
  ASSERT_EQ(first.status, UCI_OK);
  EXPECT_FALSE(uci_list_empty(&ctx()->root));
  uci_package *loaded = nullptr;
  EXPECT_EQ(uci_load(ctx(), "p", &loaded), UCI_ERR_DUPLICATE);

  // A loaded package is used as it is; after unloading, the file is read anew.
  write("p", "config t s\n  option a 2\n");
  EXPECT_EQ(value("p.s.a"), "1");
  EXPECT_EQ(uci_unload(ctx(), first.ptr.p), UCI_OK);
  EXPECT_TRUE(uci_list_empty(&ctx()->root));
  EXPECT_EQ(value("p.s.a"), "2");
}

// Every malformed file ends the lookup with a parse error and its reason.
struct broken_file {
  const char *name;
  std::string content;
  const char *message;
};

void PrintTo(const broken_file &file, std::ostream *out) {
  *out << file.name;
}

class UciBroken : public UciFixture, public testing::WithParamInterface<broken_file> {};

TEST_P(UciBroken, LookupFailsWithTheParseError) {
  write("p", GetParam().content);
  auto found = lookup("p.s.a");
  EXPECT_EQ(found.status, UCI_ERR_PARSE);
  testing::internal::CaptureStderr();
  uci_perror(ctx(), "look uci error");
  std::string message = testing::internal::GetCapturedStderr();
  EXPECT_EQ(message.rfind("look uci error: Parse error (", 0), 0u) << message;
  EXPECT_NE(message.find(GetParam().message), std::string::npos) << message;
  EXPECT_EQ(message.back(), '\n');
}

INSTANTIATE_TEST_SUITE_P(
    Files, UciBroken,
    testing::Values(
        broken_file{"UnterminatedSingle", "config t s\n  option a 'open\n", "unterminated '"},
        broken_file{"UnterminatedDouble", "config t s\n  option a \"open\\\"\n", "unterminated \""},
        broken_file{"OptionBeforeSection", "option a 1\nconfig t s\n", "before the first section"},
        broken_file{"UnknownCommand", "config t s\n  set a 1\n", "invalid command"},
        broken_file{"TooManyArguments", "config t s\n  option a 1 2\n", "too many arguments"},
        broken_file{"ConfigWithoutType", "config ''\n", "insufficient arguments"},
        broken_file{"OptionWithoutName", "config t s\n  option ''\n", "insufficient arguments"},
        broken_file{"BadOptionName", "config t s\n  option a-b 1\n", "invalid character"},
        broken_file{"BadSectionName", "config t 's x'\n", "invalid character"},
        broken_file{"BadType", "config 't x' s\n", "invalid character in type field"},
        broken_file{"BadPackageLine", "package 'a b'\nconfig t s\n", "invalid character"},
        broken_file{"TypeChangesForName", "config t s\nconfig u s\n", "different type"}),
    [](const testing::TestParamInfo<broken_file> &param_info) {
      return std::string(param_info.param.name);
    });

using UciHostile = UciFixture;

TEST_F(UciHostile, DirectoryOrFifoInPlaceOfTheFile) {
  ASSERT_EQ(mkdir(dir_.file("p").c_str(), 0700), 0);
  EXPECT_EQ(lookup("p.s.a").status, UCI_ERR_NOTFOUND);
  ASSERT_EQ(mkfifo(dir_.file("q").c_str(), 0600), 0);
  // A reader that waited for a writer would hang here.
  EXPECT_EQ(lookup("q.s.a").status, UCI_ERR_NOTFOUND);
}

TEST_F(UciHostile, EveryPrefixOfAValidFile) {
  const std::string full =
      "package messaging\n"
      "config info 'deviceInfo' # the identity\n"
      "\toption DEVICE_ID \"id \\\"42\\\" \\\n"
      "continued\"\n"
      "\tlist CHANNEL_SECRET 'a b'\n"
      "\tlist CHANNEL_SECRET c\\ d\n"
      "config other\n"
      "\toption x 'multi\n"
      "line'; option y z\n";
  const std::string id = "id \"42\" continued";
  for (size_t length = 0; length <= full.size(); ++length) {
    SCOPED_TRACE("prefix of " + std::to_string(length) + " bytes");
    reset_context();
    write("messaging", full.substr(0, length));
    auto found = lookup("messaging.deviceInfo.DEVICE_ID");
    EXPECT_TRUE(found.status == UCI_OK || found.status == UCI_ERR_PARSE) << found.status;
    if (found.status == UCI_OK && found.complete()) {
      ASSERT_EQ(found.ptr.o->type, UCI_TYPE_STRING);
      // A cut file never yields more, or other, text than the whole one.
      EXPECT_EQ(id.rfind(found.ptr.o->v.string, 0), 0u) << found.ptr.o->v.string;
    }
  }
  EXPECT_EQ(value("messaging.deviceInfo.DEVICE_ID"), id);
  EXPECT_EQ(value("messaging.deviceInfo.CHANNEL_SECRET"), "[a b|c d]");
  EXPECT_EQ(value("messaging.@other[0].y"), "z");
}

TEST_F(UciHostile, ArbitraryBytesNeverCrash) {
  // A fixed pseudo-random sequence, so that a failure can be replayed.
  uint32_t state = 12345;
  auto next = [&state] {
    state = state * 1103515245u + 12345u;
    return static_cast<unsigned char>(state >> 16);
  };
  const std::string alphabet = "config option list package 'x' \"y\" \\ # ; @ [0] \n\t\r";
  for (int round = 0; round < 300; ++round) {
    std::string content;
    size_t length = next() % 200;
    for (size_t i = 0; i < length; ++i) {
      unsigned char pick = next();
      content += pick < 200 ? alphabet[pick % alphabet.size()] : static_cast<char>(next());
    }
    reset_context();
    write("p", content);
    auto found = lookup("p.@[0].a");
    EXPECT_TRUE(found.status == UCI_OK || found.status == UCI_ERR_PARSE) << found.status;
  }
}

#ifdef QUORVEL_UCI_OWN
// libuci reads these files (it cuts a line at a NUL and takes control bytes
// and lines of any length as they are); our layer refuses them.
TEST_F(UciHostile, BinaryBytesAndHugeLinesAreRefused) {
  struct {
    std::string content;
    const char *reason;
  } cases[] = {
      {std::string("config t s\n  option a 'x") + '\0' + "y'\n",
       "(invalid character) at line 2, byte 13"},
      {"config t s\n  option a \x01\n", "(invalid character) at line 2, byte 11"},
      {"config t s\n  option a " + std::string(1024 * 1024, 'v') + "\n",
       "(line too long) at line 2"},
      {"config t s\n  option a '" + std::string(70 * 1024, '\n') + "'\n", "(line too long)"},
      {std::string(3 * 1024 * 1024, '#'), "(file too large)"},
  };
  for (const auto &c : cases) {
    reset_context();
    write("p", c.content);
    EXPECT_EQ(lookup("p.s.a").status, UCI_ERR_PARSE);
    testing::internal::CaptureStderr();
    uci_perror(ctx(), "look uci error");
    std::string message = testing::internal::GetCapturedStderr();
    EXPECT_NE(message.find(c.reason), std::string::npos) << message;
  }
}

TEST_F(UciHostile, ALineOfExactlyTheBoundIsRead) {
  // 65,536 bytes before the newline are one line; one more is refused.
  const std::string head = "  option a ";
  std::string fits(65536 - head.size(), 'v');
  write("p", "config t s\n" + head + fits + "\n");
  EXPECT_EQ(value("p.s.a"), fits);
  reset_context();
  write("q", "config t s\n" + head + fits + "v\n");
  EXPECT_EQ(lookup("q.s.a").status, UCI_ERR_PARSE);
}

TEST_F(UciHostile, CountsAreBounded) {
  std::string options = "config t s\n";
  for (int i = 0; i <= 1024; ++i) options += "option o" + std::to_string(i) + " v\n";
  write("p", options);
  EXPECT_EQ(lookup("p.s.o1").status, UCI_ERR_PARSE);

  std::string items = "config t s\n";
  for (int i = 0; i < 70000; ++i) items += "list a v\n";
  write("q", items);
  EXPECT_EQ(lookup("q.s.a").status, UCI_ERR_PARSE);

  // Replacing one option again and again stays within the bounds.
  std::string same = "config t s\n";
  for (int i = 0; i < 2000; ++i) same += "option a v" + std::to_string(i) + "\n";
  write("r", same);
  EXPECT_EQ(value("r.s.a"), "v1999");
}

TEST_F(UciHostile, ParseErrorPositionIsLineAndByte) {
  write("p", "config t s\n\n  option a 'x' extra\n");
  EXPECT_EQ(lookup("p.s.a").status, UCI_ERR_PARSE);
  testing::internal::CaptureStderr();
  uci_perror(ctx(), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Parse error (too many arguments) at line 3, byte 20\n");
}
#endif

}  // namespace
