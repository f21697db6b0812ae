# The project's warning flags, for the main build and the test service's own
# 64-bit build. QLX_WERROR makes them errors (every preset, so CI, sets it); a
# packager building with another compiler version may leave them warnings.
# -Wnon-virtual-dtor stays off: the hand-declared COM interfaces must not gain
# a virtual destructor, which would shift every slot of their vtables.
option(QLX_WERROR "Treat compiler warnings as errors" OFF)
function(qlx_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
    -Wsign-conversion -Wold-style-cast -Woverloaded-virtual $<$<BOOL:${QLX_WERROR}>:-Werror>)
endfunction()
