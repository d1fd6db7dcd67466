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

# ovalix_install_unit(TEMPLATE DESTINATION) installs the systemd unit made
# from TEMPLATE (its name without ".in") into DESTINATION, under the prefix
# when relative. The unit is made at install time, so the program paths in it
# (@OVALIX_INSTALL_BINDIR@, @OVALIX_INSTALL_SBINDIR@) follow the prefix given
# to `cmake --install --prefix`, as the programs themselves do.
include(GNUInstallDirs)
function(ovalix_install_unit template destination)
  get_filename_component(name "${template}" NAME_WLE)
  install(CODE "
    set(OVALIX_INSTALL_BINDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    set(OVALIX_INSTALL_SBINDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_SBINDIR}\")
    set(unit_dir \"${destination}\")
    if(NOT IS_ABSOLUTE \"\${unit_dir}\")
      set(unit_dir \"\${CMAKE_INSTALL_PREFIX}/\${unit_dir}\")
    endif()
    message(STATUS \"Installing: \$ENV{DESTDIR}\${unit_dir}/${name}\")
    configure_file(\"${template}\" \"\$ENV{DESTDIR}\${unit_dir}/${name}\" @ONLY)
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${unit_dir}/${name}\")")
endfunction()
