// The registry of hosted items: what is being shared right now.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/share_mode.h"
#include "platform/file.h"

// One shared file, or one folder compressed into a temporary archive.
// Created with std::make_shared; destroyed on whichever thread lets go last.
// Fields marked "fixed" are set before insertion and never change after it:
// any thread reads them without the lock. `mode` and `url` are written only on
// the front end's thread, with the registry's lock held (through
// WithHostedLocked); that thread reads them freely, any other thread only
// under the lock.
struct HostedItem {
  std::wstring path;             // fixed: the file the server streams
  std::string name;              // fixed: UTF-8 last component of path
  uint64_t size = 0;             // fixed: read once at creation
  FileStamp stamp;               // fixed: the held file at creation: size, last change, identity
  std::string slug;              // fixed: link path segment, chosen under the lock at insertion
  ShareMode mode = ShareMode::kInternet;  // lock rule above; only ever kInternet -> kLan
  std::string url;               // lock rule above: complete link, empty while waiting for the tunnel
  std::atomic<int32_t> downloads{0};  // any thread, atomically
  bool isFolder = false;         // fixed
  std::wstring tempZip;          // fixed: archive to delete on destruction (folders only)
  // Fixed: share-read lock on path, opened at creation. Every request reads
  // through (a re-opening of) this handle, never through path again.
  ScopedFile fileHandle;

  HostedItem() = default;
  HostedItem(const HostedItem&) = delete;
  HostedItem& operator=(const HostedItem&) = delete;
  // Deletes the archive through the held handle (DeleteHeldFile), then the
  // handle closes (Windows: the archive goes with its last handle).
  ~HostedItem();
};

// The registry's state (the list, its lock g_hostedMtx and the tunnel's public
// address g_tunHost) is registry.cpp's own and lives as long as the process
// (never destroyed, so connection threads that wake while the process ends
// find it intact); the front ends call ClearHosted before they return.

// Proof that g_hostedMtx is held: only WithHostedLocked makes one, for the
// length of its step, and every function whose name ends in _locked takes it.
// The step never shows a box, waits, or touches a socket or a file.
class HostedLock {
 public:
  HostedLock(const HostedLock&) = delete;
  HostedLock& operator=(const HostedLock&) = delete;

 private:
  HostedLock() = default;
  friend void WithHostedLocked(const std::function<void(HostedLock&)>& step);
};

// Runs `step` with g_hostedMtx held.
void WithHostedLocked(const std::function<void(HostedLock&)>& step);

// Lookups and copies, each taking the lock for the scan or copy only.
std::shared_ptr<HostedItem> FindHostedBySlug(const std::string& slug);
std::shared_ptr<HostedItem> LatestHosted();
std::vector<std::shared_ptr<HostedItem>> SnapshotHosted();  // front end's thread only
void CountHostedByKind(int& files, int& folders);
size_t HostedCount();
bool AnyHostedInMode(ShareMode mode);

// Remove one item by row index; its archive, if any, is deleted at once, once
// the lock is released (it stays readable for downloads under way). False
// (and nothing changed) when the index is not below the count. On success
// `removed` keeps the item alive for the caller and `internetLeft` is the
// number of remaining Internet items.
bool RemoveHostedAt(size_t index, std::shared_ptr<HostedItem>& removed, int& internetLeft);

// The url of item `index`, copied under the lock; empty when there is none.
std::string HostedUrlAt(size_t index);
// The newest item's url, copied under the lock; empty when there is none.
std::string LatestHostedUrl();
// The tunnel's public address ("https://host"), copied under the lock; empty while none is known.
std::string TunnelHost();

// Under the lock: append an item, whether a slug is taken (letter case
// counts), a visit of every item in list order, the tunnel's public address.
void AppendHosted_locked(HostedLock& lock, std::shared_ptr<HostedItem> item);
bool SlugInUse_locked(const HostedLock& lock, const std::string& slug);
void ForEachHosted_locked(HostedLock& lock, const std::function<void(HostedItem&)>& visit);
const std::string& TunnelHost_locked(const HostedLock& lock);
void SetTunnelHost_locked(HostedLock& lock, std::string host);
// Empties the tunnel's public address under the lock; links are kept.
void ClearTunnelHost();

// Takes every item out under the lock, then deletes every archive at once as
// RemoveHostedAt does and lets go of the items: those nobody else holds close
// their files right there, after the lock is released.
void ClearHosted();
