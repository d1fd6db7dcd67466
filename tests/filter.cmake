# The capture filter: its plain logic natively and under Wine; under Wine the
# DLL in this process, and the filter with ovalix-snap, the real service and
# the native stand-in (each case in a prefix copy of its own).

ovalix_add_test(source_logic_test SOURCES source_logic_test.cpp frame_convert_test.cpp
                LIBS ovalix_source_logic ovalix::turbojpeg)

if(WIN32)
  ovalix_add_test(filter_com_test SOURCES filter_com_test.cpp stored_table_access_win32.cpp
                  LIBS ovalix_com ovalix_filter_ids strmiids ole32 oleaut32 uuid LOCK)
  add_dependencies(filter_com_test ovalix_filter)
  # Over a block this test writes as the service does.
  ovalix_add_test(filter_consumers_test
                  SOURCES filter_consumers_test.cpp stored_table_access_win32.cpp
                  LIBS ovalix_com ovalix_source_logic ovalix::turbojpeg strmiids ole32 oleaut32 uuid
                  LOCK)
  add_dependencies(filter_consumers_test ovalix_filter)

  set(OVALIX_PHONE_PROGRAM "${PROJECT_SOURCE_DIR}/build/native/tools/phone/ovalix-phone"
      CACHE FILEPATH "The native phone stand-in used by the Windows process tests")

  foreach(case register formats pixels placeholder restart two_readers corrupt vmr9)
    set(runner sh ${CMAKE_CURRENT_SOURCE_DIR}/wine_private_prefix.sh)
    if(case STREQUAL "vmr9")
      # VMR-9 needs a display.
      set(runner xvfb-run -a ${runner})
    endif()
    add_test(NAME filter_process.${case}
             COMMAND ${runner} python3 ${CMAKE_CURRENT_SOURCE_DIR}/filter_process_test.py
                     --case ${case} --filter $<TARGET_FILE:ovalix_filter>
                     --snap $<TARGET_FILE:ovalix-snap> --svc $<TARGET_FILE:OvalixSvc>
                     --monitor $<TARGET_FILE:ovalix-monitor> --phone ${OVALIX_PHONE_PROGRAM}
                     --wine-run ${PROJECT_SOURCE_DIR}/scripts/wine-run.sh)
    set_tests_properties(filter_process.${case} PROPERTIES RESOURCE_LOCK service TIMEOUT 240)
  endforeach()
endif()
