# Installing 知微阁 as a desktop program, and its Debian package (cpack -G DEB).
#
#   <prefix>/lib/zhiweige/    the program, bg.mp3, its four runtime files, the
#                             two forum pages (forum/) and the offline fortune
#                             service: the program looks for all of them beside
#                             its executable
#   <prefix>/lib/<multiarch>/zhiweige/libzhiweige-window.so
#                             the main window's library, which the program
#                             loads while its splash fades in, found through
#                             its run path
#   <prefix>/bin/zhiweige     the launcher on the PATH
#   <prefix>/lib/systemd/system/zhiweige-fortune.{socket,service}
#                             the offline service as a system service
#   <prefix>/share/applications/zhiweige.desktop, share/icons/hicolor/...,
#   share/metainfo/<id>.metainfo.xml, share/man/man1/zhiweige.1.gz,
#   share/doc/zhiweige/{copyright,changelog.Debian.gz}
#
# /usr/lib/<package> rather than /opt: Debian packages must not install into
# /opt, and /usr/lib/<package> is where Debian keeps a program's private files,
# /usr/lib/<multiarch>/<package> its private libraries (ZHIWEI_INSTALL_PKGLIBDIR
# and ZHIWEI_INSTALL_WINDOW_LIBDIR, set in CMakeLists.txt).
include(GNUInstallDirs)

set(_zhiwei_maintainer "知微阁 maintainers <maintainers@users.noreply.c-seed-1004068e.example>")
set(ZHIWEI_PACKAGE_MAINTAINER "${_zhiwei_maintainer}" CACHE STRING
    "Maintainer field of the Debian package")
# Earlier builds kept an address on localhost, which no one can write to.
if(ZHIWEI_PACKAGE_MAINTAINER MATCHES "@localhost>$")
    set(ZHIWEI_PACKAGE_MAINTAINER "${_zhiwei_maintainer}" CACHE STRING
        "Maintainer field of the Debian package" FORCE)
endif()
set(ZHIWEI_PACKAGE_REVISION 1 CACHE STRING "Debian revision of the package")
set(ZHIWEI_HOMEPAGE "https://zhiweige.example/" CACHE STRING
    "The project's home page, ending in /; its docs/ folder holds the screenshot")
set(ZHIWEI_APPSTREAM_ID "cn.chengchuan.zhiweige" CACHE STRING
    "AppStream id of the program, in reverse-DNS form")
set(ZHIWEI_SOCKET_UNIT zhiweige-fortune.socket)
set(ZHIWEI_SERVICE_UNIT zhiweige-fortune.service)
set(_zhiwei_out ${PROJECT_BINARY_DIR}/packaging)

# The runtime files the program writes at start, written here from its own
# resources by the same code. Shipped in the package, they are there even for
# a user who may not write the program's folder; the program, finding them
# identical, leaves them alone.
qt_add_executable(zhiwei-runtime-files ${PROJECT_SOURCE_DIR}/packaging/write-runtime-files.cpp)
target_link_libraries(zhiwei-runtime-files PRIVATE zhiwei_core)
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

# The two forum pages of an offline build, which a browser opens from the
# program's folder: it cannot reach the service's socket.
qt_add_executable(zhiwei-forum-pages ${PROJECT_SOURCE_DIR}/packaging/write-forum-pages.cpp)
target_link_libraries(zhiwei-forum-pages PRIVATE zhiwei_fortune_service)
zhiwei_warnings(zhiwei-forum-pages)
set_target_properties(zhiwei-forum-pages PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/packaging)

# The launcher sees to the bundled service only for a build that talks to it.
if(ZHIWEI_USES_OFFLINE_SERVICE)
    set(ZHIWEI_LAUNCHER_STARTS_SERVICE 1)
else()
    set(ZHIWEI_LAUNCHER_STARTS_SERVICE 0)
