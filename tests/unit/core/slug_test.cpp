// Tokens, reserved words, custom links and the slug choice at insertion.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/registry.h"
#include "core/shell.h"
#include "core/slug.h"
#include "http_test_util.h"
#include "platform/random.h"

namespace {

// Random sources the tests plug in. They run on the calling thread only.
std::atomic<int> g_draws{0};
std::vector<unsigned char> g_script;  // bytes handed out in order, then zeros
size_t g_scriptPos = 0;
int g_failFromDraw = -1;  // first draw (0-based) that fails; -1 never

bool ScriptedSource(void* buf, size_t len) {
  const int draw = g_draws.fetch_add(1);
  if (g_failFromDraw >= 0 && draw >= g_failFromDraw) return false;
  auto* out = static_cast<unsigned char*>(buf);
  for (size_t i = 0; i < len; ++i) out[i] = g_scriptPos < g_script.size() ? g_script[g_scriptPos++] : 0;
  return true;
}

bool FailingSource(void*, size_t) {
  g_draws.fetch_add(1);
  return false;
}

// Installs a source for one test and restores the system generator.
class RandomOverride {
 public:
  explicit RandomOverride(RandomSourceFn fn) {
    g_draws = 0;
    g_scriptPos = 0;
    previous_ = SetRandomSourceForTest(fn);
  }
  ~RandomOverride() {
    SetRandomSourceForTest(previous_);
    g_script.clear();
    g_failFromDraw = -1;
  }

 private:
  RandomSourceFn previous_;
};

bool IsTokenChar(char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); }

class SlugTest : public ::testing::Test {
 protected:
  void SetUp() override { ClearHosted(); }
  void TearDown() override { ClearHosted(); }
};

TEST(GenerateToken, TwelveCharactersOfTheAlphabet) {
  for (int i = 0; i < 1000; ++i) {
    const std::string t = GenerateToken(kTokenLen);
    ASSERT_EQ(t.size(), 12u);
    for (char c : t) ASSERT_TRUE(IsTokenChar(c)) << t;
  }
  EXPECT_EQ(GenerateToken(0), "");
  EXPECT_EQ(GenerateToken(200).size(), 200u);  // more than one 64-byte draw
}

// 1.2 million characters over 36 symbols (35 degrees of freedom). The bound
// 112 is exceeded by chance with a probability of about 1e-9; a generator that
// kept bytes 252..255 (modulo bias towards "a".."d") scores above 1500.
TEST(GenerateToken, CharacterFrequenciesAreUniform) {
  const std::string alphabet = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::array<long long, 256> counts{};
  const int tokens = 100000;
  for (int i = 0; i < tokens; ++i) {
    for (unsigned char c : GenerateToken(kTokenLen)) ++counts[c];
  }
  const double expected = tokens * 12.0 / 36.0;
  double chi2 = 0;
  long long total = 0;
  for (char c : alphabet) {
    const double d = static_cast<double>(counts[static_cast<unsigned char>(c)]) - expected;
    chi2 += d * d / expected;
    total += counts[static_cast<unsigned char>(c)];
  }
  EXPECT_EQ(total, tokens * 12LL);  // nothing outside the alphabet
  EXPECT_LT(chi2, 112.0);
}

TEST(GenerateToken, MapsBytesAndDiscardsTheTopFour) {
  RandomOverride o(ScriptedSource);
  // 252..255 are skipped; 36 wraps to "a"; 71 is "9"; 251 is 251 % 36 = 35, "9".
  g_script = {252, 253, 254, 255, 0, 1, 25, 26, 35, 36, 71, 251, 100, 200, 2, 3};
  EXPECT_EQ(GenerateToken(kTokenLen), "abz09a992ucd");
  EXPECT_EQ(g_draws.load(), 1);
}

TEST(GenerateToken, FillCountCarriesOverToTheNextDraw) {
  RandomOverride o(ScriptedSource);
  g_script.assign(60, 255);  // first draw: 60 discarded bytes, then 4 usable ones
  for (unsigned char b : {0, 1, 2, 3}) g_script.push_back(b);
  for (unsigned char b = 4; b < 12; ++b) g_script.push_back(b);
  EXPECT_EQ(GenerateToken(kTokenLen), "abcdefghijkl");
  EXPECT_EQ(g_draws.load(), 2);
}

