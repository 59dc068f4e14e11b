# yyjson 0.10: through its CMake package, else pkg-config.
find_package(yyjson CONFIG QUIET)
if(TARGET yyjson::yyjson)
  set(FILMO_YYJSON_TARGET yyjson::yyjson)
else()
  find_package(PkgConfig QUIET)
  if(PkgConfig_FOUND)
    pkg_check_modules(YYJSON QUIET IMPORTED_TARGET yyjson>=0.10)
  endif()
  if(YYJSON_FOUND)
    set(FILMO_YYJSON_TARGET PkgConfig::YYJSON)
  else()
    message(FATAL_ERROR
      "yyjson 0.10 was not found (neither its CMake package nor pkg-config 'yyjson').\n"
      "On Debian 12 run scripts/install-deps.sh as root: it installs libyyjson-dev from Debian 13.")
  endif()
endif()

find_package(ZLIB REQUIRED)
if(NOT WIN32)
  find_package(CURL REQUIRED)
endif()
set(THREADS_PREFER_PTHREAD_FLAG ON)
find_package(Threads REQUIRED)
