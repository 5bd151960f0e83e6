# The Windows installer, beside the release zip: NSIS through CPack (Debian's
# makensis). It installs stbup.exe and stbup-gui.exe, a Start-menu shortcut to
# the window and an uninstaller; both run silently with /S.
#
# Include before include(CPack), with STBUP_GUI_ICON naming stbup-gui.ico.
list(APPEND CPACK_GENERATOR NSIS)
set(CPACK_NSIS_PACKAGE_NAME "stbup ${PROJECT_VERSION}")
set(CPACK_NSIS_DISPLAY_NAME "stbup - set-top box firmware upgrade")
set(CPACK_PACKAGE_INSTALL_DIRECTORY "stbup")
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY "stbup")
set(CPACK_NSIS_INSTALLED_ICON_NAME "stbup-gui.exe")
if(STBUP_GUI_ICON)
  set(CPACK_NSIS_MUI_ICON "${STBUP_GUI_ICON}")
  set(CPACK_NSIS_MUI_UNIICON "${STBUP_GUI_ICON}")
endif()
# The window in the Start menu; the command line is used from a console.
set(CPACK_PACKAGE_EXECUTABLES "stbup-gui" "stbup")
set(CPACK_NSIS_EXECUTABLES_DIRECTORY "${STBUP_WINDOWS_BIN_DIR}")
set(CPACK_NSIS_MODIFY_PATH OFF)
# A second install replaces the first instead of leaving two uninstallers.
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
set(CPACK_NSIS_URL_INFO_ABOUT "")
