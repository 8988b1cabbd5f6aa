# Install rules and the Debian package (scripts/package.sh runs cpack -G DEB).
#
# The package puts the three shipped programs, the skin folder, the packaged
# set.ini and the layout marker into one folder, /opt/quillora, because the
# programs find everything beside themselves; the marker tells them that this
# folder is not the user's to write (the installed layout, see the README).
# The command, the launcher and the icons go where the desktop looks for them.
# Tests, benchmarks, the emulator, the fuzzers and the gallery are not shipped.
#
# Paths are relative to the root: the package installs from "/", and a plain
# `cmake --install` lays out the same tree (under DESTDIR when it is set).
if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
  set(CMAKE_INSTALL_PREFIX "/" CACHE PATH "Install root; the layout below it is fixed" FORCE)
endif()
set(QUILLORA_PROGRAM_DIR opt/quillora)
set(QUILLORA_DOC_DIR usr/share/doc/quillora)
set(QUILLORA_DEB_RELEASE 1)
set(QUILLORA_DEB_VERSION ${PROJECT_VERSION}-${QUILLORA_DEB_RELEASE})

# Every folder the package creates is 755 and every file 644 (programs 755),
# whatever the umask of the build user.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(QUILLORA_FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

# scripts/package.sh builds the shipped programs only; installing does not
# build the whole tree (the tests) first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(package_dir ${CMAKE_BINARY_DIR}/package)
file(MAKE_DIRECTORY ${package_dir})

# The packaged set.ini, written by a small tool from the programs' own
# defaults (packaging/packaged_ini.cpp).
add_executable(quillora-packaged-ini ${PROJECT_SOURCE_DIR}/packaging/packaged_ini.cpp)
target_link_libraries(quillora-packaged-ini PRIVATE quillora_options quillora_common)
set_target_properties(quillora-packaged-ini PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${package_dir}/tools)
add_custom_command(OUTPUT ${package_dir}/set.ini
  COMMAND quillora-packaged-ini ${package_dir}/set.ini
  DEPENDS quillora-packaged-ini
  COMMENT "Writing the packaged set.ini")

# The Debian changelog is kept by hand; its newest entry must be the version
# the package gets, or the package would describe another release.
file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/changelog changelog_head LIMIT_COUNT 1)
if(NOT changelog_head MATCHES "^quillora \\(${QUILLORA_DEB_VERSION}\\) ")
  message(FATAL_ERROR "packaging/changelog starts with \"${changelog_head}\"; add an entry for "
                      "version ${QUILLORA_DEB_VERSION} at its top")
endif()
# Debian wants documentation compressed with gzip -9 and no timestamp.
function(quillora_gzip source output)
  add_custom_command(OUTPUT ${output}
    COMMAND gzip -9 -n -c ${source} > ${output}
    DEPENDS ${source}
    COMMENT "Compressing ${output}")
endfunction()
quillora_gzip(${PROJECT_SOURCE_DIR}/packaging/changelog ${package_dir}/changelog.Debian.gz)
set(man_pages ${package_dir}/quillora.1.gz ${package_dir}/quillora-cli.1.gz)
quillora_gzip(${PROJECT_SOURCE_DIR}/packaging/quillora.1 ${package_dir}/quillora.1.gz)
quillora_gzip(${PROJECT_SOURCE_DIR}/packaging/quillora-cli.1 ${package_dir}/quillora-cli.1.gz)

file(WRITE ${package_dir}/quillora.layout "installed\n")
# The commands on the PATH point across top-level folders, so absolutely.
file(CREATE_LINK /${QUILLORA_PROGRAM_DIR}/Quillora ${package_dir}/quillora SYMBOLIC)
file(CREATE_LINK /${QUILLORA_PROGRAM_DIR}/quillora-cli ${package_dir}/quillora-cli SYMBOLIC)

add_custom_target(quillora_package_files ALL
  DEPENDS ${package_dir}/set.ini ${package_dir}/changelog.Debian.gz ${man_pages})

set(shipped_programs Quillora Update quillora-cli)
install(TARGETS ${shipped_programs} RUNTIME DESTINATION ${QUILLORA_PROGRAM_DIR})
# Relocations are resolved at start and then made read-only, as Debian's
# hardening asks of installed programs.
foreach(program IN LISTS shipped_programs)
  target_link_options(${program} PRIVATE LINKER:-z,relro,-z,now)
endforeach()
install(DIRECTORY ${PROJECT_SOURCE_DIR}/skin DESTINATION ${QUILLORA_PROGRAM_DIR}
  FILE_PERMISSIONS ${QUILLORA_FILE_PERMISSIONS}
  PATTERN gallery EXCLUDE)  # the gallery's own pages; the gallery is not shipped
install(FILES ${package_dir}/set.ini ${package_dir}/quillora.layout DESTINATION ${QUILLORA_PROGRAM_DIR}
  PERMISSIONS ${QUILLORA_FILE_PERMISSIONS})
install(FILES ${package_dir}/quillora ${package_dir}/quillora-cli DESTINATION usr/bin)
install(FILES ${PROJECT_SOURCE_DIR}/desktop/quillora.desktop DESTINATION usr/share/applications
  PERMISSIONS ${QUILLORA_FILE_PERMISSIONS})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/desktop/icons/ DESTINATION usr/share/icons
  FILE_PERMISSIONS ${QUILLORA_FILE_PERMISSIONS}
  FILES_MATCHING PATTERN "*.png" PATTERN "*.svg")
install(FILES ${man_pages} DESTINATION usr/share/man/man1 PERMISSIONS ${QUILLORA_FILE_PERMISSIONS})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/lintian-overrides DESTINATION usr/share/lintian/overrides
  RENAME quillora PERMISSIONS ${QUILLORA_FILE_PERMISSIONS})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${package_dir}/changelog.Debian.gz
  DESTINATION ${QUILLORA_DOC_DIR} PERMISSIONS ${QUILLORA_FILE_PERMISSIONS})

quillora_add_test(packaging_tests
  SOURCES ${PROJECT_SOURCE_DIR}/packaging/tests/packaged_ini_test.cpp
  LIBS quillora_common)
target_compile_definitions(packaging_tests PRIVATE
  QUILLORA_PACKAGED_INI_TOOL="$<TARGET_FILE:quillora-packaged-ini>")
add_dependencies(packaging_tests quillora-packaged-ini)

# ---- the Debian package ----
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillora)
set(CPACK_PACKAGE_VENDOR "Quillora developers")
set(CPACK_PACKAGE_CONTACT "Quillora developers <developers@quillora.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX /)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop client for an online translation service")
# CPack indents each line and turns the empty one into the " ." separator.
set(CPACK_PACKAGE_DESCRIPTION
"Quillora translates documents (Word, Excel, PowerPoint, PDF), audio and
video recordings, pictures and short texts between languages through an
online translation service. Files are uploaded in chunks, the translated
result is saved into the chosen output folder and shown beside the source.

The package holds the windowed program (the quillora command), the
command-line front end quillora-cli on the same task road, and the Update
program, which reports newer versions; installing them is left to the
package manager. The programs, their skin and the packaged settings live
in /opt/quillora; each user's settings live in ~/.config/Quillora.")
set(CPACK_DEBIAN_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE ${QUILLORA_DEB_RELEASE})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION text)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What dpkg-shlibdeps cannot see: the skin's drawings are read through Qt's
# SVG image plugin, the skin's fonts are Noto Sans CJK (every text of the
# program is Chinese), and links, folders and the chat page open through
# xdg-open.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6, fonts-noto-cjk, xdg-utils")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
