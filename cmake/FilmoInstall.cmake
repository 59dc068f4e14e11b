# cmake --install puts the shared library, the public headers, a pkg-config file and a CMake
# package (find_package(filmo) -> filmo::filmo) in place.
include(CMakePackageConfigHelpers)

install(TARGETS filmo EXPORT filmoTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES include/filmo.h include/vornak_http.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
if(WIN32)
  # For hosts whose linker makes its own import library from the module-definition file.
  install(FILES ${PROJECT_BINARY_DIR}/filmo.def DESTINATION ${CMAKE_INSTALL_LIBDIR})
endif()
install(EXPORT filmoTargets NAMESPACE filmo:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/filmo)

configure_package_config_file(cmake/filmoConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/filmoConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/filmo)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/filmoConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/filmoConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/filmoConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/filmo)

# The pkg-config file locates itself, so an installed tree can be moved.
file(RELATIVE_PATH FILMO_PC_TO_PREFIX /x/${CMAKE_INSTALL_LIBDIR}/pkgconfig /x)
configure_file(cmake/filmo.pc.in ${CMAKE_CURRENT_BINARY_DIR}/filmo.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/filmo.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
