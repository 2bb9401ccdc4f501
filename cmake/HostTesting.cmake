# GoogleTest for the test programs:
# - cross builds (mingw-w64, and the clang-cl compile check): built from the sources of
#   Debian's googletest package, HOSTS_GTEST_SOURCE;
# - natively: an installed GoogleTest (find_package). On Windows, when none is found, a
#   pinned release is fetched from GitHub and built here with the project's C runtime
#   (static, see the top-level CMakeLists). An installed one must use that runtime too:
#   vcpkg's x64-windows-static triplet, for example.
set(HOSTS_GTEST_RELEASE v1.14.0 CACHE STRING "GoogleTest release fetched on Windows when none is installed")

function(host_gtest_as_system_headers target)
  get_target_property(dirs ${target} INTERFACE_INCLUDE_DIRECTORIES)
  set_target_properties(${target} PROPERTIES INTERFACE_SYSTEM_INCLUDE_DIRECTORIES "${dirs}")
endfunction()

if(WIN32 AND CMAKE_CROSSCOMPILING)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  # Windows threads only; the try-compile of the clang-cl check cannot tell.
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  set(HOSTS_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for the cross build")
  add_subdirectory(${HOSTS_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  if(MINGW)
    foreach(gtest_target gtest gtest_main)
      target_link_options(${gtest_target} INTERFACE -static -static-libgcc -static-libstdc++)
    endforeach()
  endif()
elseif(WIN32)
  find_package(GTest QUIET)
  if(NOT GTest_FOUND)
    message(STATUS "GoogleTest not installed: fetching ${HOSTS_GTEST_RELEASE}")
    include(FetchContent)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
    FetchContent_Declare(googletest
      GIT_REPOSITORY https://github.com/google/googletest.git
      GIT_TAG ${HOSTS_GTEST_RELEASE}
      GIT_SHALLOW TRUE)
    FetchContent_MakeAvailable(googletest)
    foreach(gtest_target gtest gtest_main)
      host_gtest_as_system_headers(${gtest_target})
    endforeach()
  endif()
else()
  find_package(GTest REQUIRED)
endif()
include(GoogleTest)

# host_add_gtest(name SOURCES ... LIBS ... [TIMEOUT s] [SERIAL])
# SERIAL: its tests run while no other test does (they read the shared screen).
function(host_add_gtest name)
  cmake_parse_arguments(T "SERIAL" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  set(serial FALSE)
  if(T_SERIAL)
    set(serial TRUE)
  endif()
  add_executable(${name} ${T_SOURCES})
  host_target_defaults(${name})
  host_static_runtime(${name})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 180
                       PROPERTIES TIMEOUT ${T_TIMEOUT} RUN_SERIAL ${serial})
endfunction()
