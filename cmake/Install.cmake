# Installation: headers, the shared library with its SONAME, a CMake package
# (find_package(Strandel CONFIG) gives Strandel::strandel), a pkg-config file, the tool and its
# man page. The Debian packages are built from this install by debian/ (dpkg-buildpackage).
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

# The pkg-config file names its folders plainly under the configured prefix (prefix=/usr,
# libdir=${prefix}/lib/x86_64-linux-gnu), as Debian's own libraries do, so that pkg-config
# recognises the system folders and leaves them out of the flags. An install staged elsewhere
# (DESTDIR) is reached with PKG_CONFIG_SYSROOT_DIR.
foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(STRANDEL_PC_${dir} "${CMAKE_INSTALL_${dir}}")
  else()
    set(STRANDEL_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
configure_file(${PROJECT_SOURCE_DIR}/cmake/strandel.pc.in ${PROJECT_BINARY_DIR}/strandel.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/strandel.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)

# Compressed once at configure time (and again whenever the source changes), so that an install
# of only the library and the tool still has it. gzip -n keeps no name or time stamp.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/strandel.1)
execute_process(COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/docs/strandel.1
  OUTPUT_FILE ${PROJECT_BINARY_DIR}/strandel.1.gz COMMAND_ERROR_IS_FATAL ANY)
install(FILES ${PROJECT_BINARY_DIR}/strandel.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tool)
