# What the Debian package needs beyond what dpkg-shlibdeps finds in the
# program's links: the exact Qt. The window-system layer uses Qt's private
# headers, whose ABI changes with every Qt release, so Debian asks such
# programs to depend on the ABI the Qt library package provides; its name
# differs from one Debian release to the next.
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

get_target_property(_core Qt6::Core LOCATION)
zhiwei_package_of("${_core}" _core_package)

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
