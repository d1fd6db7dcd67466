# cmake -P lws_windows_socket_io.cmake, in libwebsockets' source folder.
# libwebsockets 4.1.6 on Windows with mbedTLS reads and writes its sockets
# with the C runtime's read() and write(), which take file descriptors, not
# sockets: every TLS handshake fails (EBADF). This turns them into recv() and
# send() and asks Winsock, not errno, whether the socket would block.
set(file lib/plat/windows/windows-sockets.c)
file(READ ${file} text)
set(before "${text}")
string(REPLACE "ret = write(fd, buf, len);\n\tif (ret >= 0)\n\t\treturn ret;\n\n\tif (errno == EAGAIN || errno == EWOULDBLOCK)"
               "ret = send((SOCKET)fd, (const char *)buf, (int)len, 0);\n\tif (ret >= 0)\n\t\treturn ret;\n\n\tif (WSAGetLastError() == WSAEWOULDBLOCK)"
               text "${text}")
string(REPLACE "ret = (int)read(fd, buf, len);\n\tif (ret >= 0)\n\t\treturn ret;\n\n\tif (errno == EAGAIN || errno == EWOULDBLOCK)"
               "ret = recv((SOCKET)fd, (char *)buf, (int)len, 0);\n\tif (ret >= 0)\n\t\treturn ret;\n\n\tif (WSAGetLastError() == WSAEWOULDBLOCK)"
               text "${text}")
string(FIND "${text}" "send((SOCKET)fd" sends)
string(FIND "${text}" "recv((SOCKET)fd" recvs)
if(sends EQUAL -1 OR recvs EQUAL -1)
  message(FATAL_ERROR "libwebsockets: the Windows socket reads and writes were not found in ${file}")
endif()
file(WRITE ${file} "${text}")
