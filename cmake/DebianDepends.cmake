# What the Debian package needs beyond what dpkg-shlibdeps finds in the
# program's links, looked up among the packages of the Qt this is built
# against, since their names differ from one Debian release to the next:
#   - what Qt loads at run time: the media backend that Qt Multimedia's
#     sound output brings along from Qt 6.5 on;
#   - the exact Qt: the window-system layer uses Qt's private headers, whose
#     ABI changes with every Qt release, so Debian asks such programs to
#     depend on the ABI the Qt library package provides.
# Sets ZHIWEI_DEBIAN_DEPENDS; empty where there is no dpkg.
set(ZHIWEI_DEBIAN_DEPENDS)
find_program(ZHIWEI_DPKG_QUERY dpkg-query)
if(NOT ZHIWEI_DPKG_QUERY)
    return()
endif()

# The package that installed `path`, or nothing.
function(zhiwei_package_of path out)
    set(${out} "" PARENT_SCOPE)
    if(NOT EXISTS "${path}")
        return()
    endif()
    execute_process(COMMAND ${ZHIWEI_DPKG_QUERY} -S "${path}"
        OUTPUT_VARIABLE owners RESULT_VARIABLE status ERROR_QUIET)
    # "libqt6core6:amd64: /usr/lib/..."
    if(status EQUAL 0 AND owners MATCHES "^([^:,\n]+)")
        set(${out} "${CMAKE_MATCH_1}" PARENT_SCOPE)
    endif()
endfunction()

set(_plugins "${QT6_INSTALL_PREFIX}/${QT6_INSTALL_PLUGINS}")
get_target_property(_core Qt6::Core LOCATION)
get_target_property(_multimedia Qt6::Multimedia LOCATION)
zhiwei_package_of("${_core}" _core_package)
zhiwei_package_of("${_multimedia}" _multimedia_package)

# Qt 6.4's sound output is Qt Multimedia's own PulseAudio code; later ones
# load the media backend for it, FFmpeg's, even where nothing else of it is
# used. Named only where it is not Qt Multimedia's own package already.
if(Qt6_VERSION VERSION_GREATER_EQUAL 6.5)
    zhiwei_package_of("${_plugins}/multimedia/libffmpegmediaplugin.so" _backend_package)
    if(_backend_package AND NOT _backend_package STREQUAL _multimedia_package)
        list(APPEND ZHIWEI_DEBIAN_DEPENDS ${_backend_package})
    endif()
endif()

# Debian 12's libqt6core6 provides qt6-base-abi, Debian 13's
# qt6-base-private-abi.
if(_core_package)
    execute_process(COMMAND ${ZHIWEI_DPKG_QUERY} -W -f=\${Provides} ${_core_package}
        OUTPUT_VARIABLE _provides ERROR_QUIET)
    # One MATCHES at a time: a failed one clears what an earlier one matched.
    if(_provides MATCHES "(qt6-base-private-abi \\(= [^)]+\\))")
        list(APPEND ZHIWEI_DEBIAN_DEPENDS "${CMAKE_MATCH_1}")
    elseif(_provides MATCHES "(qt6-base-abi \\(= [^)]+\\))")
        list(APPEND ZHIWEI_DEBIAN_DEPENDS "${CMAKE_MATCH_1}")
    endif()
endif()
list(REMOVE_DUPLICATES ZHIWEI_DEBIAN_DEPENDS)
