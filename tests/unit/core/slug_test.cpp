// Tokens, custom links and the slug choice at insertion.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "core/registry.h"
#include "text/slug.h"
#include "platform/random.h"

namespace {

// A random source handing out `script` (then zeros), failing from draw
// `failFrom` on (-1: never); counts its draws.
std::vector<unsigned char> g_script;
size_t g_pos = 0;
int g_draws = 0;
int g_failFrom = -1;

bool ScriptedSource(void* buf, size_t len) {
  const int draw = g_draws++;
  if (g_failFrom >= 0 && draw >= g_failFrom) return false;
  for (size_t i = 0; i < len; ++i) static_cast<unsigned char*>(buf)[i] = g_pos < g_script.size() ? g_script[g_pos++] : 0;
  return true;
}

class SlugTest : public ::testing::Test {
 protected:
  void Script(std::vector<unsigned char> bytes, int failFrom = -1) {
    g_script = std::move(bytes);
    g_pos = 0;
    g_draws = 0;
    g_failFrom = failFrom;
    if (!previous_) previous_ = SetRandomSourceForTest(ScriptedSource);
  }
  void TearDown() override {
    if (previous_) SetRandomSourceForTest(previous_);
    ClearHosted();
  }
  RandomSourceFn previous_ = nullptr;
};

TEST(GenerateToken, SystemTokensUseTheAlphabet) {
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(GenerateToken(kTokenLen).find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789"), std::string::npos);
  EXPECT_EQ(GenerateToken(kTokenLen).size(), 12u);
  EXPECT_EQ(GenerateToken(200).size(), 200u);  // more than one 64-byte draw
}

// Byte b stands for alphabet[b % 36]; 252..255 are discarded so that every
// character is equally likely, and the fill carries over to the next draw.
TEST_F(SlugTest, TokenMapsBytesAndDiscardsTheTopFour) {
  Script({252, 253, 254, 255, 0, 1, 25, 26, 35, 36, 71, 251, 100, 200, 2, 3});
  EXPECT_EQ(GenerateToken(kTokenLen), "abz09a992ucd");
  EXPECT_EQ(g_draws, 1);
  std::vector<unsigned char> bytes(60, 255);
  for (unsigned char b = 0; b < 12; ++b) bytes.push_back(b);
  Script(bytes);
  EXPECT_EQ(GenerateToken(kTokenLen), "abcdefghijkl");
  EXPECT_EQ(g_draws, 2);
  Script(bytes, 1);  // a failure after a partial fill: the whole sentinel
  EXPECT_EQ(GenerateToken(kTokenLen), "!!!!!!!!!!!!");
  Script({}, 0);
  EXPECT_EQ(GenerateToken(3), "!!!");
}

TEST(CheckCustomSlug, SyntaxThenReservedWords) {
  const std::string x32(32, 'x');
  const std::pair<std::string, SlugResult> cases[] = {
      {"dl", SlugResult::kBadSyntax},  // reserved, but too short first
      {"", SlugResult::kBadSyntax},         {x32, SlugResult::kOk},
      {x32 + "x", SlugResult::kBadSyntax},  {"caf\xC3\xA9", SlugResult::kBadSyntax},
      {"\xC3\xA9\xC3\xA9\xC3\xA9", SlugResult::kBadSyntax},  // 6 bytes, all letters
      {"a b", SlugResult::kBadSyntax},      {"a.b", SlugResult::kBadSyntax},
      {"%41bc", SlugResult::kBadSyntax},    {" api", SlugResult::kBadSyntax},
      {"login\n", SlugResult::kBadSyntax},  {"Admin", SlugResult::kReserved},
      {"API", SlugResult::kReserved},       {"WwW", SlugResult::kReserved},
      {"billing", SlugResult::kReserved},   {"docs", SlugResult::kReserved},
      {"ftp", SlugResult::kReserved},       {"help", SlugResult::kReserved},
      {"login", SlugResult::kReserved},     {"logout", SlugResult::kReserved},
      {"signin", SlugResult::kReserved},    {"signup", SlugResult::kReserved},
      {"static", SlugResult::kReserved},    {"stripe", SlugResult::kReserved},
      {"SUPPORT", SlugResult::kReserved},   {"WEBHOOK", SlugResult::kReserved},
      {"app", SlugResult::kReserved},       {"admins", SlugResult::kOk},
      {"myadmin", SlugResult::kOk},         {"admin-panel", SlugResult::kOk},
      {"api_", SlugResult::kOk},            {"my_files-2024", SlugResult::kOk},
      {"__vhhealth", SlugResult::kReserved},  // the server's own health path
      {"__VHhealth", SlugResult::kOk},        // the server compares it exactly
  };
  for (const auto& [s, want] : cases) EXPECT_EQ(CheckCustomSlug(s), want) << "'" << s << "'";
  EXPECT_TRUE(IsReservedSlug("DL"));
}

// A random token that is taken (letter case counts) is drawn again, 64 times
// at most; a failing generator gives up after as many draws.
TEST_F(SlugTest, ChoiceGivesUpAfter64Attempts) {
  for (const bool failing : {true, false}) {
    Script({}, failing ? 0 : -1);  // otherwise zeros only: "aaaaaaaaaaaa"
    ClearHosted();
    auto item = std::make_shared<HostedItem>();
    item->slug = "aaaaaaaaaaaa";
    std::lock_guard<std::mutex> lock(g_hostedMtx);
    if (!failing) AppendHosted_locked(item);
    std::string slug;
    EXPECT_EQ(ChooseSlug_locked("", slug), SlugResult::kNoToken);
    EXPECT_EQ(g_draws, 64);
    EXPECT_EQ(slug, "");
  }
  g_failFrom = -1;
  {
    std::lock_guard<std::mutex> lock(g_hostedMtx);
    std::string slug;
    ForEachHosted_locked([](HostedItem& i) { i.slug = "AAAAAAAAAAAA"; });  // case only: no collision
    EXPECT_EQ(ChooseSlug_locked("", slug), SlugResult::kOk);
    EXPECT_EQ(slug, "aaaaaaaaaaaa");
  }
}

}  // namespace
