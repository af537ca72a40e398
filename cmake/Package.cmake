# The archive for players and mod managers: Linefold-<version>.zip, made by
# `cpack --preset win32` in the build folder. Everything lies under one
# top-level Data folder, laid out as the game's own Data folder: mod managers
# install such an archive as it is, and by hand it is unpacked straight into
# the game's folder. The readme sits beside the DLL, inside Data, so that
# nothing lands loose in the game's folder and the archive's top level stays
# a single Data folder, which mod managers recognise without asking.

# The DLL only, stripped of its symbols and debug sections (CPACK_STRIP_FILES);
# the import library is of no use to the game.
install(TARGETS Linefold RUNTIME DESTINATION Data/SKSE/Plugins
                         ARCHIVE DESTINATION lib EXCLUDE_FROM_ALL)
install(FILES ${PROJECT_SOURCE_DIR}/papyrus/Linefold.psc ${PROJECT_SOURCE_DIR}/papyrus/LinefoldExample.psc
        DESTINATION Data/Scripts/Source)

# CR LF, so that the readme reads well in any Windows editor.
configure_file(${PROJECT_SOURCE_DIR}/package/Linefold-readme.txt.in
               ${PROJECT_BINARY_DIR}/package/Linefold-readme.txt @ONLY NEWLINE_STYLE CRLF)
install(FILES ${PROJECT_BINARY_DIR}/package/Linefold-readme.txt DESTINATION Data/SKSE/Plugins)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Linefold)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME Linefold-${PROJECT_VERSION})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_STRIP_FILES TRUE)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR})
include(CPack)
