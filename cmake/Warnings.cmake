# One warning list for every target of the project.
function(tw_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic
    -Wnon-virtual-dtor -Wcast-align -Woverloaded-virtual -Wimplicit-fallthrough
    $<$<CXX_COMPILER_ID:GNU>:-Wshadow=local>)
endfunction()
