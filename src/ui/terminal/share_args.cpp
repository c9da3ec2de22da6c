#include "share_args.h"

#include <filesystem>
#include <system_error>

namespace {

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

Command Error(const std::string& text) {
  Command c;
  c.kind = CommandKind::kError;
  c.error = text;
  return c;
}

}  // namespace

Command ParseCommandLine(const std::vector<std::string>& args) {
  Command c;
  if (args.empty()) return Error("nothing to do");
  const std::string& first = args[0];
  if (first == "--self-test") {
    c.kind = CommandKind::kSelfTest;
    return c;
  }
  if (first == "--help" || first == "-h") {
    c.kind = CommandKind::kHelp;
    return c;
  }
  if (first == "--version") {
    c.kind = CommandKind::kVersion;
    return c;
  }
  if (first != "share") return Error("unknown command: " + first);

  c.kind = CommandKind::kShare;
  bool modeSeen = false;
  bool linkSeen = false;
  bool optionsEnded = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (optionsEnded || a.empty() || a[0] != '-' || a == "-") {
      c.share.paths.push_back(a);
    } else if (a == "--") {
      optionsEnded = true;
    } else if (a == "--lan" || a == "--internet") {
      const ShareMode mode = a == "--lan" ? ShareMode::kLan : ShareMode::kInternet;
      if (modeSeen && mode != c.share.mode) return Error("choose either --lan or --internet");
      modeSeen = true;
      c.share.mode = mode;
    } else if (a == "--link" || StartsWith(a, "--link=")) {
      if (linkSeen) return Error("--link given twice");
      linkSeen = true;
      if (a == "--link") {
        if (i + 1 >= args.size()) return Error("--link needs a name");
        c.share.customLink = args[++i];
      } else {
        c.share.customLink = a.substr(7);
      }
    } else {
      return Error("unknown option: " + a);
    }
  }
  if (c.share.paths.empty()) return Error("share needs at least one path");
  return c;
}

std::string UsageText() {
  return "usage: vornhale share [--lan | --internet] [--link NAME] PATH...\n"
         "       vornhale --self-test | --help | --version\n"
         "\n"
         "Shares up to 3 files or 1 folder through a link until Ctrl-C.\n"
         "  --internet   public link through a Cloudflare quick tunnel (default;\n"
         "               needs cloudflared next to vornhale or on PATH, else the\n"
         "               link is a LAN link)\n"
         "  --lan        link for devices on the same network\n"
         "  --link NAME  custom link for a single path (3 to 32 letters, digits,\n"
         "               hyphens or underscores)\n"
         "\n"
         "Each link is printed with a QR code; when standard output is a terminal\n"
         "the newest link is also put on the clipboard with the terminal's OSC 52\n"
         "sequence (\"Link copied to clipboard.\"). A table of what is hosted follows\n"
         "each change, at most once a second.\n"
         "\n"
         "A path that cannot be shared is named on standard error as\n"
         "\"vornhale: skipped PATH: REASON\": one that does not exist, a FIFO, socket\n"
         "or device, or a name that is not valid UTF-8. Control characters and\n"
         "invalid bytes in anything printed from outside are shown as \\xHH.\n"
         "\n"
         "A folder is shared as a zip archive that vornhale writes itself, kept in\n"
         "$TMPDIR/vornhale-UID (/tmp when TMPDIR is not set) and deleted when sharing\n"
         "stops. Entries are stored under the folder's name with UTF-8 names. The\n"
         "folder is read without following links on the way; a link inside it to a\n"
         "file inside it is stored as a copy of that file. Everything left out is\n"
         "named as above: links leading outside the folder, to a folder or nowhere,\n"
         "files that cannot be read or that change while they are read, FIFOs,\n"
         "sockets and devices, names that are not valid UTF-8, and paths more than\n"
         "128 folders deep or longer than 4095 bytes. An archive larger than 1 GB\n"
         "is refused. While archiving, standard error shows the files and bytes\n"
         "read when it is a terminal. Ctrl-C or SIGTERM stops all sharing, also\n"
         "while a folder is being archived; the partial archive is deleted.\n";
}

std::string AbsoluteSharePath(const std::string& arg) {
  if (arg.empty()) return arg;
  std::error_code ec;
  std::filesystem::path p = std::filesystem::absolute(std::filesystem::path(arg), ec);
  if (ec) return arg;
  p = p.lexically_normal();
  // "dir/" normalises to "dir/" (an empty last element): drop it, but keep a root.
  while (!p.has_filename() && p.has_relative_path()) p = p.parent_path();
  return p.string();
}
