# The consumers' side of the block: the consumer library against the
# service's writer side, the placeholder pacing and card, and the monitor's
# counting. Natively and in both Windows bitnesses.

if(WIN32)
  set(consumer_platform_sources child_process_win32.cpp stored_table_access_win32.cpp)
else()
  set(consumer_platform_sources child_process_posix.cpp stored_table_access_posix.cpp)
endif()

set(client_test_sources camera_client_test.cpp)
if(NOT WIN32)
  list(APPEND client_test_sources camera_client_posix_test.cpp)
endif()
ovalix_add_test(camera_client_test
  SOURCES ${client_test_sources} ${consumer_platform_sources} LIBS ovalix_client LOCK)

ovalix_add_test(camera_feed_test
  SOURCES camera_feed_test.cpp ${consumer_platform_sources} LIBS ovalix_client LOCK)

ovalix_add_test(placeholder_pacing_test
  SOURCES placeholder_pacing_test.cpp placeholder_card_test.cpp LIBS ovalix_client)

ovalix_add_test(picture_size_test SOURCES picture_size_test.cpp LIBS ovalix_client)

ovalix_add_test(frame_stats_test SOURCES frame_stats_test.cpp LIBS ovalix_frame_stats)

# The tools' command lines.
if(WIN32)
  set(tool_options_sources monitor_options_test.cpp snap_options_test.cpp)
  set(tool_options_libs ovalix_monitor_options ovalix_snap_options)
else()
  set(tool_options_sources monitor_options_test.cpp phone_options_test.cpp
                           camera_options_test.cpp)
  set(tool_options_libs ovalix_monitor_options ovalix_phone_options ovalix_camera_options)
endif()
ovalix_add_test(tool_options_test SOURCES ${tool_options_sources} LIBS ${tool_options_libs})
