# What an integrator installs: the three hosts, hostctl, host_controller.dll with its import
# library and the one header an application includes, a CMake package (HostController:
# find_package(HostController), HostController::controller), the documents and the
# examples that build against the installed package (quick_start, multiview). `cmake --install` lays it out; CPack
# makes the release archive (ZIP) of the same layout. The simulated runtimes and the test
# programs are never part of it.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(HOSTS_PACKAGE_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/HostController)
set(HOSTS_PACKAGE_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/ReceiverHosts)

install(TARGETS Tivane Parlex Grelm hostctl host_controller
        EXPORT HostControllerTargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
get_property(hosts_installed_headers GLOBAL PROPERTY HOSTS_INSTALLED_HEADERS)
install(FILES ${hosts_installed_headers} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

install(EXPORT HostControllerTargets
        NAMESPACE HostController::
        DESTINATION ${HOSTS_PACKAGE_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/HostControllerConfig.cmake.in
                              ${CMAKE_CURRENT_BINARY_DIR}/HostControllerConfig.cmake
                              INSTALL_DESTINATION ${HOSTS_PACKAGE_CMAKE_DIR})
# 0.x: a minor release may change what an application sees; from 1.0 on, the major one.
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/HostControllerConfigVersion.cmake
                                 COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/HostControllerConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/HostControllerConfigVersion.cmake
        DESTINATION ${HOSTS_PACKAGE_CMAKE_DIR})

# As in the source tree, so that the documents' links hold.
install(FILES README.md DESTINATION ${HOSTS_PACKAGE_DOC_DIR})
install(FILES docs/architecture.md docs/embedding.md docs/performance.md docs/protocol.md
              docs/reliability.md
        DESTINATION ${HOSTS_PACKAGE_DOC_DIR}/docs)
install(FILES controller/examples/embed_example.c controller/examples/quick_start/CMakeLists.txt
              controller/examples/quick_start/quick_start.c
        DESTINATION ${HOSTS_PACKAGE_DOC_DIR}/examples)
install(FILES controller/examples/multiview/CMakeLists.txt
              controller/examples/multiview/multiview.cpp
        DESTINATION ${HOSTS_PACKAGE_DOC_DIR}/examples/multiview)

set(CPACK_PACKAGE_NAME ReceiverHosts)
set(CPACK_PACKAGE_VENDOR "Receiver hosts")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Receiver hosts (Tivane, Parlex, Grelm) and the controller library that starts and steers them")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
if(MSVC)
  set(hosts_package_compiler msvc)
else()
  set(hosts_package_compiler mingw)
endif()
set(CPACK_PACKAGE_FILE_NAME ReceiverHosts-${PROJECT_VERSION}-win64-${hosts_package_compiler})
set(CPACK_GENERATOR ZIP)
# mingw-w64 leaves the symbols in; the archive goes without them (MSVC keeps them apart).
set(CPACK_STRIP_FILES TRUE)
set(CPACK_SOURCE_GENERATOR "")
include(CPack)
