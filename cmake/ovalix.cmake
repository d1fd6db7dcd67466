# Helpers shared by the CMake files of the tree.

# ovalix_platform_sources(VAR base...) appends base_win32.cpp or base_posix.cpp
# for each base name: one header, one implementation per platform.
function(ovalix_platform_sources var)
  set(list ${${var}})
  foreach(base IN LISTS ARGN)
    list(APPEND list ${base}_${OVALIX_PLATFORM}.cpp)
  endforeach()
  set(${var} ${list} PARENT_SCOPE)
endfunction()
