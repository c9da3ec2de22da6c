# Third-party libraries: Debian's packages natively, the cross-built copies in
# .cache/win64 for Windows (scripts/bootstrap.sh builds them).
if(WIN32)
  find_path(VH_SODIUM_INCLUDE sodium.h REQUIRED)
  find_library(VH_SODIUM_LIB NAMES libsodium.a sodium REQUIRED)
  find_path(VH_QR_INCLUDE qrcodegen/qrcodegen.hpp REQUIRED)
  find_library(VH_QR_LIB NAMES libqrcodegencpp.a qrcodegencpp REQUIRED)
  # System DLLs that are not KnownDLLs are delay-loaded: Windows would look for
  # them beside the program first, while the program, once started, loads
  # them from System32 only (SetDefaultDllDirectories). Each delay-import
  # library is made by dlltool from a .def listing every name the Windows
  # import library exports.
  find_program(VH_NM x86_64-w64-mingw32-nm REQUIRED)
  find_program(VH_DLLTOOL x86_64-w64-mingw32-dlltool REQUIRED)
  set(delay_dir ${CMAKE_BINARY_DIR}/delay-import)
  file(MAKE_DIRECTORY ${delay_dir})
  set(delay_libs)
  foreach(dll bcrypt iphlpapi winhttp)
    find_library(VH_${dll}_IMPORT lib${dll}.a REQUIRED)
    execute_process(COMMAND ${VH_NM} -g --defined-only ${VH_${dll}_IMPORT} OUTPUT_VARIABLE syms
                    COMMAND_ERROR_IS_FATAL ANY)
    string(REGEX MATCHALL "__imp_[A-Za-z0-9_]+" names "${syms}")
    string(REPLACE "__imp_" "" names "${names}")
    list(REMOVE_DUPLICATES names)
    list(SORT names)
    list(JOIN names "\n" exports)
    file(WRITE ${delay_dir}/${dll}.def "LIBRARY ${dll}.dll\nEXPORTS\n${exports}\n")
    execute_process(COMMAND ${VH_DLLTOOL} -d ${dll}.def -D ${dll}.dll -y lib${dll}_delay.a -t vh_${dll}
                    WORKING_DIRECTORY ${delay_dir} COMMAND_ERROR_IS_FATAL ANY)
    list(APPEND delay_libs ${delay_dir}/lib${dll}_delay.a)
  endforeach()
  add_library(vh_deps INTERFACE)
  target_include_directories(vh_deps INTERFACE ${VH_SODIUM_INCLUDE} ${VH_QR_INCLUDE})
  target_link_libraries(vh_deps INTERFACE ${VH_QR_LIB} ${VH_SODIUM_LIB} ${delay_libs}
    ws2_32 advapi32 shell32 ole32 user32 gdi32 comctl32 comdlg32 shlwapi)
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(SODIUM REQUIRED IMPORTED_TARGET libsodium)
  pkg_check_modules(CURL REQUIRED IMPORTED_TARGET libcurl)
  pkg_check_modules(CRYPTO REQUIRED IMPORTED_TARGET libcrypto)
  pkg_check_modules(ARCHIVE REQUIRED IMPORTED_TARGET libarchive)
  find_path(VH_QR_INCLUDE qrcodegen/qrcodegen.hpp REQUIRED)
  find_library(VH_QR_LIB NAMES libqrcodegencpp.a qrcodegencpp REQUIRED)
  find_package(Threads REQUIRED)
  add_library(vh_deps INTERFACE)
  target_include_directories(vh_deps INTERFACE ${VH_QR_INCLUDE})
  target_link_libraries(vh_deps INTERFACE ${VH_QR_LIB} PkgConfig::SODIUM PkgConfig::CURL
    PkgConfig::CRYPTO Threads::Threads)
endif()
