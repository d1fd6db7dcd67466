# Under Wine the unit tests share the build tree's prefix. A service left
# installed there (by a live demo, say) would start with every new Wine session
# in it and take port 5055 and the named block from the tests, so the run
# begins by removing it, with any stored table. Every test that runs programs
# in that prefix requires this; the process tests use copies of their own.
if(WIN32)
  add_test(NAME wine_prefix_scrub COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/wine_prefix_scrub.sh)
  set_tests_properties(wine_prefix_scrub PROPERTIES
                       FIXTURES_SETUP wine_prefix RESOURCE_LOCK service TIMEOUT 60)
endif()
