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

# Compressed once at configure time (and again whenever the source changes), so that an install
# of only the library and the tool still has them. gzip -n keeps no name or time stamp.
function(strandel_gzip source target)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
  execute_process(COMMAND gzip -9nc ${source} OUTPUT_FILE ${target} COMMAND_ERROR_IS_FATAL ANY)
endfunction()
strandel_gzip(${PROJECT_SOURCE_DIR}/docs/strandel.1 ${PROJECT_BINARY_DIR}/strandel.1.gz)
strandel_gzip(${PROJECT_SOURCE_DIR}/packaging/changelog ${PROJECT_BINARY_DIR}/changelog.Debian.gz)
install(FILES ${PROJECT_BINARY_DIR}/strandel.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tool)

# Debian packages: libstrandel1 (the shared library), libstrandel-dev (headers, CMake package,
# pkg-config file) and strandel (the tool), each with its copyright and changelog, and a -dbgsym
# package of debug symbols for each package with binaries, which are stripped. They install
# under /usr: configure with -DCMAKE_INSTALL_PREFIX=/usr (scripts/check-install does), so that
# GNUInstallDirs gives the multiarch library folder (lib/x86_64-linux-gnu).
set(STRANDEL_DEB_RELEASE 1)
set(STRANDEL_DEB_VERSION ${PROJECT_VERSION}-${STRANDEL_DEB_RELEASE})
set(STRANDEL_DEB_COMPONENTS runtime dev tool)
set(STRANDEL_DEB_PACKAGES libstrandel1 libstrandel-dev strandel)
foreach(component package IN ZIP_LISTS STRANDEL_DEB_COMPONENTS STRANDEL_DEB_PACKAGES)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${PROJECT_BINARY_DIR}/changelog.Debian.gz
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME strandel)
set(CPACK_PACKAGE_VENDOR "Strandel developers")
set(CPACK_PACKAGE_CONTACT "Strandel developers <strandel@example.org>")
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime dev tool)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${STRANDEL_DEB_RELEASE})
set(CPACK_DEBIAN_PACKAGE_SOURCE strandel)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The tool's libstrandel.so.1 is the one just built; the dependency on it is stated below.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR})
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
set(STRANDEL_DEB_ABOUT
  "Strandel tells a disk-maintenance application about a Mac's storage: the\n"
  "volume list with APFS containers and roles, OS version facts, mount-table\n"
  "lookups, capacities and byte text, a verify runner that streams the disk\n"
  "utility's output, Time Machine queries and a Full Disk Access probe. It\n"
  "answers for the live host or for a machine image, a folder that records a Mac.")
string(JOIN "" STRANDEL_DEB_ABOUT ${STRANDEL_DEB_ABOUT})

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libstrandel1)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
  "Mac storage facts for disk-maintenance applications - library\n${STRANDEL_DEB_ABOUT}\n\nThis package holds the shared library.")
# ldconfig runs through the trigger; the maintainer scripts that CPack writes to run it
# themselves are taken out again after the package is built (cmake/DebianPostBuild.cmake).
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/triggers)
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/DebianPostBuild.cmake)

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libstrandel-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libstrandel1 (= ${STRANDEL_DEB_VERSION})")
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEV_DESCRIPTION
  "Mac storage facts for disk-maintenance applications - development files\n${STRANDEL_DEB_ABOUT}\n\nThis package holds the C++20 headers, the CMake package\n(find_package(Strandel)) and the pkg-config file.")

# The tool uses internal functions of the library (its STRANDEL_PRIVATE version node), which
# may change in any release: it needs the very same version.
set(CPACK_DEBIAN_TOOL_PACKAGE_NAME strandel)
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_TOOL_PACKAGE_DEPENDS "libstrandel1 (= ${STRANDEL_DEB_VERSION})")
set(CPACK_COMPONENT_TOOL_DESCRIPTION
  "Mac storage facts for disk-maintenance applications - command-line tool\n${STRANDEL_DEB_ABOUT}\n\nThis package holds the strandel command, which answers every question of\nthe library as a table, JSON or a property list.")
include(CPack)
