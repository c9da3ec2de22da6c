# Third-party libraries: Debian's packages natively, the cross-built copies in
# .cache/win64 for Windows (scripts/bootstrap.sh builds them).
if(WIN32)
  find_path(VH_SODIUM_INCLUDE sodium.h REQUIRED)
  find_library(VH_SODIUM_LIB NAMES libsodium.a sodium REQUIRED)
  find_path(VH_QR_INCLUDE qrcodegen/qrcodegen.hpp REQUIRED)
  find_library(VH_QR_LIB NAMES libqrcodegencpp.a qrcodegencpp REQUIRED)
  add_library(vh_deps INTERFACE)
  target_include_directories(vh_deps INTERFACE ${VH_SODIUM_INCLUDE} ${VH_QR_INCLUDE})
  target_link_libraries(vh_deps INTERFACE ${VH_QR_LIB} ${VH_SODIUM_LIB}
    ws2_32 iphlpapi winhttp bcrypt advapi32 shell32 ole32 user32 gdi32 comctl32 comdlg32 shlwapi)
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(SODIUM REQUIRED IMPORTED_TARGET libsodium)
  pkg_check_modules(CURL REQUIRED IMPORTED_TARGET libcurl)
  pkg_check_modules(CRYPTO REQUIRED IMPORTED_TARGET libcrypto)
  find_path(VH_QR_INCLUDE qrcodegen/qrcodegen.hpp REQUIRED)
  find_library(VH_QR_LIB NAMES libqrcodegencpp.a qrcodegencpp REQUIRED)
  find_package(Threads REQUIRED)
  add_library(vh_deps INTERFACE)
  target_include_directories(vh_deps INTERFACE ${VH_QR_INCLUDE})
  target_link_libraries(vh_deps INTERFACE ${VH_QR_LIB} PkgConfig::SODIUM PkgConfig::CURL
    PkgConfig::CRYPTO Threads::Threads)
endif()
