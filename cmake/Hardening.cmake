# The hardening a Debian package gets from dpkg-buildflags with
# hardening=+all: stack protector, format checks, fortified libc calls, PIE,
# read-only relocations bound at start. Plus what newer dpkg adds on amd64:
# stack-clash and control-flow protection (the latter takes effect only
# where the C library's start files carry it too; Debian 12's and 13's do
# not). Every build gets them: the program parses network input and the
# service listens, so the tests run what ships.
include(CheckCXXCompilerFlag)
include(CheckPIESupported)

option(ZHIWEI_HARDEN "Build with the hardening flags of a Debian package" ON)
if(NOT ZHIWEI_HARDEN)
    return()
endif()

check_pie_supported()
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
add_compile_options(-fstack-protector-strong -Wformat -Werror=format-security)
foreach(_flag IN ITEMS -fstack-clash-protection -fcf-protection)
    string(MAKE_C_IDENTIFIER "ZHIWEI_HAS${_flag}" _known)
    check_cxx_compiler_flag(${_flag} ${_known})
    if(${_known})
        add_compile_options(${_flag})
    endif()
endforeach()
# _FORTIFY_SOURCE works only with optimisation, and the sanitizers and the
# fuzzers check the same calls in their own way.
if(NOT ZHIWEI_SANITIZE AND NOT ZHIWEI_BUILD_FUZZERS)
    add_compile_definitions($<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:_FORTIFY_SOURCE=2>)
endif()
add_link_options(LINKER:-z,relro LINKER:-z,now)
