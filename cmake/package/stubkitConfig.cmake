# find_package(stubkit): the tool as the imported executable stubkit::stubkit,
# the function stubkit_add_installer(), and the module StubkitCPack on the
# module path (include(StubkitCPack) before include(CPack) lets
# `cpack -G External` write a stubkit installer).
#
# stubkit runs on the build machine: a project cross-compiled for Windows
# finds it with find_package(stubkit NO_CMAKE_FIND_ROOT_PATH) or with
# stubkit_DIR, as toolchain files usually limit package searches to the
# target's root.
if(CMAKE_VERSION VERSION_LESS 3.20)
    set(stubkit_FOUND FALSE)
    set(stubkit_NOT_FOUND_MESSAGE "stubkit's CMake package needs CMake 3.20 or later (this is ${CMAKE_VERSION})")
    return()
endif()
include(${CMAKE_CURRENT_LIST_DIR}/stubkitTargets.cmake)
if(NOT CMAKE_CURRENT_LIST_DIR IN_LIST CMAKE_MODULE_PATH)
    list(APPEND CMAKE_MODULE_PATH ${CMAKE_CURRENT_LIST_DIR})
endif()

# stubkit_add_installer(<name> CONFIG <file.toml> [OUTPUT <file.exe>]
#                       [DEPENDS <targets>...] [LEVEL <n>] [VERSION <v>]
#                       [DEFINE <NAME=VALUE>...])
# Adds the target <name>, which runs `stubkit build` on CONFIG (relative to
# the current source folder) and writes OUTPUT (relative to the current build
# folder; default <name>.exe). CONFIG's `source` names the installed or staged
# tree to pack; DEPENDS lists the targets that must be built (or that stage
# the tree) first. LEVEL is the compression level (default: stubkit's).
# ${VERSION} in the config is VERSION (default: PROJECT_VERSION); DEFINE gives
# more variables, as `stubkit build -D` does.
# The target is built on request (cmake --build . --target <name>), as the
# tree it packs is usually installed after the build.
function(stubkit_add_installer name)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "CONFIG;OUTPUT;LEVEL;VERSION" "DEPENDS;DEFINE")
    if(arg_UNPARSED_ARGUMENTS)
        message(FATAL_ERROR "stubkit_add_installer(${name}): unknown arguments: ${arg_UNPARSED_ARGUMENTS}")
    endif()
    if(NOT arg_CONFIG)
        message(FATAL_ERROR "stubkit_add_installer(${name}): CONFIG <file.toml> is required")
    endif()
    cmake_path(ABSOLUTE_PATH arg_CONFIG BASE_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR} NORMALIZE)
    if(NOT arg_OUTPUT)
        set(arg_OUTPUT ${name}.exe)
    endif()
    cmake_path(ABSOLUTE_PATH arg_OUTPUT BASE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR} NORMALIZE)
    set(level_flag)
    if(DEFINED arg_LEVEL)
        if(NOT arg_LEVEL MATCHES "^[1-9][0-9]?$")
            message(FATAL_ERROR "stubkit_add_installer(${name}): LEVEL '${arg_LEVEL}' is not a compression level")
        endif()
        set(level_flag -${arg_LEVEL})
    endif()
    if(NOT DEFINED arg_VERSION)
        set(arg_VERSION "${PROJECT_VERSION}")
    endif()
    set(definitions -D "VERSION=${arg_VERSION}")
    foreach(definition IN LISTS arg_DEFINE)
        list(APPEND definitions -D "${definition}")
    endforeach()
    add_custom_target(${name}
        COMMAND stubkit::stubkit build ${arg_CONFIG} -o ${arg_OUTPUT} ${level_flag} ${definitions}
        BYPRODUCTS ${arg_OUTPUT}
        DEPENDS ${arg_CONFIG}
        COMMENT "Building the installer ${arg_OUTPUT}"
        VERBATIM)
    if(arg_DEPENDS)
        add_dependencies(${name} ${arg_DEPENDS})
    endif()
endfunction()
