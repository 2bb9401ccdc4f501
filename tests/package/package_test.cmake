# The package test: installs the build into a fresh folder, checks that it holds what an
# application needs and nothing of the tests, builds the package's own examples (a small C
# program and the multiview) against it with find_package, runs the first against the installed Tivane with the
# simulated runtime's folder as its library folder (PATH does not have it), and checks
# that the release archive (CPack ZIP) holds the same files.
#   cmake -DBUILD_DIR=... -DCONFIG=... -DGENERATOR=... [-DTOOLCHAIN=...] [-DRUNNER=a|b|c]
#         -DSIM_DIR=... -DVERSION=... -P package_test.cmake
# RUNNER runs a Windows program (scripts/wine-run under Linux; empty on Windows).
cmake_minimum_required(VERSION 3.20)

set(work ${BUILD_DIR}/package_test)
set(prefix ${work}/prefix)
file(REMOVE_RECURSE ${work})
string(REPLACE "|" ";" runner "${RUNNER}")

function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT code EQUAL 0)
    message(FATAL_ERROR "${what} failed (${code}):\n${out}\n${err}")
  endif()
  set(output "${out}" PARENT_SCOPE)
endfunction()

# A path as the Windows program sees it: under Wine, / is drive Z:.
function(windows_path path out)
  if(runner)
    string(REPLACE "/" "\\" path "Z:${path}")
  endif()
  set(${out} "${path}" PARENT_SCOPE)
endfunction()

run("install" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix} --config ${CONFIG})

# What goes to an integrator, file by file.
string(TOLOWER "${CONFIG}" config)
set(docs share/doc/ReceiverHosts)
set(expected
    bin/Grelm.exe bin/Parlex.exe bin/Tivane.exe bin/host_controller.dll bin/hostctl.exe
    include/host_controller.h
    lib/cmake/HostController/HostControllerConfig.cmake
    lib/cmake/HostController/HostControllerConfigVersion.cmake
    lib/cmake/HostController/HostControllerTargets-${config}.cmake
    lib/cmake/HostController/HostControllerTargets.cmake
    ${docs}/README.md ${docs}/docs/architecture.md ${docs}/docs/embedding.md
    ${docs}/docs/performance.md ${docs}/docs/protocol.md ${docs}/docs/reliability.md
    ${docs}/examples/CMakeLists.txt ${docs}/examples/embed_example.c
    ${docs}/examples/quick_start.c ${docs}/examples/multiview/CMakeLists.txt
    ${docs}/examples/multiview/multiview.cpp)
if(EXISTS ${prefix}/lib/host_controller.lib)
  list(APPEND expected lib/host_controller.lib)  # MSVC
else()
  list(APPEND expected lib/libhost_controller.dll.a)  # mingw-w64
endif()
list(SORT expected)
file(GLOB_RECURSE installed LIST_DIRECTORIES false RELATIVE ${prefix} ${prefix}/*)
list(SORT installed)
if(NOT installed STREQUAL expected)
  message(FATAL_ERROR "installed:\n  ${installed}\nexpected:\n  ${expected}")
endif()

# An application of an integrator's, through find_package alone.
set(configure ${CMAKE_COMMAND} -S ${prefix}/${docs}/examples -B ${work}/app -G ${GENERATOR}
              -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=Release)
if(TOOLCHAIN)
  list(APPEND configure -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN})
endif()
run("configuring the example against the package" ${configure})
run("building the example" ${CMAKE_COMMAND} --build ${work}/app)
# The multiview example builds from the package alone as well (its pictures are judged by
# the end-to-end view test, and the demo runs it).
string(REPLACE "${docs}/examples" "${docs}/examples/multiview" configure "${configure}")
string(REPLACE "${work}/app" "${work}/multiview" configure "${configure}")
run("configuring multiview against the package" ${configure})
run("building multiview" ${CMAKE_COMMAND} --build ${work}/multiview)

windows_path(${prefix}/bin/Tivane.exe host)
windows_path(${SIM_DIR} library_folder)
run("the example against Tivane" ${runner} ${work}/app/quick_start.exe ${host}
    "pattern:64x64@30" ${library_folder})
foreach(wanted "host_controller ${VERSION}" "status connected" "stats " "host exited with code 0")
  string(FIND "${output}" "${wanted}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the example's output lacks '${wanted}':\n${output}")
  endif()
endforeach()

# The release archive: the same files under one folder named after the package.
run("cpack" ${CMAKE_CPACK_COMMAND} -G ZIP -C ${CONFIG} --config ${BUILD_DIR}/CPackConfig.cmake
    -B ${work}/archive)
file(GLOB archive ${work}/archive/ReceiverHosts-${VERSION}-win64-*.zip)
run("listing the archive" ${CMAKE_COMMAND} -E tar tf ${archive})
string(REGEX REPLACE "\n$" "" listed "${output}")
string(REPLACE "\n" ";" listed "${listed}")
list(FILTER listed EXCLUDE REGEX "/$")
list(TRANSFORM listed REPLACE "^[^/]+/(.*)$" "\\1")
list(SORT listed)
if(NOT listed STREQUAL expected)
  message(FATAL_ERROR "the archive:\n  ${listed}\nthe install:\n  ${expected}")
endif()
get_filename_component(archive_name ${archive} NAME)
file(SIZE ${archive} archive_bytes)
message(STATUS "package: ${archive_name}, ${archive_bytes} bytes")