endif()
# Writes a launcher to `output` for a program that reads from the service
# (when STARTS_SERVICE is 1) on SYSTEM_SOCKET where that is there, else on the
# person's own socket; the service it starts itself ends after IDLE_SECONDS
# unused. The install test makes one for a system socket of its own.
function(zhiwei_configure_launcher output)
    cmake_parse_arguments(ARG "" "SYSTEM_SOCKET;IDLE_SECONDS;STARTS_SERVICE" "" ${ARGN})
    set(ZHIWEI_SYSTEM_SOCKET ${ARG_SYSTEM_SOCKET})
    set(ZHIWEI_SERVICE_IDLE_SECONDS ${ARG_IDLE_SECONDS})
    set(ZHIWEI_LAUNCHER_STARTS_SERVICE ${ARG_STARTS_SERVICE})
    # Relative, so the launcher finds the program wherever the tree is unpacked.
    file(RELATIVE_PATH ZHIWEI_LAUNCHER_TO_PKGLIBDIR
        /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${ZHIWEI_INSTALL_PKGLIBDIR})
    configure_file(${PROJECT_SOURCE_DIR}/packaging/zhiweige.sh.in ${output} @ONLY
        FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                         WORLD_READ WORLD_EXECUTE)
endfunction()
zhiwei_configure_launcher(${_zhiwei_out}/zhiweige SYSTEM_SOCKET ${ZHIWEI_SYSTEM_SOCKET}
    IDLE_SECONDS ${ZHIWEI_SERVICE_IDLE_SECONDS} STARTS_SERVICE ${ZHIWEI_LAUNCHER_STARTS_SERVICE})

# The manual page and the AppStream metadata say what this build does.
math(EXPR ZHIWEI_SERVICE_IDLE_MINUTES "${ZHIWEI_SERVICE_IDLE_SECONDS} / 60")
# Read here, so a change to them configures again.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
    ${PROJECT_SOURCE_DIR}/packaging/zhiweige.1.service.in ${PROJECT_SOURCE_DIR}/packaging/changelog)
if(ZHIWEI_USES_OFFLINE_SERVICE)
    file(READ ${PROJECT_SOURCE_DIR}/packaging/zhiweige.1.service.in ZHIWEI_MAN_PAGES_SECTION)
    string(CONFIGURE "${ZHIWEI_MAN_PAGES_SECTION}" ZHIWEI_MAN_PAGES_SECTION @ONLY)
else()
    set(ZHIWEI_MAN_PAGES_SECTION ".SH \"WHERE THE FORTUNES COME FROM\"
This build reads its pages from
.IR ${ZHIWEI_FORTUNE_BASE} .")
endif()
configure_file(${PROJECT_SOURCE_DIR}/packaging/zhiweige.1.in ${_zhiwei_out}/zhiweige.1 @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/packaging/zhiweige.metainfo.xml.in
    ${_zhiwei_out}/${ZHIWEI_APPSTREAM_ID}.metainfo.xml @ONLY)
# The package's version is the changelog's: they must not drift apart.
file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/changelog _zhiwei_changelog_top LIMIT_COUNT 1)
set(ZHIWEI_PACKAGE_VERSION ${PROJECT_VERSION}-${ZHIWEI_PACKAGE_REVISION})
if(NOT _zhiwei_changelog_top MATCHES "^zhiweige \\(${ZHIWEI_PACKAGE_VERSION}\\) ")
    message(FATAL_ERROR "packaging/changelog begins \"${_zhiwei_changelog_top}\"; "
        "its first entry must be for ${ZHIWEI_PACKAGE_VERSION}")
endif()
# Compressed as Debian wants them: gzip -9, no name or time inside.
set(_zhiwei_compressed)
foreach(_pair IN ITEMS "packaging/changelog:changelog.Debian"
                       "${_zhiwei_out}/zhiweige.1:zhiweige.1")
    string(REPLACE ":" ";" _pair "${_pair}")
    list(GET _pair 0 _from)
    list(GET _pair 1 _to)
    get_filename_component(_from ${_from} ABSOLUTE BASE_DIR ${PROJECT_SOURCE_DIR})
    add_custom_command(OUTPUT ${_zhiwei_out}/gz/${_to}.gz
        COMMAND ${CMAKE_COMMAND} -E copy ${_from} ${_zhiwei_out}/gz/${_to}
        COMMAND gzip -9nf ${_zhiwei_out}/gz/${_to}
        DEPENDS ${_from}
        VERBATIM)
    list(APPEND _zhiwei_compressed ${_zhiwei_out}/gz/${_to}.gz)
endforeach()
add_custom_target(zhiwei_package_documents ALL DEPENDS ${_zhiwei_compressed})

