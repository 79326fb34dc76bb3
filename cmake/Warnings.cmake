# Every target of ours builds warning-free with these.
function(zhiwei_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wcast-align
        $<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor -Woverloaded-virtual>
        $<$<AND:$<COMPILE_LANGUAGE:CXX>,$<CXX_COMPILER_ID:GNU>>:-Wshadow=local>)
endfunction()
