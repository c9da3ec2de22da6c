# Byte-identical builds of the same commit, wherever the checkout and the
# build folder live. Included before the targets are defined, so the archive
# rules and link options below reach every target.

# Neither the source nor the build folder (generated files) leaves its path
# in the objects.
add_compile_options(-ffile-prefix-map=${CMAKE_BINARY_DIR}/=)
# No build dates or times in the code.
add_compile_options(-Werror=date-time)

# Static archives without dates, owners or modes (ar's D modifier).
foreach(lang C CXX)
  set(CMAKE_${lang}_ARCHIVE_CREATE "<CMAKE_AR> qcD <TARGET> <LINK_FLAGS> <OBJECTS>")
  set(CMAKE_${lang}_ARCHIVE_APPEND "<CMAKE_AR> qD <TARGET> <LINK_FLAGS> <OBJECTS>")
  set(CMAKE_${lang}_ARCHIVE_FINISH "<CMAKE_RANLIB> -D <TARGET>")
endforeach()

if(WIN32)
  # The PE header's link time stays zero.
  add_link_options(-Wl,--no-insert-timestamp)
endif()
