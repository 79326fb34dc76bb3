# The addresses the program talks to are fixed when it is built; the program
# reads no arguments, environment or settings. Left empty, each points at the
# bundled offline fortune service (src/service) on 127.0.0.1 and
# ZHIWEI_SERVICE_PORT, so a fresh build works with no internet. Build against
# other hosts with, for example:
#   cmake -DZHIWEI_FORTUNE_BASE=http://fortune.example.com ...
set(ZHIWEI_SERVICE_PORT 18231 CACHE STRING "Port of the bundled offline fortune service")
set(ZHIWEI_FORTUNE_BASE "" CACHE STRING
    "Base address of the fortune site; pages live under /astro/view/<slug>/day/ (empty: the offline service)")
set(ZHIWEI_NOTICE_URL "" CACHE STRING "Address of the version notice (empty: the offline service)")
set(ZHIWEI_MAKER_FORUM "" CACHE STRING "The maker's forum, Kw系列软件 (empty: the offline service)")
set(ZHIWEI_PARTNER_FORUM "" CACHE STRING "The partner forum, 云帆联盟 (empty: the offline service)")

# Empty settings take the offline service's addresses, following the port.
set(_zhiwei_local "http://127.0.0.1:${ZHIWEI_SERVICE_PORT}")
if(NOT ZHIWEI_FORTUNE_BASE)
    set(ZHIWEI_FORTUNE_BASE "${_zhiwei_local}")
endif()
if(NOT ZHIWEI_NOTICE_URL)
    set(ZHIWEI_NOTICE_URL "${_zhiwei_local}/kwgamejc/xz/jc.txt")
endif()
if(NOT ZHIWEI_MAKER_FORUM)
    set(ZHIWEI_MAKER_FORUM "${_zhiwei_local}/bbs/")
endif()
if(NOT ZHIWEI_PARTNER_FORUM)
    set(ZHIWEI_PARTNER_FORUM "${_zhiwei_local}/yunfan/")
endif()
# ON when any address lands on the offline service: the launcher then starts it.
set(ZHIWEI_USES_OFFLINE_SERVICE OFF)
foreach(_url IN ITEMS "${ZHIWEI_FORTUNE_BASE}" "${ZHIWEI_NOTICE_URL}" "${ZHIWEI_MAKER_FORUM}"
                      "${ZHIWEI_PARTNER_FORUM}")
    string(FIND "${_url}/" "${_zhiwei_local}/" _at)
    if(_at EQUAL 0)
        set(ZHIWEI_USES_OFFLINE_SERVICE ON)
    endif()
endforeach()
message(STATUS "知微阁 fortune pages from ${ZHIWEI_FORTUNE_BASE}")
