# Installation: headers, the shared library with its SONAME, a CMake package
# (find_package(Strandel CONFIG) gives Strandel::strandel), a pkg-config file, the tool and its
# man page; and the Debian packages built from them through CPack.
include(CMakePackageConfigHelpers)

install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/strandel ${PROJECT_BINARY_DIR}/include/strandel
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)
install(TARGETS strandel EXPORT StrandelTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev)
install(EXPORT StrandelTargets NAMESPACE Strandel::
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Strandel COMPONENT dev)

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/StrandelConfig.cmake.in
  ${PROJECT_BINARY_DIR}/StrandelConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Strandel)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/StrandelConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/StrandelConfig.cmake ${PROJECT_BINARY_DIR}/StrandelConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Strandel COMPONENT dev)

# The pkg-config file finds its prefix from where it lies, so that the same file serves an
# install under any prefix (cmake --install --prefix, the Debian packages' /usr).
file(RELATIVE_PATH STRANDEL_PC_TO_PREFIX
  /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix/)
string(REGEX REPLACE "/$" "" STRANDEL_PC_TO_PREFIX "${STRANDEL_PC_TO_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/strandel.pc.in ${PROJECT_BINARY_DIR}/strandel.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/strandel.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)

install(FILES ${PROJECT_SOURCE_DIR}/docs/strandel.1
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tool)

# Debian packages: libstrandel1 (the shared library), libstrandel-dev (headers, CMake package,
# pkg-config file) and strandel (the tool).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME strandel)
set(CPACK_PACKAGE_VENDOR "Strandel developers")
set(CPACK_PACKAGE_CONTACT "Strandel developers <strandel@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "What a Mac's storage looks like, for disk-maintenance applications")
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime dev tool)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libstrandel1)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_DEV_PACKAGE_NAME libstrandel-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libstrandel1 (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_TOOL_PACKAGE_NAME strandel)
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION utils)
include(CPack)
