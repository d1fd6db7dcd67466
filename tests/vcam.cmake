# The Media Foundation camera: its media types and picture conversion
# natively and under Wine; under Wine the source through Media Foundation's
# source reader with the real service and the native phone stand-in, and the
# registrar against a stand-in mfsensorgroup.dll.

ovalix_add_test(vcam_picture_test SOURCES vcam_picture_test.cpp LIBS ovalix_vcam_picture)

if(WIN32)
  add_executable(ovalix-vcam-read vcam_reader.cpp)
  target_compile_options(ovalix-vcam-read PRIVATE -U_WIN32_WINNT -D_WIN32_WINNT=0x0A00)
  target_include_directories(ovalix-vcam-read PRIVATE ${PROJECT_SOURCE_DIR}/vcam)
  target_link_libraries(ovalix-vcam-read PRIVATE ovalix_com ovalix_block mfreadwrite mfplat mfuuid
                        ole32 uuid)
endif()

if(WIN32)
  # The registrar's tests put this stand-in into the prefix's system folder.
  add_library(sensorgroup_double SHARED sensorgroup_double.cpp mfsensorgroup.def)
  set_target_properties(sensorgroup_double PROPERTIES PREFIX "" OUTPUT_NAME mfsensorgroup
                        LIBRARY_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/sensorgroup
                        RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/sensorgroup)
  target_compile_options(sensorgroup_double PRIVATE -U_WIN32_WINNT -D_WIN32_WINNT=0x0A00)
  target_include_directories(sensorgroup_double PRIVATE ${PROJECT_SOURCE_DIR}/vcam)
  target_link_libraries(sensorgroup_double PRIVATE ovalix_com mfplat mfuuid ole32 uuid)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    target_link_options(sensorgroup_double PRIVATE -Wl,--enable-stdcall-fixup)
  endif()
endif()

if(WIN32)
  foreach(case formats pixels renegotiate placeholder restart shutdown two_readers registrar)
    add_test(NAME vcam_process.${case}
             COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/wine_private_prefix.sh
                     python3 ${CMAKE_CURRENT_SOURCE_DIR}/vcam_process_test.py --case ${case}
                     --source $<TARGET_FILE:ovalix_vcam> --reader $<TARGET_FILE:ovalix-vcam-read>
                     --registrar $<TARGET_FILE:ovalix-vcam>
                     --sensorgroup $<TARGET_FILE:sensorgroup_double> --svc $<TARGET_FILE:OvalixSvc>
                     --monitor $<TARGET_FILE:ovalix-monitor> --phone ${OVALIX_PHONE_PROGRAM}
                     --wine-run ${PROJECT_SOURCE_DIR}/scripts/wine-run.sh)
    set_tests_properties(vcam_process.${case} PROPERTIES RESOURCE_LOCK service TIMEOUT 240)
  endforeach()
endif()
