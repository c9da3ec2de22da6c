#include "terminal_view.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <qrcodegen/qrcodegen.hpp>

#include "platform/hex.h"
#include "text/http_text.h"
#include "text/utf8.h"

namespace {

constexpr const char* kUpperHalf = "\xE2\x96\x80";  // U+2580
constexpr const char* kLowerHalf = "\xE2\x96\x84";  // U+2584
constexpr const char* kFullBlock = "\xE2\x96\x88";  // U+2588
// Ink colour 231 (white) on background 16 (black) of the 256-colour cube.
constexpr const char* kQrColours = "\x1b[38;5;231;48;5;16m";
constexpr const char* kReset = "\x1b[0m";
constexpr const char* kWaitingForTunnel = "(waiting for tunnel...)";
constexpr const char* kColumnGap = "  ";

// Counts UTF-8 code points, which is the width of the texts shown here
// closely enough for aligning columns.
size_t DisplayWidth(const std::string& s) {
  size_t n = 0;
  for (unsigned char c : s) {
    if ((c & 0xC0) != 0x80) ++n;
  }
  return n;
}

void AppendEscapedByte(std::string& out, unsigned char b) {
  out += "\\x";
  AppendHexByte(out, b);
}

}  // namespace

std::string EscapeForTerminal(const std::string& bytes) {
  std::string out;
  size_t i = 0;
  while (i < bytes.size()) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    const size_t len = Utf8SequenceLength(bytes, i);
    const bool control = (len == 1 && (c < 0x20 || c == 0x7F)) ||
                         (len == 2 && c == 0xC2 && static_cast<unsigned char>(bytes[i + 1]) < 0xA0);
    if (len == 0) {
      AppendEscapedByte(out, c);
      ++i;
      continue;
    }
    for (size_t k = 0; k < len; ++k) {
      if (control)
        AppendEscapedByte(out, static_cast<unsigned char>(bytes[i + k]));
      else
        out.push_back(bytes[i + k]);
    }
    i += len;
  }
  return out;
}

std::vector<std::string> QrHalfBlockLines(const std::string& text, bool colour) {
  std::vector<std::string> lines;
  try {
    const qrcodegen::QrCode qr = qrcodegen::QrCode::encodeText(text.c_str(), qrcodegen::QrCode::Ecc::MEDIUM);
    const int n = qr.getSize();
    const int total = n + 2 * kQrQuietModules;
    // Light outside the symbol (quiet zone, and the half row below an odd total).
    auto light = [&](int x, int y) {
      const int c = x - kQrQuietModules;
      const int r = y - kQrQuietModules;
      if (c < 0 || r < 0 || c >= n || r >= n) return true;
      return !qr.getModule(c, r);
    };
    for (int y = 0; y < total; y += 2) {
      std::string line = colour ? kQrColours : "";
      for (int x = 0; x < total; ++x) {
        const bool top = light(x, y);
        const bool bottom = light(x, y + 1);
        line += top && bottom ? kFullBlock : top ? kUpperHalf : bottom ? kLowerHalf : " ";
      }
      if (colour) line += kReset;
      lines.push_back(std::move(line));
    }
  } catch (...) {
    lines.clear();  // the text fits no version (or memory ran out)
  }
  return lines;
}

std::string KindText(bool isFolder) { return isFolder ? "Folder" : "File"; }

std::string ModeText(ShareMode mode) { return mode == ShareMode::kInternet ? "Internet" : "LAN"; }

std::string LinkText(const std::string& url) { return url.empty() ? kWaitingForTunnel : url; }

