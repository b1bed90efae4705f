# include(StubkitCPack), after find_package(stubkit) and before include(CPack):
# `cpack -G External` stages the install tree and packs everything staged
# (all components, merged into one tree) into ${CPACK_PACKAGE_FILE_NAME}.exe
# in the build folder. The installer is described by the variables users of
# CPack's Windows generators already set:
#   CPACK_NSIS_DISPLAY_NAME, else CPACK_PACKAGE_NAME   the title
#   CPACK_PACKAGE_INSTALL_DIRECTORY          folder proposed under Program Files
#   CPACK_PACKAGE_EXECUTABLES                pairs "exe;Label": Start-menu links
#                                            "Label.lnk" to bin\exe.exe
#   CPACK_NSIS_EXECUTABLES_DIRECTORY         that folder instead of bin
#   CPACK_CREATE_DESKTOP_LINKS               the exes that get a desktop link too
# and a Start-menu link "Uninstall <title>.lnk" to the uninstaller. Beside them:
#   STUBKIT_PROGRAM_GROUP      Start-menu folder (default: the title)
#   STUBKIT_RUN_AFTER_INSTALL  program (relative to the install folder, with
#                              arguments) started after installation
#   STUBKIT_LEVEL              compression level
#   STUBKIT_CODEPAGE           ANSI code page of the target systems
#   STUBKIT_SIGN_PKCS12, STUBKIT_SIGN_CERT, STUBKIT_SIGN_KEY,
#   STUBKIT_SIGN_PASS_FILE, STUBKIT_SIGN_TIMESTAMP (a list), STUBKIT_SIGN_NAME,
#   STUBKIT_SIGN_URL           the --sign-* options of `stubkit build`
# Any of these texts may hold ${VERSION}: stubkit is given the package's
# version (CPACK_PACKAGE_VERSION) as -D VERSION=... The STUBKIT_* variables are
# read at the end of the folder that includes this module, so they may be set
# before or after it.
if(NOT TARGET stubkit::stubkit)
    message(FATAL_ERROR "StubkitCPack: call find_package(stubkit) first")
endif()

set(CPACK_EXTERNAL_ENABLE_STAGING ON)
set(CPACK_EXTERNAL_REQUESTED_VERSIONS "1.0")
set(CPACK_EXTERNAL_PACKAGE_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/StubkitCPackGenerator.cmake)
if(NOT DEFINED CPACK_GENERATOR)
    set(CPACK_GENERATOR External)
endif()
# CPackConfig.cmake carries only CPACK_* variables: the tool's path and the
# STUBKIT_* settings reach the packaging script through a file of their own.
set(CPACK_STUBKIT_SETTINGS ${CMAKE_CURRENT_BINARY_DIR}/StubkitCPackSettings.cmake)

function(_stubkit_cpack_write_settings)
    get_target_property(executable stubkit::stubkit LOCATION)
    set(text "set(STUBKIT_EXECUTABLE [==[${executable}]==])\n")
    foreach(name PROGRAM_GROUP RUN_AFTER_INSTALL LEVEL CODEPAGE SIGN_PKCS12 SIGN_CERT SIGN_KEY SIGN_PASS_FILE
                 SIGN_TIMESTAMP SIGN_NAME SIGN_URL)
        if(DEFINED STUBKIT_${name})
            string(APPEND text "set(STUBKIT_${name} [==[${STUBKIT_${name}}]==])\n")
        endif()
    endforeach()
    file(WRITE ${CPACK_STUBKIT_SETTINGS} "${text}")
endfunction()
cmake_language(DEFER CALL _stubkit_cpack_write_settings)
