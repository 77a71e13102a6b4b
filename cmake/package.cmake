# Installs the library, its headers and the executables, and exports a CMake package so an
# application can `find_package(sorvik)` and link `sorvik::sorvik_lib`.
include(CMakePackageConfigHelpers)

install(TARGETS sorvik_lib EXPORT sorvikTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY sorvik_lib/include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS sorvik_helper sorvik RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

set(sorvik_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/sorvik)
install(EXPORT sorvikTargets NAMESPACE sorvik:: DESTINATION ${sorvik_cmake_dir})
configure_package_config_file(cmake/sorvikConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/sorvikConfig.cmake INSTALL_DESTINATION ${sorvik_cmake_dir})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/sorvikConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/sorvikConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/sorvikConfigVersion.cmake DESTINATION ${sorvik_cmake_dir})
