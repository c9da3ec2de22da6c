// The window's words for the notes of the sharing use cases.
#include "sharing/shell.h"

const wchar_t* WindowStatusText(StatusNote note) {
  switch (note) {
    case StatusNote::kStaged: return L"Choose a mode, then click Start Sharing.";
    case StatusNote::kCompressing: return L"Compressing folder... (this may take a moment)";
    case StatusNote::kCompressFailed: return L"Folder compression failed.";
    case StatusNote::kLanReady: return L"LAN link ready and copied to clipboard.";
    case StatusNote::kLinkReady: return L"Link ready and copied to clipboard.";
    case StatusNote::kTunnelStarting: return L"Starting Cloudflare tunnel (up to 60s)...";
    case StatusNote::kNoTunnelClient: return L"cloudflared.exe missing using LAN link instead.";
    case StatusNote::kTunnelFound: return L"Public link found. Checking it's reachable...";
    case StatusNote::kLinkReadyUnprobed: return L"Link ready and copied. Allow a few seconds to come online.";
    case StatusNote::kTunnelDropped: return L"Tunnel dropped. Reconnecting...";
    case StatusNote::kTunnelGaveUp: return L"Tunnel unavailable. Using LAN links instead.";
    case StatusNote::kSharingStopped: return L"Sharing stopped. Drop a file above to share again.";
    case StatusNote::kAllStopped: return L"All sharing stopped.";
    case StatusNote::kNothingToStop: return L"Nothing to stop.";
    case StatusNote::kSelectRowFirst: return L"Select a row in the list first.";
  }
  return L"";
}
