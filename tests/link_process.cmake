# Process tests of the TCP link: the real service, the phone stand-in and the
# monitor. Natively the programs of this build; in the Windows build the .exe
# programs under Wine (the service installed and started as a service) with
# the native stand-in from the native build.

if(WIN32)
  set(OVALIX_PHONE_PROGRAM "${PROJECT_SOURCE_DIR}/build/native/tools/phone/ovalix-phone"
      CACHE FILEPATH "The native phone stand-in used by the Windows process tests")
  set(link_phone ${OVALIX_PHONE_PROGRAM})
  set(link_wine --wine-run ${PROJECT_SOURCE_DIR}/scripts/wine-run.sh)
  # Each case in a prefix of its own (see wine_private_prefix.sh).
  set(link_runner sh ${CMAKE_CURRENT_SOURCE_DIR}/wine_private_prefix.sh)
else()
  set(link_phone $<TARGET_FILE:ovalix-phone>)
  set(link_wine)
  set(link_runner)
endif()

set(link_cases stream ring_full renegotiate timeout_table timeout_streaming peer_close
               alive_only hostile_bytes hostile_state hung_reader busy_port second_instance
               two_readers reader_survives_restart)
if(NOT WIN32)
  # A Windows mapping cannot be shrunk by another process.
  list(APPEND link_cases truncated_objects cut_and_vanished_objects)
endif()
foreach(case IN LISTS link_cases)
  add_test(NAME link_process.${case}
           COMMAND ${link_runner}
                   python3 ${CMAKE_CURRENT_SOURCE_DIR}/link_process_test.py --case ${case}
                   --svc $<TARGET_FILE:OvalixSvc> --monitor $<TARGET_FILE:ovalix-monitor>
                   --phone ${link_phone} --child $<TARGET_FILE:block_consumer_child>
                   ${link_wine})
  set_tests_properties(link_process.${case} PROPERTIES RESOURCE_LOCK service TIMEOUT 240)
endforeach()
