# The programs as they are shipped: the version number (the project's) in the
# desktop program, the terminal program's manual page and install layout, and
# the desktop program's link map for the release notices. Included at the end
# of the top CMakeLists.txt, once the targets exist.
include(GNUInstallDirs)

if(WIN32 AND TARGET vornhale)
  target_compile_definitions(vornhale PRIVATE VH_VERSION="${PROJECT_VERSION}")
  # Symbols stripped from the shipped program; the map names every archive
  # the link took members from (scripts/release.sh turns it into notices).
  target_link_options(vornhale PRIVATE
    $<$<CONFIG:Release>:-s> -Wl,-Map=${CMAKE_BINARY_DIR}/vornhale.map)
elseif(TARGET vornhale AND NOT CMAKE_CROSSCOMPILING)
  # The manual page comes from what the built program prints for --help.
  add_custom_command(
    OUTPUT ${CMAKE_BINARY_DIR}/vornhale.1
    COMMAND sh ${CMAKE_SOURCE_DIR}/cmake/help_to_man.sh $<TARGET_FILE:vornhale>
            ${PROJECT_VERSION} ${CMAKE_BINARY_DIR}/vornhale.1
    DEPENDS vornhale ${CMAKE_SOURCE_DIR}/cmake/help_to_man.sh
    COMMENT "Manual page vornhale.1 from vornhale --help")
  add_custom_target(vh_man_page ALL DEPENDS ${CMAKE_BINARY_DIR}/vornhale.1)

  install(TARGETS vornhale RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${CMAKE_BINARY_DIR}/vornhale.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

if(VH_BUILD_TESTS)
  add_subdirectory(tests/release)
endif()
