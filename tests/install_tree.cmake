# Installs the build into a scratch prefix and builds a tiny C host against it, once through
# pkg-config and once through find_package(filmo).
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BINARY_DIR} --prefix ${prefix}
                RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "cmake --install failed")
endif()
file(GLOB pcdir ${prefix}/lib*/pkgconfig ${prefix}/lib/*/pkgconfig)
execute_process(COMMAND ${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${pcdir}
                        pkg-config --cflags --libs filmo
                OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "pkg-config does not find filmo in ${pcdir}")
endif()
separate_arguments(flags UNIX_COMMAND "${flags}")
list(GET pcdir 0 pc0)
get_filename_component(libdir ${pc0} DIRECTORY)
execute_process(COMMAND cc -std=c99 -Wall -Werror ${SOURCE_DIR}/tests/install_host.c ${flags}
                        -Wl,-rpath,${libdir} -o ${WORK_DIR}/host_pc
                RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "building a host with pkg-config flags failed")
endif()
execute_process(COMMAND ${WORK_DIR}/host_pc RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "the pkg-config host failed")
endif()

file(MAKE_DIRECTORY ${WORK_DIR}/cmake_host)
file(WRITE ${WORK_DIR}/cmake_host/CMakeLists.txt "
cmake_minimum_required(VERSION 3.22)
project(host C)
find_package(filmo 1.0 REQUIRED)
add_executable(host ${SOURCE_DIR}/tests/install_host.c)
target_link_libraries(host PRIVATE filmo::filmo)
")
execute_process(COMMAND ${CMAKE_COMMAND} -S ${WORK_DIR}/cmake_host -B ${WORK_DIR}/cmake_host/build
                        -DCMAKE_PREFIX_PATH=${prefix} RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "find_package(filmo) failed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK_DIR}/cmake_host/build RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "building the CMake host failed")
endif()
execute_process(COMMAND ${WORK_DIR}/cmake_host/build/host RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "the CMake host failed")
endif()
