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

# Installed by root straight into a prefix whose library directory the loader searches (say
# /usr/local): refresh the loader's cache, so hosts find libfilmo.so.1 at once. Staged installs
# (DESTDIR, as package builds do; the package's trigger runs ldconfig) and private prefixes
# are left alone. Runs last, after every file is in place.
if(NOT WIN32 AND NOT CMAKE_CROSSCOMPILING)
  install(CODE "set(FILMO_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")")
  install(CODE [[
    find_program(FILMO_LDCONFIG ldconfig PATHS /sbin /usr/sbin NO_CACHE)
    execute_process(COMMAND id -u OUTPUT_VARIABLE filmo_uid OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(IS_ABSOLUTE "${FILMO_LIBDIR}")
      set(filmo_libdir "${FILMO_LIBDIR}")
    else()
      set(filmo_libdir "${CMAKE_INSTALL_PREFIX}/${FILMO_LIBDIR}")
    endif()
    file(REAL_PATH "${filmo_libdir}" filmo_libdir)
    set(filmo_searched FALSE)
    if(FILMO_LDCONFIG AND filmo_uid STREQUAL "0" AND "$ENV{DESTDIR}" STREQUAL "")
      # ldconfig -v lists each directory it scans (those that exist) as "dir: (from ...)".
      execute_process(COMMAND ${FILMO_LDCONFIG} -v -N -X OUTPUT_VARIABLE filmo_dirs
                      ERROR_QUIET)
      string(REGEX MATCHALL "(^|\n)/[^:\n]*:" filmo_dirs "${filmo_dirs}")
      foreach(dir IN LISTS filmo_dirs)
        string(REGEX REPLACE "^\n?(.*):$" "\\1" dir "${dir}")
        file(REAL_PATH "${dir}" dir)
        if(dir STREQUAL filmo_libdir)
          set(filmo_searched TRUE)
        endif()
      endforeach()
    endif()
    if(filmo_searched)
      message(STATUS "Refreshing the loader's cache: ldconfig")
      execute_process(COMMAND ${FILMO_LDCONFIG} RESULT_VARIABLE rc)
      if(rc)
        message(WARNING "ldconfig failed; run it as root before starting a host")
      endif()
    else()
      message(STATUS "Not running ldconfig: ${filmo_libdir} is not a library directory the "
                     "loader searches, or this is not a root install into the live system")
    endif()
  ]])
endif()
