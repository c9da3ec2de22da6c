// The terminal program's command line:
//   vornhale share [--lan | --internet] [--link NAME] PATH...
//   vornhale --self-test | --help | --version
#pragma once

#include <string>
#include <vector>

#include "core/share_mode.h"
#include "text/slug.h"  // TrimSpacesTabs

enum class CommandKind { kShare, kSelfTest, kHelp, kVersion, kError };

struct ShareOptions {
  ShareMode mode = ShareMode::kInternet;  // the default, as in the window
  std::string customLink;  // as typed; trimmed by the caller
  std::vector<std::string> paths;
};

struct Command {
  CommandKind kind = CommandKind::kError;
  ShareOptions share;
  std::string error;  // for kError: what was wrong, one line
};

// args without the program name.
Command ParseCommandLine(const std::vector<std::string>& args);

// The --help text (ends with a newline).
std::string UsageText();

// The path as the window would hand it over: absolute, "." and ".." resolved
// lexically, no trailing separator (so "dir/" and "." name the folder
// itself). An empty argument stays empty (it names nothing).
std::string AbsoluteSharePath(const std::string& arg);
