# The Windows build: cross-compiled with MinGW against the static Qt of scripts/windows-qt.sh
# (./package --windows, ./test --windows). The programs import only Windows' own libraries.

# xxHash as a header only, from the host's libxxhash-dev: there is no MinGW build of it.
find_file(QUORVEL_XXHASH_HEADER xxhash.h PATHS /usr/include NO_DEFAULT_PATH
          NO_CMAKE_FIND_ROOT_PATH)
if(NOT QUORVEL_XXHASH_HEADER)
    message(FATAL_ERROR "xxhash.h not found: install libxxhash-dev")
endif()
configure_file(${QUORVEL_XXHASH_HEADER} ${CMAKE_BINARY_DIR}/xxhash/xxhash.h COPYONLY)
add_library(PkgConfig::XXHASH INTERFACE IMPORTED)
set_target_properties(PkgConfig::XXHASH PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES ${CMAKE_BINARY_DIR}/xxhash
    INTERFACE_COMPILE_DEFINITIONS XXH_INLINE_ALL)

# The icon, version and manifest are compiled by windres.
enable_language(RC)

# -static-runtime alone still leaves an import of libgcc_s_seh-1.dll and libstdc++-6.dll.
add_link_options(-static)
# The Windows headers' own names, without the parts Qt does not want.
add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX UNICODE _UNICODE)

# Everything goes in one folder: the executables with their support files beside them, where
# the program looks for them.
set(CMAKE_INSTALL_BINDIR .) # over the cache entry Qt's packages may have made already

# The icon, the version and the manifest (long paths, Windows 10) of one program.
function(quorvel_windows_program target description)
    set(QUORVEL_RC_NAME ${target})
    set(QUORVEL_RC_DESCRIPTION ${description})
    set(QUORVEL_RC_ICON ${PROJECT_SOURCE_DIR}/assets/quorvel.ico)
    set(QUORVEL_RC_MANIFEST ${PROJECT_SOURCE_DIR}/scripts/windows/quorvel.manifest)
    configure_file(${PROJECT_SOURCE_DIR}/scripts/windows/program.rc.in
                   ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc @ONLY)
    target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
endfunction()

# Beside the executables: the support files, and the example skins in a folder of their own.
function(quorvel_windows_install)
    install(FILES ${PROJECT_SOURCE_DIR}/assets/HAND-M.CUR ${PROJECT_SOURCE_DIR}/assets/drag.ico
            DESTINATION .)
    install(FILES ${PROJECT_SOURCE_DIR}/skins/slate.qss DESTINATION skins)
    install(FILES ${PROJECT_SOURCE_DIR}/data/copyright DESTINATION . RENAME copyright.txt)
endfunction()
