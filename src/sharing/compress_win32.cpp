#include "sharing/compress.h"

std::wstring CompressorCommandLine(const std::wstring& folder, const std::wstring& archive) {
  return PowerShellCompressCommand();  // the paths travel in CompressorEnvironment
}
