# GoogleTest, and how test binaries are run.
#
# Natively the installed GoogleTest is used. For Windows it is built from
# /usr/src/googletest with the cross compiler, and CTest runs every Windows
# test binary under Wine in a private prefix inside the build tree.

include(GoogleTest)

if(CMAKE_CROSSCOMPILING AND WIN32)
  set(WEIGH_WINEPREFIX ${PROJECT_BINARY_DIR}/wineprefix)
  if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/tools/wine-run ${WEIGH_WINEPREFIX})
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  # The compiler's C++ library has no std::mutex (see the toolchain file):
  # GoogleTest gets a replacement for the one class of it that needs one.
  # Searched before GoogleTest's own directories, by GoogleTest itself and
  # (as -I, before every system directory) by the tests.
  target_include_directories(gtest BEFORE PRIVATE ${PROJECT_SOURCE_DIR}/cmake/googletest)
  target_compile_options(gtest INTERFACE -I${PROJECT_SOURCE_DIR}/cmake/googletest)
else()
  find_package(GTest REQUIRED)
endif()

# weigh_add_test(NAME [SERIAL_LINES] SOURCES... LIBRARIES... PROPERTIES...):
# one test binary, its tests registered one by one with CTest. Discovery
# happens when the tests run, so that a cross build does not start Wine at
# build time. SERIAL_LINES: under Wine the binary runs with two COM pairs
# joined outside it (tools/wine-com-pairs).
function(weigh_add_test name)
  cmake_parse_arguments(ARG "SERIAL_LINES" "" "SOURCES;LIBRARIES;PROPERTIES" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES} GTest::gtest GTest::gtest_main)
  if(ARG_SERIAL_LINES AND CMAKE_CROSSCOMPILING AND WIN32)
    set_property(TARGET ${name} PROPERTY CROSSCOMPILING_EMULATOR
                 ${PROJECT_SOURCE_DIR}/tools/wine-com-pairs ${WEIGH_WINEPREFIX})
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
                       PROPERTIES TIMEOUT 300 ${ARG_PROPERTIES})
endfunction()
