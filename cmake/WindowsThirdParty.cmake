# Third-party code for the Windows build, all from Debian's own packages.
#
# CLI11 and nlohmann-json are header-only. Their Debian config files would add
# -isystem /usr/include and so bring Linux headers into a Windows build: stage a
# folder holding links to their two header folders alone, and define the targets.
set(stbup_staged_headers ${CMAKE_BINARY_DIR}/third_party/include)
file(MAKE_DIRECTORY ${stbup_staged_headers})
foreach(header_dir CLI nlohmann)
  if(NOT EXISTS ${stbup_staged_headers}/${header_dir})
    file(CREATE_LINK /usr/include/${header_dir} ${stbup_staged_headers}/${header_dir} SYMBOLIC)
  endif()
endforeach()
add_library(CLI11::CLI11 INTERFACE IMPORTED GLOBAL)
target_include_directories(CLI11::CLI11 SYSTEM INTERFACE ${stbup_staged_headers})
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED GLOBAL)
target_include_directories(nlohmann_json::nlohmann_json SYSTEM INTERFACE ${stbup_staged_headers})

# GoogleTest built from Debian's sources with the cross compiler. Added before the
# project's warning flags, which are not meant for it. It defines the GTest::
# targets itself.
if(BUILD_TESTING)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/third_party/googletest EXCLUDE_FROM_ALL)
endif()
