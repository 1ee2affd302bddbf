# Installing and packaging. Four parts: the Install program, the tools ini-check and ini-edit, the
# library for developers (libini.a, its headers, a CMake package, where find_package(ini)
# gives the target ini::ini, and a pkg-config file), and the documents (README, the user's
# guide, the licence).
#
# Packages, by CPack from a build: on Windows a zip of all four parts; elsewhere a .tar.gz
# and a Debian package of the library, the checker and the documents (scripts/package.sh).
# The archives unpack into a folder of their own name.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

if(TARGET Install)
  install(TARGETS Install RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT programs)
  install(TARGETS ini-check ini-edit RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT checker)
  install(FILES ${PROJECT_SOURCE_DIR}/tools/ini_check/ini-check.1
                ${PROJECT_SOURCE_DIR}/tools/ini_edit/ini-edit.1
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT checker)
endif()
install(TARGETS ini EXPORT iniTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/ini/include/ini/ini.h ${PROJECT_SOURCE_DIR}/ini/include/ini/ini.hpp
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/ini COMPONENT library)

set(ini_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/ini)
install(EXPORT iniTargets NAMESPACE ini:: DESTINATION ${ini_cmake_dir} COMPONENT library)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/iniConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/iniConfig.cmake
                              INSTALL_DESTINATION ${ini_cmake_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/iniConfigVersion.cmake
                                 VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/iniConfig.cmake ${PROJECT_BINARY_DIR}/iniConfigVersion.cmake
        DESTINATION ${ini_cmake_dir} COMPONENT library)

file(RELATIVE_PATH ini_pc_to_prefix /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
configure_file(${CMAKE_CURRENT_LIST_DIR}/ini.pc.in ${PROJECT_BINARY_DIR}/ini.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/ini.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
        COMPONENT library)

# The README and the licence: at the top of the Windows zip, where its users look; in the
# Debian place elsewhere, where the licence is the package's copyright file.
set(quorva_deb_name libquorva-ini-dev)
if(WIN32)
  set(quorva_doc_dir .)
  set(quorva_licence_name LICENSE)
else()
  set(quorva_doc_dir ${CMAKE_INSTALL_DATADIR}/doc/${quorva_deb_name})
  set(quorva_licence_name copyright)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${quorva_doc_dir} COMPONENT docs)
install(FILES ${PROJECT_SOURCE_DIR}/docs/library.md DESTINATION ${quorva_doc_dir}/docs COMPONENT docs)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${quorva_doc_dir}
        RENAME ${quorva_licence_name} COMPONENT docs)

set(CPACK_PACKAGE_NAME quorva-install)
set(CPACK_PACKAGE_VENDOR "The Quorva Install authors")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "INI configuration files for C and C++: ordered documents, a reader and a writer")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_CONTACT "The Quorva Install authors <maintainers@quorva.invalid>")
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES OFF)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-win32)
  else()
    set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-win64)
  endif()
  set(quorva_packaged programs checker library docs)
else()
  set(CPACK_GENERATOR "TGZ;DEB")
  set(CPACK_PACKAGE_FILE_NAME ${quorva_deb_name}-${PROJECT_VERSION}-${CMAKE_SYSTEM_NAME})
  set(quorva_packaged checker library docs)
  # The Debian package installs under /usr; the archive unpacks anywhere.
  set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/cpack_options.cmake)
  set(CPACK_DEBIAN_PACKAGE_NAME ${quorva_deb_name})
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION libdevel)
  # The tools' libraries, as dpkg-shlibdeps finds them for a Debian 12 build, written out
  # so that making the package runs no tool that reads the build while it is in use.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.34), libgcc-s1 (>= 3.0), libstdc++6 (>= 11)")
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # The summary above is the synopsis; this is the extended description.
  string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION "An in-memory document of ordered sections and key/value entries, with a\n"
         "byte-exact reader that says why and where a file was rejected, and a writer.\n"
         "This package holds the static library, the C and C++17 headers, a CMake\n"
         "package (find_package(ini)), a pkg-config file, the tools ini-check and\n"
         "ini-edit (which changes settings keeping every other byte of a file) and\n"
         "the user's guide.")
endif()
# One package holding just these parts.
set(CPACK_INSTALL_CMAKE_PROJECTS "")
foreach(component ${quorva_packaged})
  list(APPEND CPACK_INSTALL_CMAKE_PROJECTS ${PROJECT_BINARY_DIR} ${PROJECT_NAME} ${component} /)
endforeach()
include(CPack)