std::vector<std::string> FormatHostedTable(const std::vector<HostedRow>& rows) {
  std::vector<std::vector<std::string>> cells;
  cells.push_back({"Name", "Kind", "Size", "Mode", "Status", "Downloads", "Link"});
  for (const HostedRow& r : rows) {
    cells.push_back({EscapeForTerminal(r.name), KindText(r.isFolder), FmtSizeUtf8(r.size), ModeText(r.mode), "Active",
                     std::to_string(r.downloads), LinkText(r.url)});
  }
  const size_t columns = cells.front().size();
  std::vector<size_t> width(columns, 0);
  for (const auto& row : cells) {
    for (size_t c = 0; c < columns; ++c) width[c] = std::max(width[c], DisplayWidth(row[c]));
  }
  std::vector<std::string> lines;
  for (const auto& row : cells) {
    std::string line;
    for (size_t c = 0; c < columns; ++c) {
      if (c > 0) line += kColumnGap;
      line += row[c];
      if (c + 1 < columns) line.append(width[c] - DisplayWidth(row[c]), ' ');
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

std::string ClipboardSequence(const std::string& utf8) {
  static const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out = "\x1b]52;c;";
  size_t i = 0;
  for (; i + 2 < utf8.size(); i += 3) {
    const uint32_t v = (static_cast<uint8_t>(utf8[i]) << 16) | (static_cast<uint8_t>(utf8[i + 1]) << 8) |
                       static_cast<uint8_t>(utf8[i + 2]);
    out += {kBase64[v >> 18], kBase64[(v >> 12) & 63], kBase64[(v >> 6) & 63], kBase64[v & 63]};
  }
  if (i + 1 == utf8.size()) {
    const uint32_t v = static_cast<uint8_t>(utf8[i]) << 16;
    out += {kBase64[v >> 18], kBase64[(v >> 12) & 63], '=', '='};
  } else if (i + 2 == utf8.size()) {
    const uint32_t v = (static_cast<uint8_t>(utf8[i]) << 16) | (static_cast<uint8_t>(utf8[i + 1]) << 8);
    out += {kBase64[v >> 18], kBase64[(v >> 12) & 63], kBase64[(v >> 6) & 63], '='};
  }
  return out + "\a";
}

const char* TerminalStatusText(StatusNote note) {
  switch (note) {
    case StatusNote::kStaged: return nullptr;
    case StatusNote::kCompressing: return "Archiving the folder... (this may take a moment)";
    case StatusNote::kCompressFailed: return "The folder could not be archived.";
    case StatusNote::kLanReady: return "LAN link ready.";
    case StatusNote::kLinkReady: return "Link ready.";
    case StatusNote::kTunnelStarting: return "Starting Cloudflare tunnel (up to 60s)...";
    case StatusNote::kNoTunnelClient:
      return "cloudflared not found next to vornhale or on PATH: using a LAN link instead.";
    case StatusNote::kTunnelFound: return "Public link found. Checking it's reachable...";
    case StatusNote::kLinkReadyUnprobed: return "Link ready. Allow a few seconds for it to come online.";
    case StatusNote::kTunnelDropped: return "Tunnel dropped. Reconnecting...";
    case StatusNote::kTunnelGaveUp: return "Tunnel unavailable. Using LAN links instead.";
    case StatusNote::kSharingStopped: return "Sharing stopped.";
    case StatusNote::kAllStopped: return "All sharing stopped.";
    case StatusNote::kNothingToStop: return "Nothing to stop.";
    case StatusNote::kSelectRowFirst: return nullptr;  // there are no rows to select
  }
  return nullptr;
}

std::string SkipReasonText(SkipReason why, int error) {
  switch (why) {
    case SkipReason::kUnreadable: return std::string("cannot be read: ") + std::strerror(error);
    case SkipReason::kFifo: return "it is a FIFO, not a file";
    case SkipReason::kSocket: return "it is a socket, not a file";
    case SkipReason::kDevice: return "it is a device, not a file";
    case SkipReason::kNotUtf8: return "the name is not valid UTF-8";
    case SkipReason::kTooDeep: return "the path is too deep";
    case SkipReason::kChanged: return "it changed while it was read";
    case SkipReason::kLinkOutside: return "the link leads outside the folder";
    case SkipReason::kLinkToFolder: return "the link leads to a folder";
    case SkipReason::kLinkBroken: return "the link leads nowhere";
    case SkipReason::kArchiveItself: return "it is the archive being written";
  }
  return "left out";
}

std::string ArchiveProgressText(uint64_t files, uint64_t bytes) {
  return "Archiving: " + std::to_string(files) + (files == 1 ? " file, " : " files, ") +
         FmtSizeUtf8(bytes) + " read";
}

std::string EscapeLines(const std::string& text) {
  std::string out;
  size_t start = 0;
  while (start <= text.size()) {
    const size_t end = text.find('\n', start);
    out += EscapeForTerminal(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    out += "\n";
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return out;
}
