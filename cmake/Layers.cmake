# One target per source folder, its dependencies following the layering, lowest first:
#
#   base, text              handles, whole files, UTF-8; text work
#   plist                   property lists
#   platform (the seam)     Machine.hpp: the services every subsystem reaches
#   machineimage            machine.plist's keys, reader and writer
#   platform/app            the host application's services: settings, translations, log
#   platform/posix          the portable part of the live host: files, spawning, the runner
#   apfsdisk                APFS containers read from their on-disk structures
#   platform/linux, platform/image
#                           the backends (a macOS backend goes in platform/mac/); the image
#                           backend is handed its sandbox and reaches no OS part
#   system                  OS version, mount lookups, Time Machine tool, Full Disk Access
#   apfs                    the disk utility's APFS listing (gated on the OS version)
#   capacity                sizes and byte text (a mount's container, the OS version)
#   framework               the volume list, verify runner, network backup test
#   api                     the exported functions, each forwarding to its folder: the only
#                           library files that include <strandel/Strandel.hpp>
#   tools/strandel          the tool (its own CMakeLists.txt)
#
# Every folder but api is compiled with STRANDEL_SUBSYSTEM, under which the public umbrella
# refuses to compile: a folder can't reach a higher one through the exported functions either.
#
# A folder's headers are reached through a folder of links of its own
# (build/layers/TARGET/FOLDER/*.hpp), and a target's include path holds only its own folder
# and those it links to: including a header of a folder it must not reach fails to compile.

# Links the headers of `folder` into a layer of their own; its path goes to `out`.
function(strandel_layer out target folder)
  file(GLOB headers CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${folder}/*.hpp)
  set(layer ${PROJECT_BINARY_DIR}/layers/${target})
  file(REMOVE_RECURSE ${layer})
  file(MAKE_DIRECTORY ${layer}/${folder})
  foreach(header ${headers})
    get_filename_component(name ${header} NAME)
    file(CREATE_LINK ${header} ${layer}/${folder}/${name} SYMBOLIC)
  endforeach()
  set(${out} ${layer} PARENT_SCOPE)
endfunction()

# strandel_folder(TARGET FOLDER [HEADERS_ONLY] [EXPORTED_API] [PUBLIC deps...] [PRIVATE deps...]):
# the folder's sources compiled once into an object library (or, for headers alone, an interface
# library). Only the EXPORTED_API folder may include the public umbrella.
function(strandel_folder target folder)
  cmake_parse_arguments(ARG "HEADERS_ONLY;EXPORTED_API" "" "PUBLIC;PRIVATE" ${ARGN})
  strandel_layer(layer ${target} ${folder})
  if(ARG_HEADERS_ONLY)
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE ${layer})
    target_link_libraries(${target} INTERFACE strandel_public ${ARG_PUBLIC})
  else()
    file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${folder}/*.cpp)
    add_library(${target} OBJECT ${sources})
    target_include_directories(${target} PUBLIC ${layer})
    target_link_libraries(${target} PUBLIC strandel_public ${ARG_PUBLIC} PRIVATE ${ARG_PRIVATE})
    if(NOT ARG_EXPORTED_API)
      target_compile_definitions(${target} PRIVATE STRANDEL_SUBSYSTEM)
    endif()
    set(STRANDEL_FOLDER_TARGETS ${STRANDEL_FOLDER_TARGETS} ${target} PARENT_SCOPE)
    set(STRANDEL_SOURCES ${STRANDEL_SOURCES} ${sources} PARENT_SCOPE)
  endif()
  set(STRANDEL_LAYERS ${STRANDEL_LAYERS} ${layer} PARENT_SCOPE)
endfunction()

# Test code (test programs, fuzz targets replaying their corpus) runs each case once and is
# timed nowhere, so it is compiled without optimisation, which takes a fraction of the time;
# the library it tests keeps the build's optimisation. A build type's own flags stay in force
# where a sanitizer build asks for them. Its debug information is line tables alone: a failing
# case's backtrace and a debugger's steps need no more, and full information cost up to a fifth
# of its compile time. Its programs are linked by lld where there is one: each links the whole
# library, debug information included, which lld does in less than half the CPU time of the
# default linker.
function(strandel_test_code target)
  if(CMAKE_BUILD_TYPE MATCHES "^(RelWithDebInfo|Release)$")
    target_compile_options(${target} PRIVATE -O0)
  endif()
  if(CMAKE_BUILD_TYPE STREQUAL "RelWithDebInfo")
    target_compile_options(${target} PRIVATE -g1)
  endif()
  get_target_property(type ${target} TYPE)
  if(STRANDEL_HAVE_LLD AND type STREQUAL "EXECUTABLE")
    target_link_options(${target} PRIVATE -fuse-ld=lld)
  endif()
endfunction()