TEST(GenerateToken, FailureGivesTheSentinel) {
  {
    RandomOverride o(FailingSource);
    EXPECT_EQ(GenerateToken(kTokenLen), "!!!!!!!!!!!!");
    EXPECT_EQ(GenerateToken(3), "!!!");
  }
  {
    // A failure after a partial fill still gives the whole sentinel.
    RandomOverride o(ScriptedSource);
    g_script.assign(60, 255);
    for (unsigned char b : {0, 1, 2, 3}) g_script.push_back(b);
    g_failFromDraw = 1;
    EXPECT_EQ(GenerateToken(kTokenLen), "!!!!!!!!!!!!");
  }
}

TEST(IsReservedSlug, WholeWordsInAnyCase) {
  size_t n = 0;
  while (kReserved[n]) ++n;
  EXPECT_EQ(n, 17u);
  for (size_t i = 0; i < n; ++i) {
    std::string upper = kReserved[i];
    for (char& c : upper) c = static_cast<char>(c - 'a' + 'A');
    EXPECT_TRUE(IsReservedSlug(kReserved[i])) << kReserved[i];
    EXPECT_TRUE(IsReservedSlug(upper)) << upper;
  }
  const struct {
    const char* s;
    bool reserved;
  } cases[] = {
      {"admin", true},    {"Admin", true},     {"API", true},      {"WwW", true},
      {"dl", true},       {"foo", false},      {"", false},        {"admins", false},
      {"myadmin", false}, {"admin-1", false},  {"api_", false},    {" api", false},
      {"apı", false},     {"login\n", false},  {"stripe", true},   {"WEBHOOK", true},
  };
  for (const auto& c : cases) EXPECT_EQ(IsReservedSlug(c.s), c.reserved) << "'" << c.s << "'";
}

TEST(CheckCustomSlug, SyntaxThenReservedWords) {
  const std::string x32(32, 'x');
  const struct {
    std::string s;
    SlugResult want;
  } cases[] = {
      {"dl", SlugResult::kBadSyntax},  // reserved, but too short first
      {"ab", SlugResult::kBadSyntax},
      {"", SlugResult::kBadSyntax},
      {x32, SlugResult::kOk},
      {x32 + "x", SlugResult::kBadSyntax},
      {"caf\xC3\xA9", SlugResult::kBadSyntax},             // non-ASCII letter
      {"\xC3\xA9\xC3\xA9\xC3\xA9", SlugResult::kBadSyntax},  // 6 bytes, all letters
      {"a b", SlugResult::kBadSyntax},
      {"a.b", SlugResult::kBadSyntax},
      {"a/b", SlugResult::kBadSyntax},
      {"%41bc", SlugResult::kBadSyntax},
      {"admin", SlugResult::kReserved},
      {"Admin", SlugResult::kReserved},
      {"SUPPORT", SlugResult::kReserved},
      {"admin-panel", SlugResult::kOk},
      {"my_files-2024", SlugResult::kOk},
      {"API", SlugResult::kReserved},
      {"__vhhealth", SlugResult::kReserved},  // the server's own health path
      {"__VHhealth", SlugResult::kOk},        // the server compares it exactly
      {"__vhhealth2", SlugResult::kOk},
  };
  for (const auto& c : cases) EXPECT_EQ(CheckCustomSlug(c.s), c.want) << "'" << c.s << "'";
}

TEST(SlugResultText, MessagesAndIcons) {
  const struct {
    SlugResult r;
    const wchar_t* text;
    unsigned icon;
  } cases[] = {
      {SlugResult::kOk, L"", 0},
      {SlugResult::kBadSyntax,
       L"Custom link must be 3 to 32 characters and contain only letters, digits, hyphens, or "
       L"underscores.",
       kMbIconWarning},
      {SlugResult::kReserved, L"That custom link is reserved. Choose a different one.",
       kMbIconWarning},
      {SlugResult::kInUse, L"That custom link is already in use. Choose a different one.",
       kMbIconWarning},
      {SlugResult::kNoToken, L"Could not generate a secure link. Please try again.", kMbIconError},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(std::wstring(SlugResultMessage(c.r)), c.text);
    EXPECT_EQ(SlugResultIcon(c.r), c.icon);
  }
}

