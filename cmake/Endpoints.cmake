# The addresses the program talks to are fixed when it is built. Left empty,
# they point at the bundled offline fortune service (src/service), reached
# over a Unix socket that only the system or the person can make, and at the
# two forum pages installed beside the program, so a fresh build works with
# no internet. Build against other hosts with, for example:
#   cmake -DZHIWEI_FORTUNE_BASE=http://fortune.example.com ...
set(ZHIWEI_FORTUNE_BASE "" CACHE STRING
    "Base address of the fortune site; pages live under /astro/view/<slug>/day/ (empty: the offline service)")
set(ZHIWEI_NOTICE_URL "" CACHE STRING "Address of the version notice (empty: the offline service)")
set(ZHIWEI_MAKER_FORUM "" CACHE STRING "The maker's forum, Kw系列软件 (empty: the page installed beside the program)")
set(ZHIWEI_PARTNER_FORUM "" CACHE STRING "The partner forum, 云帆联盟 (empty: the page installed beside the program)")
# systemd's socket unit makes this socket for every user; the program and
# its launcher use it where nothing of the person's own answers in
# $XDG_RUNTIME_DIR/zhiweige and something serves behind it
# (src/net/LocalService.h).
set(ZHIWEI_SYSTEM_SOCKET /run/zhiweige/fortune.sock CACHE STRING
    "Socket of the offline fortune service that systemd makes for every user")
# The person's own service, which the launcher (or the program, where it
# finds it gone) starts where there is no system socket, ends after this
# long without a request once no copy of the program runs.
set(ZHIWEI_SERVICE_IDLE_SECONDS 600)

# Empty settings take the offline service's addresses; the host is only the
# Host header of the requests. A forum given as a relative folder is a page
# beside the program (<folder>/index.html), opened as a local file.
set(_zhiwei_local "unix+http://zhiweige")
if(NOT ZHIWEI_FORTUNE_BASE)
    set(ZHIWEI_FORTUNE_BASE "${_zhiwei_local}")
endif()
if(NOT ZHIWEI_NOTICE_URL)
    set(ZHIWEI_NOTICE_URL "${_zhiwei_local}/kwgamejc/xz/jc.txt")
endif()
if(NOT ZHIWEI_MAKER_FORUM)
    set(ZHIWEI_MAKER_FORUM "forum/bbs/")
endif()
if(NOT ZHIWEI_PARTNER_FORUM)
    set(ZHIWEI_PARTNER_FORUM "forum/yunfan/")
endif()
# ON when an address lands on the offline service: the launcher then starts
# it, and the package ships its units.
set(ZHIWEI_USES_OFFLINE_SERVICE OFF)
foreach(_url IN ITEMS "${ZHIWEI_FORTUNE_BASE}" "${ZHIWEI_NOTICE_URL}")
    string(FIND "${_url}" "unix+http:" _at)
    if(_at EQUAL 0)
        set(ZHIWEI_USES_OFFLINE_SERVICE ON)
    endif()
endforeach()
message(STATUS "知微阁 fortune pages from ${ZHIWEI_FORTUNE_BASE}")
