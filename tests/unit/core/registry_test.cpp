#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/registry.h"
#include "net_client.h"

namespace {

std::shared_ptr<HostedItem> Insert(const std::string& slug, int mode = 1, const std::wstring& zip = {}) {
  auto item = std::make_shared<HostedItem>();
  item->slug = slug;
  item->mode = mode;
  item->isFolder = !zip.empty();
  item->path = item->tempZip = zip;
  if (!zip.empty()) item->fileHandle = OpenFileShareRead(zip);
  std::lock_guard<std::mutex> lock(g_hostedMtx);
  AppendHosted_locked(item);
  return item;
}

std::string Slugs() {
  std::string out;
  for (const auto& item : SnapshotHosted()) out += item->slug + " ";
  return out;
}

class Registry : public ::testing::Test {
 protected:
  void SetUp() override { ClearHosted(); }
  void TearDown() override { ClearHosted(); }
};

TEST_F(Registry, LookupsAreExactAndCaseSignificant) {
  auto lower = Insert("abc", 0);
  auto upper = Insert("ABC", 1);
  Insert("abcd", 0);
  for (const auto& [slug, want] : std::vector<std::pair<std::string, HostedItem*>>{
           {"abc", lower.get()}, {"ABC", upper.get()}, {"aBc", nullptr}, {"ab", nullptr},
           {"abc ", nullptr}, {"", nullptr}, {std::string("abc\0", 4), nullptr}}) {
    EXPECT_EQ(FindHostedBySlug(slug).get(), want) << slug;
    std::lock_guard<std::mutex> lock(g_hostedMtx);
    EXPECT_EQ(SlugInUse_locked(slug), want != nullptr) << slug;
  }
  EXPECT_TRUE(AnyHostedInMode(0));
  upper->url = "u";
  EXPECT_EQ(HostedUrlAt(1), "u");
  EXPECT_EQ(HostedUrlAt(3), "");
  EXPECT_EQ(LatestHostedUrl(), "");
}

TEST_F(Registry, RemoveOneKeepsOrderAndCountsInternetItems) {
  for (const char* slug : {"lan1", "net1", "lan2", "net2"}) Insert(slug, slug[0] == 'n' ? 0 : 1);
  const struct {
    size_t index;
    const char* removed;  // nullptr: stale index, nothing changes
    int internetLeft;
    const char* after;
  } steps[] = {{4, nullptr, 0, "lan1 net1 lan2 net2 "}, {1, "net1", 1, "lan1 lan2 net2 "},
               {2, "net2", 0, "lan1 lan2 "},           {2, nullptr, 0, "lan1 lan2 "},
               {0, "lan1", 0, "lan2 "},                {0, "lan2", 0, ""},
               {0, nullptr, 0, ""}};
  for (const auto& s : steps) {
    std::shared_ptr<HostedItem> removed;
    int internetLeft = -1;
    ASSERT_EQ(RemoveHostedAt(s.index, removed, internetLeft), s.removed != nullptr) << s.index;
    EXPECT_EQ(removed ? removed->slug : "", s.removed ? s.removed : "");
    if (s.removed) {
      EXPECT_EQ(internetLeft, s.internetLeft);
    }
    EXPECT_EQ(Slugs(), s.after);
  }
}

// Destruction closes the lock before deleting the archive (on Windows the lock
// keeps deleters out, so the other order would leave the archive behind), and
// happens only when the last holder lets go.
TEST_F(Registry, ItemsReleaseTheirFilesWithTheLastReference) {
  TempDir dir;
  const std::wstring zipA = dir.Write(L"a_1.zip", "PK"), zipB = dir.Write(L"b_2.zip", "PK");
  Insert("aaa", 1, zipA);
  std::shared_ptr<HostedItem> held = Insert("bbb", 1, zipB);  // a connection still using it
  auto plain = Insert("ccc");
  int files = -1, folders = -1;
  CountHostedByKind(files, folders);
  EXPECT_EQ(files * 10 + folders, 12);
  EXPECT_EQ(LatestHosted(), plain);
  plain.reset();

  std::shared_ptr<HostedItem> removed;
  int internetLeft = 0;
  ASSERT_TRUE(RemoveHostedAt(0, removed, internetLeft));
  EXPECT_TRUE(PathExists(zipA));  // the remover's copy keeps it
  removed.reset();
  EXPECT_FALSE(PathExists(zipA));
  ClearHosted();
  EXPECT_EQ(HostedCount(), 0u);
  EXPECT_TRUE(PathExists(zipB));
  held.reset();
  EXPECT_FALSE(PathExists(zipB));
}

}  // namespace
