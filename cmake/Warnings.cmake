# Every target of ours builds warning-free with these.
function(zhiwei_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic
        -Wnon-virtual-dtor -Wcast-align -Woverloaded-virtual
        $<$<CXX_COMPILER_ID:GNU>:-Wshadow=local>)
endfunction()
