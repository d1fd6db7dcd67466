# cmake -P lws_windows_event_loop.cmake, in libwebsockets' source folder.
# libwebsockets 4.1.6 waits on Windows with one event per slot of its socket
# table (WSAEventSelect onto events[slot + 1]). When a connection closes, the
# table's last socket moves into the freed slot but stays selected onto its
# old event, which the wait no longer includes: from then on that socket is
# never heard (a phone's TLS handshake stalls after any earlier connection has
# closed). The wait also takes at most 64 events, and the table has 64 events
# only, so a 64th socket writes past its end. This selects every socket onto
# one event and, when it fires, reads each socket's own network events
# (lws_windows_service_tsi.c; it starts with the declaration that
# precedes the library's wait and ends where lws_plat_service() begins).
# Running it again on patched sources is harmless.
set(sockets lib/plat/windows/windows-sockets.c)
file(READ ${sockets} text)
string(REPLACE "WSAEventSelect(wsi->desc.sockfd, pt->events[(pfd - pt->fds) + 1], e)"
               "WSAEventSelect(wsi->desc.sockfd, pt->events[1], e)" text "${text}")
string(FIND "${text}" "WSAEventSelect(wsi->desc.sockfd, pt->events[1], e)" selected)
if(selected EQUAL -1)
  message(FATAL_ERROR "libwebsockets: the sockets' event selection was not found in ${sockets}")
endif()
file(WRITE ${sockets} "${text}")

set(service lib/plat/windows/windows-service.c)
file(READ ${service} text)
string(FIND "${text}" "extern void lws_client_conn_wait_timeout(" begin)
string(FIND "${text}" "int\nlws_plat_service(" end)
if(begin EQUAL -1 OR end EQUAL -1 OR end LESS begin)
  message(FATAL_ERROR "libwebsockets: the Windows service wait was not found in ${service}")
endif()
string(SUBSTRING "${text}" 0 ${begin} head)
string(SUBSTRING "${text}" ${end} -1 tail)
file(READ ${CMAKE_CURRENT_LIST_DIR}/lws_windows_service_tsi.c wait)
file(WRITE ${service} "${head}${wait}${tail}")
