# The addresses the program talks to are fixed when it is built; the program
# reads no arguments, environment or settings. By default they point at the
# bundled offline fortune service (tools/fortune-service), so a fresh build
# works with no internet. Build against other hosts with, for example:
#   cmake -DZHIWEI_FORTUNE_BASE=http://fortune.example.com ...
set(ZHIWEI_SERVICE_PORT 18231 CACHE STRING "Port of the bundled offline fortune service")

set(_zhiwei_local "http://127.0.0.1:${ZHIWEI_SERVICE_PORT}")
set(ZHIWEI_FORTUNE_BASE "${_zhiwei_local}" CACHE STRING
    "Base address of the fortune site; pages live under /astro/view/<slug>/day/")
set(ZHIWEI_NOTICE_URL "${_zhiwei_local}/kwgamejc/xz/jc.txt" CACHE STRING
    "Address of the version notice")
set(ZHIWEI_MAKER_FORUM "${_zhiwei_local}/bbs/" CACHE STRING
    "The maker's forum (Kw系列软件)")
set(ZHIWEI_PARTNER_FORUM "${_zhiwei_local}/yunfan/" CACHE STRING
    "The partner forum (云帆联盟)")
