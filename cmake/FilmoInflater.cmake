# The inflater behind the bounded inflate (client/filmo_inflater.h): ISA-L's igzip where it is
# found on Linux x86-64, zlib everywhere else. -DFILMO_INFLATER=zlib or =isal asks for one.
# Sets FILMO_INFLATER_USED (isal or zlib), FILMO_INFLATER_SOURCES (the one inflater file and the
# platform's big-page hint), FILMO_INFLATER_LIBS (what it links besides zlib) and
# FILMO_INFLATER_DEFINE (the record the bounded inflate drives, for the targets that compile
# client/filmo_inflate.cpp).
set(FILMO_INFLATER auto CACHE STRING "Inflater of the bounded inflate: auto, isal or zlib")
set_property(CACHE FILMO_INFLATER PROPERTY STRINGS auto isal zlib)

set(FILMO_INFLATER_USED zlib)
set(FILMO_INFLATER_LIBS "")
if(NOT FILMO_INFLATER STREQUAL "zlib")
  set(filmo_isal_platform OFF)
  if(CMAKE_SYSTEM_NAME STREQUAL "Linux" AND CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
    set(filmo_isal_platform ON)
  endif()
  if(filmo_isal_platform OR FILMO_INFLATER STREQUAL "isal")
    find_package(PkgConfig QUIET)
    if(PkgConfig_FOUND)
      pkg_check_modules(ISAL QUIET IMPORTED_TARGET libisal>=2.25)
    endif()
  endif()
  if(ISAL_FOUND)
    set(FILMO_INFLATER_USED isal)
    set(FILMO_INFLATER_LIBS PkgConfig::ISAL)
  elseif(FILMO_INFLATER STREQUAL "isal")
    message(FATAL_ERROR "FILMO_INFLATER=isal, but ISA-L (pkg-config 'libisal') was not found.\n"
      "On Debian 12 run scripts/install-deps.sh as root: it installs libisal-dev.")
  elseif(filmo_isal_platform)
    message(STATUS "filmo: ISA-L not found, the bounded inflate uses zlib")
  endif()
endif()
set(FILMO_INFLATER_SOURCES client/filmo_inflate_${FILMO_INFLATER_USED}.cpp)
# The big-page hint for the inflate's large blocks: madvise on Linux, nothing elsewhere.
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  list(APPEND FILMO_INFLATER_SOURCES client/filmo_pages_linux.cpp)
else()
  list(APPEND FILMO_INFLATER_SOURCES client/filmo_pages_none.cpp)
endif()
set(FILMO_INFLATER_DEFINE FILMO_INFLATER=filmo_inflater_${FILMO_INFLATER_USED})
message(STATUS "filmo: inflater ${FILMO_INFLATER_USED}")
