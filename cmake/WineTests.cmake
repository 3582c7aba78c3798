# Tests run under Wine: GoogleTest built with the cross toolchain, one Wine
# prefix inside the build folder, a persistent wineserver as a CTest fixture.
include(GoogleTest)

set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

set(DERODO_WINE_SESSION ${PROJECT_SOURCE_DIR}/scripts/wine-session)

add_test(NAME wine.session.start
         COMMAND ${DERODO_WINE_SESSION} start ${DERODO_WINEPREFIX} $<TARGET_FILE:desktopkeeper>)
set_tests_properties(wine.session.start PROPERTIES FIXTURES_SETUP wine)
add_test(NAME wine.session.stop COMMAND ${DERODO_WINE_SESSION} stop ${DERODO_WINEPREFIX})
set_tests_properties(wine.session.stop PROPERTIES FIXTURES_CLEANUP wine)

# derodo_add_gtest(<target> SOURCES <files...> [LIBS <libs...>] [WINDOW]
#                  [LOCKS <resources...>])
# A WINDOW test drives real windows: it needs the X display and takes the
# desktop for itself, so window tests never run side by side.
# LOCKS names what the tests use alone, such as a service of a fixed name.
function(derodo_add_gtest target)
  cmake_parse_arguments(ARG "WINDOW" "" "SOURCES;LIBS;LOCKS" ${ARGN})
  add_executable(${target} ${ARG_SOURCES})
  target_link_libraries(${target} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  set(properties FIXTURES_REQUIRED wine TIMEOUT 120)
  set(locks ${ARG_LOCKS})
  if(ARG_WINDOW)
    list(APPEND locks desktop)
    list(APPEND properties LABELS window)
  endif()
  gtest_discover_tests(${target}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    NO_PRETTY_VALUES
    PROPERTIES ${properties})
  if(locks)
    # The discovery flattens list values, so the locks are set afterwards on
    # the tests it found.
    set(lock_file ${CMAKE_CURRENT_BINARY_DIR}/${target}_locks.cmake)
    file(WRITE ${lock_file}
      "if(${target}_TESTS)\n"
      "  set_tests_properties(\${${target}_TESTS} PROPERTIES RESOURCE_LOCK \"${locks}\")\n"
      "endif()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${lock_file})
  endif()
endfunction()