TEST_F(SlugTest, CustomLinkInUseOnlyWhenBytesMatch) {
  HostItem("MyLink", {}, "f.txt", 0, false);
  std::string slug;
  std::lock_guard<std::mutex> lock(g_hostedMtx);
  EXPECT_EQ(ChooseSlug_locked("MyLink", slug), SlugResult::kInUse);
  EXPECT_EQ(slug, "");
  EXPECT_EQ(ChooseSlug_locked("mylink", slug), SlugResult::kOk);
  EXPECT_EQ(slug, "mylink");
}

TEST_F(SlugTest, RandomTokenAvoidsHostedSlugs) {
  std::string slug;
  {
    std::lock_guard<std::mutex> lock(g_hostedMtx);
    ASSERT_EQ(ChooseSlug_locked("", slug), SlugResult::kOk);
  }
  EXPECT_EQ(slug.size(), 12u);
  for (char c : slug) EXPECT_TRUE(IsTokenChar(c));
}

TEST_F(SlugTest, FailingGeneratorGivesUpAfter64Attempts) {
  RandomOverride o(FailingSource);
  std::string slug;
  std::lock_guard<std::mutex> lock(g_hostedMtx);
  EXPECT_EQ(ChooseSlug_locked("", slug), SlugResult::kNoToken);
  EXPECT_EQ(g_draws.load(), 64);
  EXPECT_EQ(slug, "");
}

TEST_F(SlugTest, CollidingTokensGiveUpAfter64Attempts) {
  RandomOverride o(ScriptedSource);  // only zeros after the script: "aaaaaaaaaaaa"
  HostItem("aaaaaaaaaaaa", {}, "f.txt", 0, false);
  std::string slug;
  {
    std::lock_guard<std::mutex> lock(g_hostedMtx);
    EXPECT_EQ(ChooseSlug_locked("", slug), SlugResult::kNoToken);
  }
  EXPECT_EQ(g_draws.load(), 64);
  ClearHosted();
  HostItem("AAAAAAAAAAAA", {}, "f.txt", 0, false);  // differs in case only: not a collision
  std::lock_guard<std::mutex> lock(g_hostedMtx);
  EXPECT_EQ(ChooseSlug_locked("", slug), SlugResult::kOk);
  EXPECT_EQ(slug, "aaaaaaaaaaaa");
}

// The body of the answer to a download of slug.
std::string Fetch(const std::string& slug) {
  const std::string answer = Ask("GET /" + slug + "?dl=1 HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n").answer;
  const size_t body = answer.find("\r\n\r\n");
  return body == std::string::npos ? answer : answer.substr(body + 4);
}

TEST_F(SlugTest, SlugsDifferingInCaseAreServedSeparately) {
  TempDir dir;
  const std::wstring upper = dir.Write(L"upper.txt", "upper file");
  const std::wstring lower = dir.Write(L"lower.txt", "lower file!");
  for (const auto& [custom, path] : {std::pair{"Report-A", upper}, std::pair{"report-a", lower}}) {
    ASSERT_EQ(CheckCustomSlug(custom), SlugResult::kOk);
    auto item = std::make_shared<HostedItem>();
    item->path = path;
    item->name = "f.txt";
    item->size = ReadWholeFile(path).size();
    item->mode = 1;
    ASSERT_TRUE(HoldSharedFile(*item));
    std::lock_guard<std::mutex> lock(g_hostedMtx);
    ASSERT_EQ(ChooseSlug_locked(custom, item->slug), SlugResult::kOk);
    g_hosted.push_back(item);
  }
  EXPECT_EQ(Fetch("Report-A"), "upper file");
  EXPECT_EQ(Fetch("report-a"), "lower file!");
  EXPECT_NE(Fetch("REPORT-A").find("Link not found"), std::string::npos);
}

}  // namespace
