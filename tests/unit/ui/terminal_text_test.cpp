// The terminal program's text helpers: command line, paths, the hosted table (the QR: terminal scenarios).
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <tuple>

#include "share_args.h"
#include "terminal_view.h"

namespace {
// A share command's mode (its stored number: 0 Internet, 1 LAN), link and paths (-1: refused, with an error text); paths made absolute.
TEST(TerminalArgs, CommandLinesAndAbsoluteSharePaths) {
  using S = std::vector<std::string>;
  const struct { S args; int mode; std::string link; S paths; } shares[] = {
      {{"share", "a"}, 0, "", {"a"}}, {{"share", "--lan", "a", "b"}, 1, "", {"a", "b"}},
      {{"share", "a", "--internet"}, 0, "", {"a"}}, {{"share", "--lan", "--lan", "a"}, 1, "", {"a"}},
      {{"share", "--link", "my-file", "a"}, 0, "my-file", {"a"}}, {{"share", "--link= x ", "a"}, 0, " x ", {"a"}},
      {{"share", "--", "--lan", "-"}, 0, "", {"--lan", "-"}}, {{}, -1, "", {}}, {{"a.txt"}, -1, "", {}},
      {{"share"}, -1, "", {}}, {{"share", "--lan", "--internet", "a"}, -1, "", {}}, {{"share", "--ipv6", "a"}, -1, "", {}},
      {{"share", "--link", "x", "--link", "y", "a"}, -1, "", {}}, {{"share", "a", "--link"}, -1, "", {}}};
  for (const auto& c : shares) {
    const Command got = ParseCommandLine(c.args);
    const bool ok = got.kind == (c.mode < 0 ? CommandKind::kError : CommandKind::kShare) &&
                    got.error.empty() == (c.mode >= 0);
    EXPECT_TRUE(ok && (c.mode < 0 || std::tuple(static_cast<int>(got.share.mode), got.share.customLink, got.share.paths) ==
                                         std::tie(c.mode, c.link, c.paths))) << testing::PrintToString(c.args);
  }
  for (const auto& [arg, kind] : {std::pair{"--self-test", CommandKind::kSelfTest}, {"--help", CommandKind::kHelp},
                                  {"--version", CommandKind::kVersion}})
    EXPECT_EQ(ParseCommandLine({arg}).kind, kind) << arg;
  const std::string cwd = std::filesystem::current_path().string();
  const std::pair<const char*, std::string> cases[] = {
      {"f.txt", cwd + "/f.txt"}, {"dir//", cwd + "/dir"}, {".", cwd}, {"./a/../b", cwd + "/b"},
      {"..", std::filesystem::current_path().parent_path().string()}, {"/", "/"}, {"", ""}};
  for (const auto& [arg, want] : cases) EXPECT_EQ(AbsoluteSharePath(arg), want) << arg;
}

TEST(TerminalTable, ColumnsAndTexts) {
  const std::vector<HostedRow> rows = {
      {"report.pdf", false, 1048576, ShareMode::kLan, "http://10.0.0.2:20001/abc", 12},
      {"photos_123.zip", true, 1023, ShareMode::kInternet, "", 0},
      {"b\xC3\xA4r.txt", false, 1073741824, ShareMode::kInternet, "https://x.trycloudflare.com/q", 3},
      {"a\rb", false, 0, ShareMode::kLan, "http://10.0.0.2:20001/def", 0}};
  EXPECT_EQ(FormatHostedTable(rows), (std::vector<std::string>{
      "Name            Kind    Size     Mode      Status  Downloads  Link",
      "report.pdf      File    1.0 MB   LAN       Active  12         http://10.0.0.2:20001/abc",
      "photos_123.zip  Folder  1023 B   Internet  Active  0          (waiting for tunnel...)",
      "b\xC3\xA4r.txt         File    1.00 GB  Internet  Active  3          https://x.trycloudflare.com/q",
      "a\\x0Db          File    0 B      LAN       Active  0          http://10.0.0.2:20001/def"}));
  EXPECT_EQ(FormatHostedTable({}).size(), 1u);
}

TEST(TerminalEscape, ControlsAndInvalidBytesBecomeVisible) {
  const struct { std::string in, out; bool valid; } cases[] = {
      {"b\xC3\xA4r \xE2\x82\xAC \xF0\x9F\x98\x80", "b\xC3\xA4r \xE2\x82\xAC \xF0\x9F\x98\x80", true},
      {"a\x1b]0;t\x07\r\nb\t\x7f", "a\\x1B]0;t\\x07\\x0D\\x0Ab\\x09\\x7F", true},
      {"c1 \xC2\x9B" "2J \xC2\xA0", "c1 \\xC2\\x9B" "2J \xC2\xA0", true},  // a C1 CSI escaped, a no-break space kept
      {"\xFF\xC3", "\\xFF\\xC3", false},  // a stray byte, a cut sequence
      // An overlong form, a surrogate, a code point above U+10FFFF.
      {"\xC0\xAF \xED\xA0\x80 \xF4\x90\x80\x80", "\\xC0\\xAF \\xED\\xA0\\x80 \\xF4\\x90\\x80\\x80", false}};
  for (const auto& c : cases) EXPECT_TRUE(EscapeForTerminal(c.in) == c.out && IsValidUtf8(c.in) == c.valid) << c.out;
  // A message spanning lines keeps its line breaks, and only those.
  EXPECT_EQ(EscapeLines("a\x1b[2J\n\nb\r"), "a\\x1B[2J\n\nb\\x0D\n");
}

// The terminal's own words: no window wording, and the tunnel client named as on Linux.
TEST(TerminalWords, NotesSayWhatFitsATerminal) {
  for (int n = 0; n <= static_cast<int>(StatusNote::kSelectRowFirst); ++n) {
    const char* text = TerminalStatusText(static_cast<StatusNote>(n));
    const std::string t = text ? text : "";
    for (const char* window : {"click", "Drop a file", "cloudflared.exe", "copied", "Select a row"})
      EXPECT_EQ(t.find(window), std::string::npos) << n << ": " << t;
  }
  EXPECT_EQ(TerminalStatusText(StatusNote::kStaged), nullptr);
  EXPECT_EQ(std::string(TerminalStatusText(StatusNote::kNoTunnelClient)),
            "cloudflared not found next to vornhale or on PATH: using a LAN link instead.");
  EXPECT_EQ(SkipReasonText(SkipReason::kUnreadable, EACCES), "cannot be read: Permission denied");
}

TEST(TerminalClipboard, Osc52CarriesBase64Text) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"\xC3\xA4\xFF", "w6T/"}};
  for (const auto& [text, b64] : cases) EXPECT_EQ(ClipboardSequence(text), "\x1b]52;c;" + b64 + "\a") << text;
}
}  // namespace
