# The archive for players and mod managers: Linefold-<version>.zip, made by
# `cpack --preset win32` in the build folder. Its root is the game's Data
# folder (SKSE/Plugins/..., Scripts/...), as mods for the game are laid out:
# mod managers install it as it is, and by hand it is unpacked into Data. The
# readme sits beside the DLL, so that nothing lands loose in Data.

# The DLL only, stripped of its symbols and debug sections (CPACK_STRIP_FILES);
# the import library is of no use to the game.
install(TARGETS Linefold RUNTIME DESTINATION SKSE/Plugins
                         ARCHIVE DESTINATION lib EXCLUDE_FROM_ALL)
install(FILES ${PROJECT_SOURCE_DIR}/papyrus/Linefold.psc ${PROJECT_SOURCE_DIR}/papyrus/LinefoldExample.psc
        DESTINATION Scripts/Source)

# The compiled script, made from Linefold.psc by linefold-pex. That program
# runs on the machine that builds, so this cross build first makes it in a
# native build of its own, native-tools/ in this build folder.
include(ExternalProject)
set(linefold_pex_tool ${PROJECT_BINARY_DIR}/native-tools/linefold-pex)
ExternalProject_Add(linefold_native_tools
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${PROJECT_BINARY_DIR}/native-tools
  CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release -DLINEFOLD_BUILD_TESTS=OFF
  BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target linefold-pex
  BUILD_BYPRODUCTS ${linefold_pex_tool}
  # Its own build decides whether a changed source needs a new program.
  BUILD_ALWAYS ON
  INSTALL_COMMAND "")
set(linefold_pex ${PROJECT_BINARY_DIR}/package/Linefold.pex)
add_custom_command(OUTPUT ${linefold_pex}
  COMMAND ${linefold_pex_tool} ${PROJECT_SOURCE_DIR}/papyrus/Linefold.psc ${linefold_pex}
  DEPENDS ${PROJECT_SOURCE_DIR}/papyrus/Linefold.psc ${linefold_pex_tool} linefold_native_tools
  COMMENT "Compiling papyrus/Linefold.psc to Linefold.pex")
add_custom_target(linefold_script ALL DEPENDS ${linefold_pex})
install(FILES ${linefold_pex} DESTINATION Scripts)

# CR LF, so that the readme reads well in any Windows editor.
configure_file(${PROJECT_SOURCE_DIR}/package/Linefold-readme.txt.in
               ${PROJECT_BINARY_DIR}/package/Linefold-readme.txt @ONLY NEWLINE_STYLE CRLF)
install(FILES ${PROJECT_BINARY_DIR}/package/Linefold-readme.txt DESTINATION SKSE/Plugins)

# linefold-routines.exe, for whoever writes the routine file, goes beside the
# archive, not into it: whatever the archive holds is installed into the
# game's Data folder, where a tool has no business. Stripped, and static
# (CMakeLists.txt), so that it runs wherever it is copied.
set(linefold_routines_release ${PROJECT_BINARY_DIR}/linefold-routines-${PROJECT_VERSION}.exe)
add_custom_command(OUTPUT ${linefold_routines_release}
  COMMAND ${CMAKE_STRIP} -o ${linefold_routines_release} $<TARGET_FILE:linefold-routines>
  DEPENDS linefold-routines
  COMMENT "Stripping linefold-routines.exe to ship beside the archive")
add_custom_target(linefold_routines_release ALL DEPENDS ${linefold_routines_release})

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Linefold)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME Linefold-${PROJECT_VERSION})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_STRIP_FILES TRUE)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR})
include(CPack)
