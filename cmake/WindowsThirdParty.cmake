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

# SQLite and libpq for the records, made from Debian's source packages by
# scripts/windows-third-party (once per build folder; the versions are pinned
# there), and linked statically: the programs import only system DLLs.
set(stbup_records_third_party ${CMAKE_BINARY_DIR}/third_party/records)
execute_process(COMMAND ${PROJECT_SOURCE_DIR}/scripts/windows-third-party ${stbup_records_third_party}
                RESULT_VARIABLE stbup_third_party_result)
if(NOT stbup_third_party_result EQUAL 0)
  message(FATAL_ERROR "SQLite and libpq for Windows could not be made (scripts/windows-third-party)")
endif()
file(STRINGS ${PROJECT_SOURCE_DIR}/scripts/windows-third-party stbup_pins REGEX "^[a-z]+_package=")
string(REGEX REPLACE ".*sqlite_package=([^;]*).*" "\\1" stbup_sqlite_package "${stbup_pins}")
string(REGEX REPLACE ".*postgresql_package=([^;]*).*" "\\1" stbup_postgresql_package "${stbup_pins}")
set(STBUP_RECORDS_LIBRARY_SOURCES
    "built from the Debian source packages sqlite3 ${stbup_sqlite_package} and postgresql-15 ${stbup_postgresql_package}")

# The amalgamation as one C file of its own, with SQLite's own warnings left
# to SQLite; threads serialised by SQLite, as each database handle here is.
enable_language(C)
add_library(stbup_sqlite3 STATIC ${stbup_records_third_party}/sqlite/sqlite3.c)
target_include_directories(stbup_sqlite3 SYSTEM PUBLIC ${stbup_records_third_party}/sqlite)
target_compile_definitions(stbup_sqlite3 PRIVATE SQLITE_THREADSAFE=1 SQLITE_OMIT_LOAD_EXTENSION
                                                 SQLITE_DEFAULT_FOREIGN_KEYS=0)
target_compile_options(stbup_sqlite3 PRIVATE -w)
add_library(SQLite::SQLite3 ALIAS stbup_sqlite3)

set(stbup_libpq_lib ${stbup_records_third_party}/libpq/lib)
add_library(PostgreSQL::PostgreSQL STATIC IMPORTED GLOBAL)
set_target_properties(PostgreSQL::PostgreSQL PROPERTIES
  IMPORTED_LOCATION ${stbup_libpq_lib}/libpq.a
  INTERFACE_INCLUDE_DIRECTORIES ${stbup_records_third_party}/libpq/include
  # What libpq's own Windows build links: sockets, SSPI, the shell's folders.
  INTERFACE_LINK_LIBRARIES
    "${stbup_libpq_lib}/libpgcommon.a;${stbup_libpq_lib}/libpgport.a;ws2_32;secur32;shell32;advapi32")
