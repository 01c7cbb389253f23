# The Debian package of both programs, which `cpack` makes in the build folder (the deb preset).
# It is not named hello, and conflicts with Debian's package hello, which installs /usr/bin/hello.
set(CPACK_PACKAGE_NAME vantrel)
set(CPACK_PACKAGE_CONTACT
    "Seed a1e674b9 maintainers <maintainers@users.noreply.c-seed-a1e674b9.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "judge a name, and greet the world")
set(CPACK_PACKAGE_DESCRIPTION [[
vantrel clears the terminal, asks for a name and reads one word: the name
Velmot earns praise, any other word an insult that quotes it back byte for
byte.

hello writes one line: Hello World!]])
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_CONFLICTS hello)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(doc ${CMAKE_INSTALL_DATADIR}/doc/${CPACK_PACKAGE_NAME})

# The package's date: SOURCE_DATE_EPOCH where the builder sets it, else that of the last commit of
# the source folder, else, without git, that of CMakeLists.txt, as a tarball made by `git archive`
# dates every file. string(TIMESTAMP) below takes it from the environment.
set(epoch $ENV{SOURCE_DATE_EPOCH})
if(NOT epoch)
    execute_process(COMMAND git log -1 --format=%ct -- . WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
        OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()
if(NOT epoch)
    file(TIMESTAMP ${PROJECT_SOURCE_DIR}/CMakeLists.txt epoch %s UTC)
endif()
set(ENV{SOURCE_DATE_EPOCH} ${epoch})

# The changelog, in Debian's format: the items of the first section of NEWS, which is the
# project's version, dated from the package.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/NEWS)
file(READ ${PROJECT_SOURCE_DIR}/NEWS news)
if(NOT news MATCHES "\n## [^\n]*\n\n(- [^#]*[^#\n])")
    message(FATAL_ERROR "NEWS: no list of changes under a first heading `## ...`")
endif()
string(REPLACE "\n  " "\n    " items "\n${CMAKE_MATCH_1}")
string(REPLACE "\n- " "\n  * " items "${items}")
string(TIMESTAMP date "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(CONFIGURE OUTPUT changelog @ONLY CONTENT [[
@CPACK_PACKAGE_NAME@ (@PROJECT_VERSION@) unstable; urgency=medium
@items@

 -- @CPACK_PACKAGE_CONTACT@  @date@
]])
add_compressed(compressed-changelog ${PROJECT_BINARY_DIR}/changelog)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright ${PROJECT_BINARY_DIR}/changelog.gz
    DESTINATION ${doc})

# Packages for this machine's architecture only: cpack would label another CPU's binaries with it.
if(CMAKE_CROSSCOMPILING)
    return()
endif()
execute_process(COMMAND dpkg --print-architecture
    OUTPUT_VARIABLE CPACK_DEBIAN_PACKAGE_ARCHITECTURE OUTPUT_STRIP_TRAILING_WHITESPACE)
set(CPACK_DEBIAN_FILE_NAME
    ${CPACK_PACKAGE_NAME}_${PROJECT_VERSION}_${CPACK_DEBIAN_PACKAGE_ARCHITECTURE}.deb)
set(deb ${PROJECT_BINARY_DIR}/${CPACK_DEBIAN_FILE_NAME})
set(CPACK_GENERATOR DEB)
# Run by cpack on the files it is about to pack: folders as Debian has them, whatever the umask of
# whoever makes the package, and SOURCE_DATE_EPOCH, by which it dates them, as configured here.
file(CONFIGURE OUTPUT cpack-staged.cmake @ONLY CONTENT [[
file(CHMOD_RECURSE ${CPACK_TEMPORARY_INSTALL_DIRECTORY} DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(ENV{SOURCE_DATE_EPOCH} @epoch@)
]])
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_BINARY_DIR}/cpack-staged.cmake)
include(CPack)
