# Each folder of the program is a library of its own that sees only the layers beneath it. A
# layer's headers are reachable through an include root of its own (a link to the folder in the
# build tree), handed on to the layers that link it; nothing puts the source root itself on the
# include path, so an include that reaches up fails the build.
function(tov_layer target folder)
    set(root "${CMAKE_BINARY_DIR}/layers/${folder}")
    # A sub-folder (service/http) keeps its path under the root, so its includes name it whole.
    get_filename_component(parent "${root}/${folder}" DIRECTORY)
    file(MAKE_DIRECTORY "${parent}")
    file(CREATE_LINK "${CMAKE_SOURCE_DIR}/${folder}" "${root}/${folder}" SYMBOLIC)
    get_target_property(kind ${target} TYPE)
    if(kind STREQUAL "INTERFACE_LIBRARY")
        target_include_directories(${target} INTERFACE "${root}")
    else()
        target_include_directories(${target} PUBLIC "${root}")
    endif()
endfunction()
