#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/registry.h"
#include "net_client.h"

namespace {

std::shared_ptr<HostedItem> Insert(const std::string& slug, bool isFolder = false, int mode = 1) {
  auto item = std::make_shared<HostedItem>();
  item->slug = slug;
  item->name = slug + ".txt";
  item->isFolder = isFolder;
  item->mode = mode;
  std::lock_guard<std::mutex> lock(g_hostedMtx);
  g_hosted.push_back(item);
  return item;
}

std::vector<std::string> Slugs() {
  std::vector<std::string> out;
  for (const auto& item : SnapshotHosted()) out.push_back(item->slug);
  return out;
}

class Registry : public ::testing::Test {
 protected:
  void SetUp() override { ClearHosted(); }
  void TearDown() override { ClearHosted(); }
};

TEST_F(Registry, FindBySlugIsExactAndCaseSignificant) {
  auto lower = Insert("abc");
  auto upper = Insert("ABC");
  Insert("abcd");
  const struct {
    std::string slug;
    HostedItem* expected;
  } cases[] = {
      {"abc", lower.get()}, {"ABC", upper.get()}, {"aBc", nullptr},  {"ab", nullptr},
      {"abc ", nullptr},    {"", nullptr},        {std::string("abc\0", 4), nullptr},
  };
  for (const auto& c : cases) EXPECT_EQ(FindHostedBySlug(c.slug).get(), c.expected) << c.slug;
}

TEST_F(Registry, LatestSnapshotAndCounts) {
  EXPECT_EQ(LatestHosted(), nullptr);
  EXPECT_EQ(HostedCount(), 0u);
  Insert("one");
  Insert("two", true);
  auto three = Insert("three");
  EXPECT_EQ(LatestHosted(), three);
  int files = -1, folders = -1;
  CountHostedByKind(files, folders);
  EXPECT_EQ(files, 2);
  EXPECT_EQ(folders, 1);

  const auto snap = SnapshotHosted();
  Insert("four");
  EXPECT_EQ(snap.size(), 3u);  // a copy, not a view
  EXPECT_EQ(HostedCount(), 4u);
  EXPECT_EQ(Slugs(), (std::vector<std::string>{"one", "two", "three", "four"}));
}

TEST_F(Registry, RemoveOneKeepsOrderAndCountsInternetItems) {
  Insert("lan1", false, 1);
  Insert("net1", false, 0);
  Insert("lan2", false, 1);
  Insert("net2", false, 0);
  const struct {
    size_t index;
    bool removed;
    std::string slug;
    int internetLeft;
    std::vector<std::string> after;
  } steps[] = {
      {4, false, "", -1, {"lan1", "net1", "lan2", "net2"}},  // stale index: nothing changes
      {1, true, "net1", 1, {"lan1", "lan2", "net2"}},
      {2, true, "net2", 0, {"lan1", "lan2"}},
      {2, false, "", -1, {"lan1", "lan2"}},
      {0, true, "lan1", 0, {"lan2"}},
      {0, true, "lan2", 0, {}},
      {0, false, "", -1, {}},
  };
  for (const auto& s : steps) {
    std::shared_ptr<HostedItem> removed;
    int internetLeft = -1;
    EXPECT_EQ(RemoveHostedAt(s.index, removed, internetLeft), s.removed) << s.index;
    if (s.removed) {
      ASSERT_NE(removed, nullptr);
      EXPECT_EQ(removed->slug, s.slug);
      EXPECT_EQ(internetLeft, s.internetLeft);
      EXPECT_EQ(FindHostedBySlug(s.slug), nullptr);
    } else {
      EXPECT_EQ(removed, nullptr);
    }
    EXPECT_EQ(Slugs(), s.after);
  }
}

// Destruction closes the lock before deleting the archive (on Windows the lock
// keeps deleters out, so the other order would leave the archive behind), and
// happens only when the last holder lets go.
TEST_F(Registry, ItemsReleaseTheirFilesWithTheLastReference) {
  TempDir dir;
  const std::wstring zipA = dir.Write(L"a_1.zip", "PK");
  const std::wstring zipB = dir.Write(L"b_2.zip", "PK");
  const std::wstring plain = dir.Write(L"plain.txt", "x");
  for (const auto& [slug, path, folder] :
       {std::tuple{"aaa", zipA, true}, std::tuple{"bbb", zipB, true},
        std::tuple{"ccc", plain, false}}) {
    auto item = Insert(slug, folder);
    item->path = path;
    item->tempZip = folder ? path : std::wstring();
    item->fileHandle = OpenFileShareRead(path);
    ASSERT_NE(item->fileHandle, kInvalidFileHandle);
  }

  std::shared_ptr<HostedItem> held = FindHostedBySlug("bbb");  // a connection still using it
  std::shared_ptr<HostedItem> removed;
  int internetLeft = 0;
  ASSERT_TRUE(RemoveHostedAt(0, removed, internetLeft));
  EXPECT_TRUE(PathExists(zipA));  // the remover's copy keeps it
  removed.reset();
  EXPECT_FALSE(PathExists(zipA));

  ClearHosted();
  EXPECT_EQ(HostedCount(), 0u);
  EXPECT_TRUE(PathExists(zipB));
  EXPECT_TRUE(PathExists(plain));  // plain files are never deleted
  held.reset();
  EXPECT_FALSE(PathExists(zipB));
  EXPECT_TRUE(PathExists(plain));
}

TEST_F(Registry, ItemDroppedBeforeInsertionDeletesItsArchive) {
  TempDir dir;
  const std::wstring zip = dir.Write(L"never_3.zip", "PK");
  {
    auto item = std::make_shared<HostedItem>();
    EXPECT_EQ(item->fileHandle, kInvalidFileHandle);
    EXPECT_EQ(item->downloads.load(), 0);
    item->tempZip = zip;
    item->fileHandle = OpenFileShareRead(zip);
  }
  EXPECT_FALSE(PathExists(zip));
}

}  // namespace
