# cmake -DBUILD_DIR=... -DCHECK=... -P install-and-check.cmake
string(RANDOM LENGTH 8 suffix)
set(prefix "${BUILD_DIR}/tests/package/prefix-${suffix}")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${prefix}"
    RESULT_VARIABLE installed OUTPUT_QUIET)
if(NOT installed EQUAL 0)
    file(REMOVE_RECURSE "${prefix}")
    message(FATAL_ERROR "cmake --install failed (${installed})")
endif()
execute_process(COMMAND "${CHECK}" "${prefix}" RESULT_VARIABLE checked)
file(REMOVE_RECURSE "${prefix}")
if(NOT checked EQUAL 0)
    message(FATAL_ERROR "the installed tree is not complete")
endif()
