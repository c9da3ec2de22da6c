#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "http/http_text.h"
#include "net_client.h"

namespace {

struct TextCase {
  std::string in;
  std::string out;
};

TEST(HttpText, UrlDecode) {
  const std::vector<TextCase> cases = {
      {"hello", "hello"},     {"a%20b", "a b"},  {"a+b", "a b"},
      {"100%25", "100%"},     {"a%2X", "a%2X"},  {"a%", "a%"},
      {"%4", "%4"},           {"%41%42", "AB"},  {"%e2%82%ac", "\xE2\x82\xAC"},
      {"%2541", "%41"},       {"%00", std::string(1, '\0')},
      {"%4a%4A", "JJ"},       {"a%%41", "a%A"},  {"", ""},
      {"%G1", "%G1"},         {"%+1", "% 1"},
  };
  for (const auto& c : cases) EXPECT_EQ(URLDecode(c.in), c.out) << c.in;
}

TEST(HttpText, UrlEncode) {
  const std::vector<TextCase> cases = {
      {"a b", "a%20b"},
      {"a+b", "a%2Bb"},
      {"A-Z_a.z~0", "A-Z_a.z~0"},
      {"\xC3\xA9", "%C3%A9"},
      {"a<b>&\"c'.txt", "a%3Cb%3E%26%22c%27.txt"},
      {std::string("\x00\x7F\xFF/%", 5), "%00%7F%FF%2F%25"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(URLEncode(c.in), c.out) << c.in;
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  for (const std::string& s : {std::string("hello world!"), std::string("a&b=c?d/e"), all})
    EXPECT_EQ(URLDecode(URLEncode(s)), s);
}

TEST(HttpText, PathSegment) {
  const struct {
    std::string in;
    bool ok;
  } cases[] = {
      {"abc", true},   {"a-b_c", true},          {"A1z9", true},
      {std::string(32, 'x'), true},              {"ab", false},
      {std::string(33, 'x'), false},             {"a/b", false},
      {"a b", false},  {"a@b", false},           {"a.b", false},
      {"%41bc", false}, {"", false},             {"\xC3\xA9t\xC3\xA9", false},
      {std::string("ab\0", 3), false},           {"__vhhealth", true},
  };
  for (const auto& c : cases) EXPECT_EQ(IsValidPathSegment(c.in), c.ok) << c.in;
}

TEST(HttpText, HtmlEscape) {
  const std::vector<TextCase> cases = {
      {"<script>", "&lt;script&gt;"}, {"a&b", "a&amp;b"}, {"'\"", "&#39;&quot;"},
      {"plain", "plain"},             {"", ""},           {"&amp;", "&amp;amp;"},
  };
  for (const auto& c : cases) EXPECT_EQ(HtmlEscape(c.in), c.out) << c.in;
}

TEST(HttpText, MimeType) {
  const std::vector<TextCase> cases = {
      {"foo.pdf", "application/pdf"},
      {"foo.JPG", "image/jpeg"},
      {"foo", "application/octet-stream"},
      {"foo.unknown", "application/octet-stream"},
      {"foo.", "application/octet-stream"},
      {"photo.JpEg", "image/jpeg"},
      {"page.HTM", "text/html"},
      {"a.tar.gz", "application/octet-stream"},
      {".pdf", "application/pdf"},
      {"x.zip.txt", "text/plain"},
      {"song.Mp3", "audio/mpeg"},
      {"clip.MP4", "video/mp4"},
      {"p.png", "image/png"},
      {"g.gif", "image/gif"},
      {"i.html", "text/html"},
      {"f.zip", "application/zip"},
      {"dir.v2/readme", "application/octet-stream"},
  };
  for (const auto& c : cases) EXPECT_EQ(MimeType(c.in), c.out) << c.in;
}

TEST(HttpText, SizeText) {
  const struct {
    uint64_t n;
    std::string text;
  } cases[] = {
      {0, "0 B"},
      {1023, "1023 B"},
      {1024, "1.0 KB"},
      {1536, "1.5 KB"},
      {2048, "2.0 KB"},
      {1048575, "1024.0 KB"},
      {2097152, "2.0 MB"},
      {1073741823, "1024.0 MB"},
      {1073741824, "1.00 GB"},
      {3221225472ull, "3.00 GB"},
      {18446744073709551615ull, "17179869184.00 GB"},
  };
  for (const auto& c : cases) EXPECT_EQ(FmtSizeUtf8(c.n), c.text) << c.n;
}

TEST(HttpText, SendAllSendsEverythingOrReportsTheReset) {
  LoopbackPair p = MakeLoopbackPair();
  ASSERT_NE(p.client, INVALID_SOCKET);
  EXPECT_TRUE(SendAll(p.server, "ignored", 0));
  EXPECT_TRUE(SendAll(p.server, "ignored", -5));
  ASSERT_TRUE(SendAll(p.server, "hello", 5));
  ShutdownSend(p.server);
  EXPECT_EQ(ReadAll(p.client, 2000), "hello");

  // The peer resets: a later send must fail instead of claiming success.
  linger l{};
  l.l_onoff = 1;
  l.l_linger = 0;
  setsockopt(p.client, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l);
  closesocket(p.client);
  const std::string block(1 << 20, 'x');
  bool failed = false;
  for (int i = 0; i < 64 && !failed; ++i)
    failed = !SendAll(p.server, block.data(), static_cast<int>(block.size()));
  EXPECT_TRUE(failed);
  closesocket(p.server);
}

}  // namespace
