# The Debian package (cpack -G DEB in the build folder): the desktop utility with its menu
# entry, icons, AppStream metainfo, polkit action and pkexec launcher, qxpack, qxupdater-cli
# when that target exists, their manual pages, and the system-wide configuration file.
#
#   /usr/bin/qxupdater, qxupdater-launch, qxpack[, qxupdater-cli]
#   /usr/libexec/qxupdater/qxupdater-root        started by pkexec (polkit exec.path)
#   /usr/share/applications, icons/hicolor, metainfo, polkit-1/actions, man/man1
#   /etc/qxupdater/QXUpdater.ini                  a configuration file of the package
#
# Dependencies come from dpkg-shlibdeps, plus pkexec for the launcher.
include(GNUInstallDirs)

set(QX_PKG_SRC ${CMAKE_SOURCE_DIR}/packaging/linux)
set(QX_PKG_OUT ${CMAKE_BINARY_DIR}/packaging)
set(QX_PKG_PREFIX /usr)
set(QX_PKG_HELPER_DIR ${CMAKE_INSTALL_LIBEXECDIR}/qxupdater)

# The scripts find each other relative to their own place, so they also work from a copy
# (the tests lay them out in a temporary folder); the policy names the installed helper.
file(RELATIVE_PATH QX_HELPER_FROM_BIN /${CMAKE_INSTALL_BINDIR} /${QX_PKG_HELPER_DIR}/qxupdater-root)
file(RELATIVE_PATH QX_PROGRAM_FROM_HELPER /${QX_PKG_HELPER_DIR} /${CMAKE_INSTALL_BINDIR}/qxupdater)
set(QX_ROOT_HELPER ${QX_PKG_PREFIX}/${QX_PKG_HELPER_DIR}/qxupdater-root)
configure_file(${QX_PKG_SRC}/qxupdater-launch.in ${QX_PKG_OUT}/qxupdater-launch @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                WORLD_READ WORLD_EXECUTE)
configure_file(${QX_PKG_SRC}/qxupdater-root.in ${QX_PKG_OUT}/qxupdater-root @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                WORLD_READ WORLD_EXECUTE)
configure_file(${QX_PKG_SRC}/com.quorvex.qxupdater.policy.in
               ${QX_PKG_OUT}/com.quorvex.qxupdater.policy @ONLY)

# Manual pages, compressed as Debian ships them.
set(QX_MAN_PAGES)
foreach(page qxupdater.1 qxpack.1)
  add_custom_command(OUTPUT ${QX_PKG_OUT}/${page}.gz
                     COMMAND gzip -9n -c ${QX_PKG_SRC}/${page} > ${QX_PKG_OUT}/${page}.gz
                     DEPENDS ${QX_PKG_SRC}/${page} VERBATIM)
  list(APPEND QX_MAN_PAGES ${QX_PKG_OUT}/${page}.gz)
endforeach()
add_custom_target(qxupdater_man_pages ALL DEPENDS ${QX_MAN_PAGES})

install(TARGETS qxupdater RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET qxpack)
  install(TARGETS qxpack RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(PROGRAMS ${QX_PKG_OUT}/qxupdater-launch DESTINATION ${CMAKE_INSTALL_BINDIR})
install(PROGRAMS ${QX_PKG_OUT}/qxupdater-root DESTINATION ${QX_PKG_HELPER_DIR})
install(FILES ${QX_PKG_SRC}/com.quorvex.qxupdater.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${QX_PKG_SRC}/com.quorvex.qxupdater.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${QX_PKG_OUT}/com.quorvex.qxupdater.policy
        DESTINATION ${CMAKE_INSTALL_DATADIR}/polkit-1/actions)
foreach(size 16 24 32 48 64 128 256)
  install(FILES ${QX_PKG_SRC}/icons/qxupdater-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME qxupdater.png)
endforeach()
install(FILES ${QX_PKG_SRC}/icons/qxupdater.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${QX_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${QX_PKG_SRC}/QXUpdater.ini DESTINATION /etc/qxupdater)

# The command-line front end may be defined after this file: decide at the end of the
# directory.
function(qx_install_cli)
  if(TARGET qxupdater-cli)
    install(TARGETS qxupdater-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endfunction()
cmake_language(DEFER CALL qx_install_cli)

# The launcher, its helper and the desktop files, checked from the build tree.
if(QX_BUILD_TESTS)
  add_test(NAME launcher_scripts
           COMMAND bash ${CMAKE_SOURCE_DIR}/tests/linux/launcher_test.sh ${QX_PKG_OUT}
                   ${QX_HELPER_FROM_BIN} ${QX_PROGRAM_FROM_HELPER})
  find_program(QX_DESKTOP_FILE_VALIDATE desktop-file-validate)
  find_program(QX_APPSTREAMCLI appstreamcli)
  if(QX_DESKTOP_FILE_VALIDATE)
    add_test(NAME desktop_file_validates
             COMMAND ${QX_DESKTOP_FILE_VALIDATE} ${QX_PKG_SRC}/com.quorvex.qxupdater.desktop)
  endif()
  if(QX_APPSTREAMCLI)
    add_test(NAME metainfo_validates
             COMMAND ${QX_APPSTREAMCLI} validate --no-net
                     ${QX_PKG_SRC}/com.quorvex.qxupdater.metainfo.xml)
  endif()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qxupdater)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "QX Updater developers <qxupdater@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware updater for Quorvex solid-state drives")
# The summary above is the first line; CPack indents these.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Finds the drives built on Quorvex flash controllers (SATA, or behind Quorvex\nUSB-to-SATA bridges), rewrites their firmware, runs an ATA security erase and\nshows a SMART report. Started from the desktop menu through pkexec.")
set(CPACK_PACKAGING_INSTALL_PREFIX ${QX_PKG_PREFIX})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "pkexec")
set(CPACK_STRIP_FILES ON)
file(WRITE ${QX_PKG_OUT}/conffiles "/etc/qxupdater/QXUpdater.ini\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${QX_PKG_OUT}/conffiles)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/deb)
include(CPack)
