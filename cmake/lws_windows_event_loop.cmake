# cmake -P lws_windows_event_loop.cmake, in libwebsockets' source folder.
# libwebsockets 4.1.6 waits on Windows with one event per slot of its socket
# table (WSAEventSelect onto events[slot + 1]). When a connection closes, the
# table's last socket moves into the freed slot but stays selected onto its
# old event, which the wait no longer includes: from then on that socket is
# never heard (under Wine a phone's TLS handshake stalled once any earlier
# connection had closed). The table also has 64 events only, and the wait
# takes no more, so a 64th socket wrote past their end.
#
# This keeps an event of its own for each of the first 62 slots, selects a
# socket moved into one of them onto its new event, and lets the slots after
# them share the last event: a wake of that one asks each of those sockets
# (lws_windows_fds.c, lws_windows_service_tsi.c). Each file replaces the
# library's functions from its first line to the function that follows them
# in the library, so running this again on patched sources is harmless.

# patch_region(file fragment begin end): the text of file from begin (or from
# the fragment's own first line, once patched) up to end becomes fragment's.
function(patch_region file fragment begin end)
  file(READ ${file} text)
  file(READ ${CMAKE_CURRENT_LIST_DIR}/${fragment} replacement)
  string(REGEX MATCH "^[^\n]*" first "${replacement}")
  string(FIND "${text}" "${first}" from)
  if(from EQUAL -1)
    string(FIND "${text}" "${begin}" from)
  endif()
  string(FIND "${text}" "${end}" to)
  if(from EQUAL -1 OR to EQUAL -1 OR to LESS from)
    message(FATAL_ERROR "libwebsockets: what ${fragment} replaces was not found in ${file}")
  endif()
  string(SUBSTRING "${text}" 0 ${from} head)
  string(SUBSTRING "${text}" ${to} -1 tail)
  file(WRITE ${file} "${head}${replacement}${tail}")
endfunction()

patch_region(lib/plat/windows/windows-sockets.c lws_windows_fds.c
             "void\nlws_plat_insert_socket_into_fds(" "const char *\nlws_plat_inet_ntop(")
patch_region(lib/plat/windows/windows-service.c lws_windows_service_tsi.c
             "extern void lws_client_conn_wait_timeout(" "int\nlws_plat_service(")
