# Installing: the Install and ini-check programs, and the library with its header, a CMake package
# (find_package(ini) gives the target ini::ini) and a pkg-config file.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS Install ini-check RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS ini ini_platform EXPORT iniTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/ini/ini.h ${PROJECT_SOURCE_DIR}/ini/ini.hpp
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/ini)

set(ini_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/ini)
install(EXPORT iniTargets NAMESPACE ini:: DESTINATION ${ini_cmake_dir})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/iniConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/iniConfig.cmake
                              INSTALL_DESTINATION ${ini_cmake_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/iniConfigVersion.cmake
                                 VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/iniConfig.cmake ${PROJECT_BINARY_DIR}/iniConfigVersion.cmake
        DESTINATION ${ini_cmake_dir})

file(RELATIVE_PATH ini_pc_to_prefix /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
configure_file(${CMAKE_CURRENT_LIST_DIR}/ini.pc.in ${PROJECT_BINARY_DIR}/ini.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/ini.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
