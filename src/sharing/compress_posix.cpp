#include "sharing/compress.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/text.h"
#include "sharing/archive.h"

namespace {

// The archive of an empty folder: only the end-of-central-directory record
// (zip refuses to write an archive with nothing in it), as printf(1) octal
// escapes.
constexpr const wchar_t kEmptyZipEscaped[] =
    L"PK\\005\\006\\0\\0\\0\\0\\0\\0\\0\\0\\0\\0\\0\\0\\0\\0\\0\\0\\0\\0";

// What goes into the archive, as paths relative to the folder.
struct FolderListing {
  std::string root;                // the folder with every link resolved
  std::string names;               // for zip -@: one name a line
  std::vector<std::string> lined;  // names holding CR or LF, which a line cannot carry
  size_t count = 0;
  struct stat archive {};          // the archive itself, never read into itself
};

bool IsUtf8(const std::string& s) { return WstrToUtf8(Utf8ToWstr(s)) == s; }

void Add(FolderListing& l, const std::string& name) {
  if (name.find_first_of("\r\n") == std::string::npos) {
    l.names += name;
    l.names.push_back('\n');
    ++l.count;
  } else if (IsUtf8(name)) {  // the command line is UTF-8 text
    l.lined.push_back("./" + name);
    ++l.count;
  }
}

// A link is archived as a copy of what it points at only when that is a
// regular file inside the folder; links out of it, to folders (which could
// loop) and to nothing are left out.
bool LinkStaysInside(const FolderListing& l, const std::string& full) {
  char resolved[PATH_MAX];
  if (::realpath(full.c_str(), resolved) == nullptr) return false;
  struct stat st {};
  if (::stat(resolved, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  if (st.st_dev == l.archive.st_dev && st.st_ino == l.archive.st_ino) return false;
  const std::string target(resolved);
  const std::string prefix = l.root == "/" ? l.root : l.root + "/";
  return target.compare(0, prefix.size(), prefix) == 0;
}

void ListFolder(FolderListing& l, const std::string& dirPath, const std::string& rel) {
  DIR* dir = ::opendir(dirPath.c_str());
  if (!dir) return;  // zip then stores the folder's own entry only
  while (const dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    const std::string full = dirPath + "/" + name;
    const std::string relName = rel.empty() ? name : rel + "/" + name;
    struct stat st {};
    if (::lstat(full.c_str(), &st) != 0) continue;
    if (st.st_dev == l.archive.st_dev && st.st_ino == l.archive.st_ino) continue;
    if (S_ISDIR(st.st_mode)) {
      Add(l, relName);
      ListFolder(l, full, relName);
    } else if (S_ISREG(st.st_mode)) {
      Add(l, relName);
    } else if (S_ISLNK(st.st_mode)) {
      if (LinkStaysInside(l, full)) {
        Add(l, relName);  // zip follows it: the file's bytes under the link's name
      } else if (g_reportLeftOutLink) {
        g_reportLeftOutLink(relName);
      }
    }
    // FIFOs, sockets and devices hold no content to archive.
  }
  ::closedir(dir);
}

bool WriteNewFile(const std::string& path, const std::string& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  const bool ok = done == bytes.size();
  ::close(fd);
  if (!ok) ::unlink(path.c_str());
  return ok;
}

}  // namespace

// zip reads the names to store from the list (never recursing, never storing
// a link as a link, no wildcards) and writes the archive to its standard
// output, which the shell opens at the destination: a forced end then leaves
// nothing but the destination file (zip's own temporary file would stay next
// to it otherwise). The shell removes the list as soon as it has it open.
std::vector<std::wstring> CompressorArguments(const std::wstring& folder, const std::wstring& archive) {
  FolderListing listing;
  const std::string folderUtf8 = WstrToUtf8(folder);
  char resolved[PATH_MAX];
  ::stat(WstrToUtf8(archive).c_str(), &listing.archive);  // it exists (made empty before)
  if (::realpath(folderUtf8.c_str(), resolved) != nullptr) {
    listing.root = resolved;
    ListFolder(listing, listing.root, std::string());
  }
  if (listing.count == 0 && !listing.root.empty()) {
    const std::wstring script = std::wstring(L"printf '") + kEmptyZipEscaped + L"' > \"$0\"";
    return {L"/bin/sh", L"-c", script, archive};
  }
  // The list's name follows from the archive's, which this instance holds
  // exclusively: anything there is a leftover of an ended run.
  const std::wstring list = archive + L".names";
  const std::string listUtf8 = WstrToUtf8(list);
  ::unlink(listUtf8.c_str());
  WriteNewFile(listUtf8, listing.names);  // when this fails the shell reports it
  static const wchar_t kScript[] =
      L"d=$0 a=$1 l=$2; shift 2; exec < \"$l\" && rm -f -- \"$l\" && cd -- \"$d\" && "
      L"exec zip -q -nw -@ - \"$@\" > \"$a\"";
  std::vector<std::wstring> args{L"/bin/sh", L"-c", kScript, folder, archive, list};
  for (const std::string& name : listing.lined) args.push_back(Utf8ToWstr(name));
  return args;
}
