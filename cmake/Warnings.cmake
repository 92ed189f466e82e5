# High warnings for our own targets only (GoogleTest and other third-party code keep theirs).
function(kvd_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast -Wcast-align
    -Woverloaded-virtual -Wconversion -Wno-sign-conversion -Wnull-dereference -Wdouble-promotion
    -Wformat=2 -Wimplicit-fallthrough)
  if(KVD_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
