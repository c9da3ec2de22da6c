// Slugs: the path segment under which a hosted item is served. A slug is a
// custom link the user typed or a random private token.
//
// How the sharing core uses this when it inserts an item:
//
//   1. Outside the registry's lock, for a non-empty custom link:
//        SlugResult r = CheckCustomSlug(custom);
//        if (r != SlugResult::kOk) -> ShellMessageBox(hwnd, SlugResultMessage(r), kCaption,
//                                                     kMbOk | SlugResultIcon(r)), refuse.
//   2. In a WithHostedLocked step (after the item was built, before BuildItemUrl_locked):
//        std::string slug;
//        SlugResult r = ChooseSlug_locked(lock, custom, slug);
//        kOk: item->slug = slug, build the link, append, unlock.
//        otherwise: unlock first, then the message box as above, and drop the item.
//
// GenerateToken and IsReservedSlug are pure and may run on any thread.
#pragma once

#include <string>

class HostedLock;  // core/registry.h

// The path segment the server answers itself (its health check), before any
// item lookup; a custom link may not take it.
constexpr const char* kServerHealthSlug = "__vhhealth";

// The custom link as the user typed it, without leading and trailing spaces and
// tabs (nothing else is trimmed).
std::string TrimSpacesTabs(const std::string& s);

// Length of a random token.
constexpr unsigned long long kTokenLen = 12;

// Custom links that are refused whatever their letter case: 17 entries, all
// lower case, ended by a null pointer.
extern const char* const kReserved[];

// `length` characters of [a-z0-9] from the system random generator, without
// modulo bias. When the generator fails: `length` exclamation marks, which no
// slug check accepts.
std::string GenerateToken(unsigned long long length);

// True when s equals a kReserved entry after ASCII lower-casing (whole word).
bool IsReservedSlug(const std::string& s);

enum class SlugResult {
  kOk,
  kBadSyntax,  // custom link fails IsValidPathSegment
  kReserved,   // custom link is a reserved word
  kInUse,      // custom link equals a hosted item's slug (case counts)
  kNoToken,    // 64 random tokens failed (generator failure or collisions)
};

// Number of random tokens tried before giving up.
constexpr int kTokenAttempts = 64;

// The checks of a custom link that need no lock: syntax, then reserved words
// (kReserved in any letter case, and kServerHealthSlug exactly).
// kOk, kBadSyntax or kReserved.
SlugResult CheckCustomSlug(const std::string& custom);

// Chooses the slug of a new item, under the registry's lock. A non-empty
// custom link (already passed CheckCustomSlug) is taken unless a hosted item
// has the same slug byte for byte (kInUse). An empty one gets a random token,
// at most kTokenAttempts tries (kNoToken). `slug` is set only on kOk.
SlugResult ChooseSlug_locked(const HostedLock& lock, const std::string& custom, std::string& slug);

// The message box text and icon (kMbIconWarning / kMbIconError) for a refusal;
// empty text and 0 for kOk.
const wchar_t* SlugResultMessage(SlugResult r);
unsigned SlugResultIcon(SlugResult r);
