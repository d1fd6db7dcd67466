# The socket wrapper, the stream protocol and the connection cycle. All of them
# use port 5055 on loopback, and the protocol and cycle tests the named block.
set(store_access stored_table_access_${OVALIX_PLATFORM}.cpp)
ovalix_add_test(net_socket_test SOURCES net_socket_test.cpp ${store_access} LOCK)
ovalix_add_test(stream_protocol_test SOURCES stream_protocol_test.cpp ${store_access} LOCK)
ovalix_add_test(connection_cycle_test SOURCES connection_cycle_test.cpp ${store_access} LOCK)
ovalix_add_test(frame_path_alloc_test SOURCES frame_path_alloc_test.cpp ${store_access} LOCK)
