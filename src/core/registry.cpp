#include "core/registry.h"

#include <utility>

namespace {
// Allocated once and never destroyed: detached connection threads may still
// look an item up while the process ends, after static destructors have
// begun. The front ends empty the registry (ClearHosted) before they return;
// that is when the remaining items close their files and delete their
// archives.
std::vector<std::shared_ptr<HostedItem>>& g_hosted = *new std::vector<std::shared_ptr<HostedItem>>;
std::mutex& g_hostedMtx = *new std::mutex;  // guards g_hosted, g_tunHost, items' mode and url
std::string& g_tunHost = *new std::string;  // "https://host" of the tunnel, empty while none is known

// An item leaving the registry takes its archive with it at once, even while a
// download still reads it (through its own handle): so no archive outlives
// its share, also when the program ends before that download does.
void DropArchive(const HostedItem& item) {
  if (!item.tempZip.empty()) DeleteHeldFile(item.fileHandle.get(), item.tempZip);
}
}  // namespace

// An item that never entered the registry (a refused share) takes its archive
// here; for one that left it, the archive is gone already and this finds nothing.
HostedItem::~HostedItem() { DropArchive(*this); }

std::shared_ptr<HostedItem> FindHostedBySlug(const std::string& slug) {
  std::lock_guard<std::mutex> lock(g_hostedMtx);
  for (const auto& item : g_hosted) {
    if (item->slug == slug) return item;
  }
  return nullptr;
}

std::shared_ptr<HostedItem> LatestHosted() {
  std::lock_guard<std::mutex> lock(g_hostedMtx);
  if (g_hosted.empty()) return nullptr;
  return g_hosted.back();
}

std::vector<std::shared_ptr<HostedItem>> SnapshotHosted() {
  std::lock_guard<std::mutex> lock(g_hostedMtx);
  return g_hosted;
}

void CountHostedByKind(int& files, int& folders) {
  files = 0;
  folders = 0;
  std::lock_guard<std::mutex> lock(g_hostedMtx);
  for (const auto& item : g_hosted) {
    if (item->isFolder)
      ++folders;
    else
      ++files;
  }
}

size_t HostedCount() {
  std::lock_guard<std::mutex> lock(g_hostedMtx);
  return g_hosted.size();
}

bool AnyHostedInMode(ShareMode mode) {
  std::lock_guard<std::mutex> lock(g_hostedMtx);
  for (const auto& item : g_hosted) {
    if (item->mode == mode) return true;
  }
  return false;
}

bool RemoveHostedAt(size_t index, std::shared_ptr<HostedItem>& removed, int& internetLeft) {
  {
    std::lock_guard<std::mutex> lock(g_hostedMtx);
    if (index >= g_hosted.size()) return false;
    removed = g_hosted[index];
    g_hosted.erase(g_hosted.begin() + static_cast<std::ptrdiff_t>(index));
    internetLeft = 0;
    for (const auto& item : g_hosted) {
      if (item->mode == ShareMode::kInternet) ++internetLeft;
    }
  }
  DropArchive(*removed);
  return true;
}

std::string HostedUrlAt(size_t index) {
  std::lock_guard<std::mutex> lock(g_hostedMtx);
  return index < g_hosted.size() ? g_hosted[index]->url : std::string();
}

std::string LatestHostedUrl() {
  std::lock_guard<std::mutex> lock(g_hostedMtx);
  return g_hosted.empty() ? std::string() : g_hosted.back()->url;
}

std::string TunnelHost() {
  std::lock_guard<std::mutex> lock(g_hostedMtx);
  return g_tunHost;
}

void WithHostedLocked(const std::function<void(HostedLock&)>& step) {
  std::lock_guard<std::mutex> guard(g_hostedMtx);
  HostedLock lock;
  step(lock);
}

void AppendHosted_locked(HostedLock&, std::shared_ptr<HostedItem> item) {
  g_hosted.push_back(std::move(item));
}

bool SlugInUse_locked(const HostedLock&, const std::string& slug) {
  for (const auto& item : g_hosted) {
    if (item->slug == slug) return true;
  }
  return false;
}

void ForEachHosted_locked(HostedLock&, const std::function<void(HostedItem&)>& visit) {
  for (const auto& item : g_hosted) visit(*item);
}

const std::string& TunnelHost_locked(const HostedLock&) { return g_tunHost; }

void SetTunnelHost_locked(HostedLock&, std::string host) { g_tunHost = std::move(host); }

void ClearTunnelHost() {
  std::lock_guard<std::mutex> lock(g_hostedMtx);
  g_tunHost.clear();
}

void ClearHosted() {
  std::vector<std::shared_ptr<HostedItem>> taken;
  {
    std::lock_guard<std::mutex> lock(g_hostedMtx);
    taken.swap(g_hosted);
  }
  for (const auto& item : taken) DropArchive(*item);
}
