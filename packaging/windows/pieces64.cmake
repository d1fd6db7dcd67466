# In the 64-bit Windows build: names the programs the 32-bit build's installer
# takes from here, as NSIS definitions.
set(defines "")
if(TARGET ovalix_filter)
  string(APPEND defines "!define FILTER64 \"$<TARGET_FILE:ovalix_filter>\"\n")
endif()
if(TARGET ovalix-snap)
  string(APPEND defines "!define SNAP64 \"$<TARGET_FILE:ovalix-snap>\"\n")
endif()
file(GENERATE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/pieces64.nsh CONTENT "${defines}")
