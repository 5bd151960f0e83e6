# make deb: build/stbup_<version>_amd64.deb through CPack's DEB generator.
# Besides the two programs (installed where they are built) and the window's
# desktop entry and icon, it holds the manual pages, bash completion, the udev
# rule for USB serial adapters, and the README, copyright and changelog Debian
# wants under /usr/share/doc/stbup. Dependencies are those of the shared
# libraries the programs link (dpkg-shlibdeps), so they follow what is linked.
set(packaging_source ${PROJECT_SOURCE_DIR}/packaging/linux)
set(packaging_build ${PROJECT_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${packaging_build})

# Debian wants a mail address with a routable host here; example.org stands
# in until the project has an address of its own.
set(STBUP_PACKAGE_MAINTAINER "stbup developers <stbup@example.org>"
    CACHE STRING "The Maintainer field of the Debian package")

# The copyright file in Debian's machine-readable form, its licence text taken
# from LICENSE so the two never disagree.
file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE licence_lines)
list(GET licence_lines 2 licence_copyright)
string(REGEX REPLACE "^Copyright \\(c\\) " "" licence_copyright "${licence_copyright}")
list(SUBLIST licence_lines 3 -1 licence_body)
set(copyright_text "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n")
string(APPEND copyright_text "Upstream-Name: stbup\n\nFiles: *\nCopyright: ${licence_copyright}\n")
string(APPEND copyright_text "License: Expat\n")
set(leading_blank ON)
foreach(line IN LISTS licence_body)
  if(line STREQUAL "")
    if(NOT leading_blank)
      string(APPEND copyright_text " .\n")
    endif()
  else()
    set(leading_blank OFF)
    string(APPEND copyright_text " ${line}\n")
  endif()
endforeach()
file(WRITE ${packaging_build}/copyright "${copyright_text}")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)

# A native package's changelog: one entry for this version, dated from
# SOURCE_DATE_EPOCH when set so that builds repeat.
string(TIMESTAMP changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${packaging_source}/changelog.in ${packaging_build}/changelog @ONLY)

# Manual pages and the changelog are shipped compressed, as Debian wants them.
find_program(GZIP_PROGRAM gzip REQUIRED)
set(packaging_gz)
foreach(source IN ITEMS ${packaging_source}/stbup.1 ${packaging_source}/stbup-gui.1
                        ${packaging_build}/changelog)
  get_filename_component(name ${source} NAME)
  add_custom_command(
    OUTPUT ${packaging_build}/${name}.gz
    COMMAND ${GZIP_PROGRAM} -9nc ${source} > ${packaging_build}/${name}.gz
    DEPENDS ${source}
    VERBATIM)
  list(APPEND packaging_gz ${packaging_build}/${name}.gz)
endforeach()
add_custom_target(stbup_packaging_files ALL DEPENDS ${packaging_gz})

install(FILES ${packaging_build}/stbup.1.gz ${packaging_build}/stbup-gui.1.gz
        DESTINATION share/man/man1)
install(FILES ${packaging_source}/stbup.bash-completion DESTINATION share/bash-completion/completions
        RENAME stbup)
install(FILES ${packaging_source}/60-stbup-serial.rules DESTINATION lib/udev/rules.d)
install(FILES README.md DESTINATION share/doc/stbup)
install(FILES ${packaging_build}/copyright ${packaging_build}/changelog.gz
        DESTINATION share/doc/stbup)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME stbup)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${STBUP_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "firmware upgrades of set-top boxes over a serial line
stbup upgrades the firmware of digital set-top boxes over a serial line: the
box's boot loader leads the dialogue, stbup answers every request from the
firmware image, refuses images that do not fit the box before any data moves,
and shows the whole exchange as a log, two progress bars and a status banner.
.
The package holds the operator's window (stbup-gui), the command line (stbup)
for production lines and scripts, and a udev rule that keeps ModemManager off
common USB serial adapters and sets FTDI adapters' latency timer to 1 ms.")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${packaging_source}/postinst ${packaging_source}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
