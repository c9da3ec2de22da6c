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
struct HostedItem {
  std::wstring path;             // the file the server streams
  std::string name;              // UTF-8 last component of path
  uint64_t size = 0;             // read once at creation
  FileStamp stamp;               // the held file at creation: size, last change, identity
  std::string slug;              // link path segment; set under g_hostedMtx at insertion
  ShareMode mode = ShareMode::kInternet;  // only ever kInternet -> kLan
  std::string url;               // complete link, empty while waiting for the tunnel
  std::atomic<int32_t> downloads{0};
  bool isFolder = false;
  std::wstring tempZip;          // archive to delete on destruction (folders only)
  // Share-read lock on path, opened at creation. Every request reads through
  // (a re-opening of) this handle, never through path again.
  FileHandle fileHandle = kInvalidFileHandle;

  HostedItem() = default;
  HostedItem(const HostedItem&) = delete;
  HostedItem& operator=(const HostedItem&) = delete;
  // Deletes the archive through the held handle (DeleteHeldFile), closes the
  // handle, then deletes the archive by its path, for a handle held without
  // the right to delete (the lock does not share delete access).
  ~HostedItem();
};

// The registry's state lives as long as the process (never destroyed, so
// connection threads that wake while the process ends find it intact); the
// front ends call ClearHosted before they return.
extern std::vector<std::shared_ptr<HostedItem>>& g_hosted;
extern std::mutex& g_hostedMtx;  // guards g_hosted, slugs at insertion, mode, url, g_tunHost
extern std::string& g_tunHost;   // "https://host" of the tunnel, empty while none is known

// Lookups and copies, each taking g_hostedMtx for the scan or copy only.
std::shared_ptr<HostedItem> FindHostedBySlug(const std::string& slug);
std::shared_ptr<HostedItem> LatestHosted();
std::vector<std::shared_ptr<HostedItem>> SnapshotHosted();  // GUI thread only
void CountHostedByKind(int& files, int& folders);
size_t HostedCount();
bool AnyHostedInMode(ShareMode mode);

// Remove one item by row index; its archive, if any, is deleted at once (it
// stays readable for downloads under way). False (and nothing changed) when
// the index is not below the count. On success `removed` keeps the item alive for the caller
// and `internetLeft` is the number of remaining Internet items.
bool RemoveHostedAt(size_t index, std::shared_ptr<HostedItem>& removed, int& internetLeft);

// The url of item `index`, copied under the lock; empty when there is none.
std::string HostedUrlAt(size_t index);
// The newest item's url, copied under the lock; empty when there is none.
std::string LatestHostedUrl();

// For callers that already hold g_hostedMtx: append an item, whether a slug is
// taken (letter case counts), and a visit of every item in list order.
void AppendHosted_locked(std::shared_ptr<HostedItem> item);
bool SlugInUse_locked(const std::string& slug);
void ForEachHosted_locked(const std::function<void(HostedItem&)>& visit);
// Empties g_tunHost under g_hostedMtx; links are kept.
void ClearTunnelHost();

// Release and clear every element under the lock, deleting every archive at
// once as RemoveHostedAt does; items nobody else holds are destroyed right
// there.
void ClearHosted();
