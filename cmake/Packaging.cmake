# Installing 知微阁 as a desktop program, and its Debian package (cpack -G DEB).
#
#   <prefix>/lib/zhiweige/    the program, bg.mp3, its four runtime files and the
#                             offline fortune service: the program looks for all
#                             of them beside its executable
#   <prefix>/bin/zhiweige     the launcher on the PATH
#   <prefix>/share/applications/zhiweige.desktop, share/icons/hicolor/...
#
# /usr/lib/<package> rather than /opt: Debian packages must not install into
# /opt, and /usr/lib/<package> is where Debian keeps a program's private files.
include(GNUInstallDirs)

set(ZHIWEI_INSTALL_PKGLIBDIR "lib/zhiweige" CACHE STRING
    "Folder, under the install prefix, that holds the program and the files beside it")
set(ZHIWEI_PACKAGE_MAINTAINER "知微阁 maintainers <zhiweige@localhost>" CACHE STRING
    "Maintainer field of the Debian package")

# The runtime files the program writes at start, written here from its own
# resources by the same code. Shipped in the package, they are there even for
# a user who may not write the program's folder; the program, finding them
# identical, leaves them alone.
qt_add_executable(zhiwei-runtime-files ${PROJECT_SOURCE_DIR}/packaging/write-runtime-files.cpp)
target_link_libraries(zhiwei-runtime-files PRIVATE zhiwei_app)
zhiwei_warnings(zhiwei-runtime-files)
set_target_properties(zhiwei-runtime-files PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/packaging)

set(_zhiwei_runtime_out ${PROJECT_BINARY_DIR}/packaging/runtime)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/packaging/runtime.stamp
    # Anew each time, so a file the program no longer writes is not shipped.
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${_zhiwei_runtime_out}
    # A sanitizer build's leak report at exit must not fail the build.
    COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
            $<TARGET_FILE:zhiwei-runtime-files> ${_zhiwei_runtime_out}
    COMMAND ${CMAKE_COMMAND} -E touch ${PROJECT_BINARY_DIR}/packaging/runtime.stamp
    DEPENDS zhiwei-runtime-files
    COMMENT "Writing the runtime files the installed program finds beside itself"
    VERBATIM)
add_custom_target(zhiwei_runtime_files ALL DEPENDS ${PROJECT_BINARY_DIR}/packaging/runtime.stamp)

# The launcher starts the bundled service only for a build that talks to it.
if(ZHIWEI_USES_OFFLINE_SERVICE)
    set(ZHIWEI_LAUNCHER_STARTS_SERVICE 1)
else()
    set(ZHIWEI_LAUNCHER_STARTS_SERVICE 0)
endif()
# Relative, so the launcher finds the program wherever the tree is unpacked.
file(RELATIVE_PATH ZHIWEI_LAUNCHER_TO_PKGLIBDIR
    /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${ZHIWEI_INSTALL_PKGLIBDIR})
configure_file(${PROJECT_SOURCE_DIR}/packaging/zhiweige.sh.in
    ${PROJECT_BINARY_DIR}/packaging/zhiweige @ONLY
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                     WORLD_READ WORLD_EXECUTE)

install(TARGETS zhiweige zhiwei-fortune-service RUNTIME DESTINATION ${ZHIWEI_INSTALL_PKGLIBDIR})
install(FILES ${PROJECT_SOURCE_DIR}/assets/bg.mp3 DESTINATION ${ZHIWEI_INSTALL_PKGLIBDIR})
install(DIRECTORY ${_zhiwei_runtime_out}/ DESTINATION ${ZHIWEI_INSTALL_PKGLIBDIR})
install(PROGRAMS ${PROJECT_BINARY_DIR}/packaging/zhiweige DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/zhiweige.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)

file(GLOB _zhiwei_icons ${PROJECT_SOURCE_DIR}/assets/icon/zhiweige-*.png)
foreach(_icon IN LISTS _zhiwei_icons)
    string(REGEX REPLACE ".*/zhiweige-([0-9]+)\\.png$" "\\1" _size "${_icon}")
    install(FILES ${_icon}
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${_size}x${_size}/apps
        RENAME zhiweige.png)
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/assets/icon/zhiweige.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zhiweige)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "澄川知微阁")
set(CPACK_PACKAGE_CONTACT "${ZHIWEI_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "daily zodiac fortunes on the desktop (澄川知微阁)")
if(ZHIWEI_LAUNCHER_STARTS_SERVICE)
    set(_zhiwei_pages "This build reads its pages from the offline fortune service shipped with
it, which the zhiweige command starts and stops as needed.")
else()
    set(_zhiwei_pages "This build reads its pages from ${ZHIWEI_FORTUNE_BASE}.")
endif()
set(CPACK_PACKAGE_DESCRIPTION
    "知微阁 (澄川知微阁 V2) shows the fortune of any of the twelve zodiac signs, for
today or for tomorrow: four star ratings, the health and negotiation indices, the
lucky colour, number and best-matching sign, and a description of the day. It
also finds the sign of a birthday and shares the fortune as text or as a picture.

${_zhiwei_pages}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, so dpkg-shlibdeps cannot see them: Qt's SVG plugins for
# the window icon, GStreamer's mp3 decoder for the tune, and a font for the
# Chinese text.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libqt6svg6, gstreamer1.0-plugins-good, fonts-wqy-microhei | fonts-noto-cjk")
# The Chinese buttons of the message boxes come from Qt's own translations.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build[^/]*/")
include(CPack)
