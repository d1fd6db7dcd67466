# Under Wine the unit tests share the build tree's prefix. A service left
# installed there (by a live demo, say) would start with every new Wine session
# in it and take port 5055 and the named block from the tests, so the run
# begins by removing it, with any stored table, and then keeps one session
# open in the prefix until the unit tests are done. Every test that runs
# programs in that prefix requires this fixture; the process tests use copies
# of their own.
if(WIN32)
  add_test(NAME wine_prefix_open
           COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/wine_shared_prefix.sh open)
  add_test(NAME wine_prefix_close
           COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/wine_shared_prefix.sh close)
  set_tests_properties(wine_prefix_open PROPERTIES
                       FIXTURES_SETUP wine_prefix RESOURCE_LOCK service TIMEOUT 120)
  set_tests_properties(wine_prefix_close PROPERTIES
                       FIXTURES_CLEANUP wine_prefix TIMEOUT 60)
endif()