install(TARGETS zhiweige zhiwei-fortune-service RUNTIME DESTINATION ${ZHIWEI_INSTALL_PKGLIBDIR})
install(TARGETS zhiweige-window LIBRARY DESTINATION ${ZHIWEI_INSTALL_WINDOW_LIBDIR})
install(FILES ${PROJECT_SOURCE_DIR}/assets/bg.mp3 DESTINATION ${ZHIWEI_INSTALL_PKGLIBDIR})
install(DIRECTORY ${_zhiwei_runtime_out}/ DESTINATION ${ZHIWEI_INSTALL_PKGLIBDIR})
if(ZHIWEI_USES_OFFLINE_SERVICE)
    install(DIRECTORY ${PROJECT_BINARY_DIR}/bin/forum DESTINATION ${ZHIWEI_INSTALL_PKGLIBDIR})
endif()
install(PROGRAMS ${PROJECT_BINARY_DIR}/packaging/zhiweige DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/zhiweige.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${_zhiwei_out}/${ZHIWEI_APPSTREAM_ID}.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${_zhiwei_out}/gz/zhiweige.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${_zhiwei_out}/gz/changelog.Debian.gz
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/zhiweige)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/lintian-overrides
    DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME zhiweige)

# The offline service as a system service: systemd holds the socket and
# starts the service for whoever connects first. The unit names the service by its
# full path, known only at install time (cpack installs under /usr).
if(ZHIWEI_USES_OFFLINE_SERVICE)
    install(CODE "
        set(ZHIWEI_PKGLIBDIR \"\${CMAKE_INSTALL_PREFIX}/${ZHIWEI_INSTALL_PKGLIBDIR}\")
        set(ZHIWEI_SYSTEM_SOCKET ${ZHIWEI_SYSTEM_SOCKET})
        foreach(_unit ${ZHIWEI_SOCKET_UNIT} ${ZHIWEI_SERVICE_UNIT})
            configure_file(${PROJECT_SOURCE_DIR}/packaging/\${_unit}.in
                ${_zhiwei_out}/units/\${_unit} @ONLY)
            file(INSTALL ${_zhiwei_out}/units/\${_unit}
                DESTINATION \"\${CMAKE_INSTALL_PREFIX}/lib/systemd/system\")
        endforeach()
    ")
    foreach(_script IN ITEMS postinst prerm postrm)
        configure_file(${PROJECT_SOURCE_DIR}/packaging/${_script}.in
            ${_zhiwei_out}/maintainer/${_script} @ONLY)
        list(APPEND CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${_zhiwei_out}/maintainer/${_script})
    endforeach()
    set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
endif()

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
set(CPACK_DEBIAN_PACKAGE_RELEASE ${ZHIWEI_PACKAGE_REVISION})
set(CPACK_PACKAGE_VENDOR "澄川知微阁")
set(CPACK_PACKAGE_CONTACT "${ZHIWEI_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "daily zodiac fortunes on the desktop (澄川知微阁)")
# Lines of the long description stay within 80 columns, a Chinese
# character counting two.
if(ZHIWEI_LAUNCHER_STARTS_SERVICE)
    set(_zhiwei_pages "It reads its pages from the offline fortune service shipped with it,
a socket-activated system service shared by every user.")
else()
    set(_zhiwei_pages "This build reads its pages from ${ZHIWEI_FORTUNE_BASE}.")
endif()
set(CPACK_PACKAGE_DESCRIPTION
    "知微阁 (澄川知微阁 V2) shows the fortune of any of the twelve zodiac
signs, for today or for tomorrow: four star ratings, the health and
negotiation indices, the lucky colour, number and best-matching sign, and a
description of the day. It also finds the sign of a birthday and shares the
fortune as text or as a picture.

${_zhiwei_pages}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(cmake/DebianDepends.cmake)
# With what dpkg-shlibdeps cannot see (Qt's plugins, the exact Qt), a font
# for the Chinese text.
list(APPEND ZHIWEI_DEBIAN_DEPENDS "fonts-wqy-microhei | fonts-noto-cjk")
list(JOIN ZHIWEI_DEBIAN_DEPENDS ", " CPACK_DEBIAN_PACKAGE_DEPENDS)
# The Chinese buttons of the message boxes come from Qt's own translations.
# The forum pages open through xdg-open. The launcher tells the person on the
# desktop, through zenity or kdialog, when the service does not answer.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n, xdg-utils, zenity | kdialog")
# In a Wayland session the program runs through XWayland, as Debian's GNOME
# and Plasma run Qt programs: there mutter's own title bar is in the window
# picture. With Qt's Wayland platform installed it runs natively, as well.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "qt6-wayland")
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build[^/]*/")
include(CPack)
