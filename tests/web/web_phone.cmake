add_test(NAME web_phone
         COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/web_phone_test.py
                 --svc $<TARGET_FILE:OvalixSvc> --monitor $<TARGET_FILE:ovalix-monitor>
                 --bridge $<TARGET_FILE:ovalix-web>)
# Ports 5055 to 5057 and the named objects: never beside another process
# test; and alone, since the browser needs the cores for its pictures.
set_tests_properties(web_phone PROPERTIES RESOURCE_LOCK service RUN_SERIAL TRUE TIMEOUT 240
                     SKIP_RETURN_CODE 77)
