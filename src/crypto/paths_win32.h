// Windows only: the access-control list WriteFileOwnerOnly gives its files,
// as raw ACL bytes (tests check it, since Wine does not keep a file's DACL).
#pragma once

#include <cstdint>
#include <vector>

namespace vh::paths {

bool OwnerOnlyAclBytes(std::vector<uint8_t>& out);

}  // namespace vh::paths
