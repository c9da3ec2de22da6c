#include "text/slug.h"

#include "core/registry.h"
#include "platform/random.h"
#include "platform/types.h"  // kMbIcon...
#include "text/http_text.h"

namespace {

// Token alphabet: the character at index b % 36 stands for random byte b.
const char chars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
constexpr unsigned kAlphabetSize = 36;
// Bytes at or above 7 * 36 are discarded so every character is equally likely.
constexpr unsigned kByteLimit = 252;
constexpr size_t kDrawSize = 64;

}  // namespace

const char* const kReserved[] = {"admin",  "api",    "app",    "billing", "dl",      "docs",
                                 "ftp",    "help",   "login",  "logout",  "signin",  "signup",
                                 "static", "stripe", "support", "webhook", "www",    nullptr};

std::string GenerateToken(unsigned long long length) {
  std::string out(length, '\0');
  unsigned long long filled = 0;
  while (filled < length) {
    unsigned char draw[kDrawSize];
    if (!SystemRandom(draw, sizeof draw)) return std::string(length, '!');
    for (size_t i = 0; i < kDrawSize && filled < length; ++i) {
      if (draw[i] >= kByteLimit) continue;
      out[filled++] = chars[draw[i] % kAlphabetSize];
    }
  }
  return out;
}

bool IsReservedSlug(const std::string& s) {
  std::string lower = s;
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  for (const char* const* r = kReserved; *r; ++r) {
    if (lower == *r) return true;
  }
  return false;
}

std::string TrimSpacesTabs(const std::string& s) {
  size_t begin = 0;
  while (begin < s.size() && (s[begin] == ' ' || s[begin] == '\t')) ++begin;
  size_t end = s.size();
  while (end > begin && (s[end - 1] == ' ' || s[end - 1] == '\t')) --end;
  return s.substr(begin, end - begin);
}

SlugResult CheckCustomSlug(const std::string& custom) {
  if (!IsValidPathSegment(custom)) return SlugResult::kBadSyntax;
  if (IsReservedSlug(custom)) return SlugResult::kReserved;
  // The server answers its health path before it looks up any item, so an
  // item under that name would never be served. The server compares the path
  // exactly, and so does this check ("__VHhealth" is an ordinary link).
  if (custom == kServerHealthSlug) return SlugResult::kReserved;
  return SlugResult::kOk;
}

SlugResult ChooseSlug_locked(const HostedLock& lock, const std::string& custom, std::string& slug) {
  if (!custom.empty()) {
    if (SlugInUse_locked(lock, custom)) return SlugResult::kInUse;
    slug = custom;
    return SlugResult::kOk;
  }
  for (int attempt = 0; attempt < kTokenAttempts; ++attempt) {
    std::string token = GenerateToken(kTokenLen);
    if (!IsValidPathSegment(token) || SlugInUse_locked(lock, token)) continue;
    slug = std::move(token);
    return SlugResult::kOk;
  }
  return SlugResult::kNoToken;
}

const wchar_t* SlugResultMessage(SlugResult r) {
  switch (r) {
    case SlugResult::kOk:
      return L"";
    case SlugResult::kBadSyntax:
      return L"Custom link must be 3 to 32 characters and contain only letters, digits, hyphens, "
             L"or underscores.";
    case SlugResult::kReserved:
      return L"That custom link is reserved. Choose a different one.";
    case SlugResult::kInUse:
      return L"That custom link is already in use. Choose a different one.";
    case SlugResult::kNoToken:
      return L"Could not generate a secure link. Please try again.";
  }
  return L"";
}

unsigned SlugResultIcon(SlugResult r) {
  switch (r) {
    case SlugResult::kOk:
      return 0;
    case SlugResult::kNoToken:
      return kMbIconError;
    default:
      return kMbIconWarning;
  }
}
