# Run by CPack after the Debian packages are built. CPack gives a package with a shared library
# in /usr/lib maintainer scripts that call ldconfig; Debian runs ldconfig through the libc-bin
# trigger instead, which libstrandel1 activates (packaging/triggers). The scripts are taken out
# of the package, whose files stay as they were.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(NOT package MATCHES "/libstrandel1_[^/]*\\.deb$")
    continue()
  endif()
  set(tree "${CPACK_TOPLEVEL_DIRECTORY}/libstrandel1-repack")
  file(REMOVE_RECURSE "${tree}")
  execute_process(COMMAND dpkg-deb --raw-extract "${package}" "${tree}" COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE "${tree}/DEBIAN/postinst" "${tree}/DEBIAN/postrm")
  execute_process(COMMAND dpkg-deb --root-owner-group --build "${tree}" "${package}"
    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE "${tree}")
endforeach()
