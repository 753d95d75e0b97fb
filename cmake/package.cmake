# The Debian package (cpack -G DEB, or the package preset): the programs, manual pages, sample
# configuration and bash completion under the built-in root, as `cmake --install` puts them there,
# with etc/filter.conf a conffile so that upgrades keep local edits. Besides, only in the package:
# the copyright file and changelog that Debian requires, the lintian overrides for the fixed root,
# and the completion where bash-completion looks for it.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velmar-tools)
set(CPACK_PACKAGE_VENDOR "Velmar")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)
set(CPACK_PACKAGING_INSTALL_PREFIX ${VT_BUILTIN_ROOT})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "path queries and MD5 checksums for the Velmar mail filter")
set(CPACK_PACKAGE_DESCRIPTION
    "Two command-line programs of the Velmar mail-filtering server installation.\n\
pathwise tells administration scripts where every file of the installation\n\
lives and what the main configuration file says; sumwell prints MD5 checksums\n\
of files. Both check the integrity of their own executable at start.")
set(VT_PACKAGE_MAINTAINER
    "Velmar tools maintainers <maintainers@users.noreply.c-seed-8826a550.example>"
    CACHE STRING "The maintainer named in the Debian package")

set(CPACK_DEBIAN_PACKAGE_NAME ${CPACK_PACKAGE_NAME})
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(VT_DEBIAN_VERSION ${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VT_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The dependencies are what dpkg-shlibdeps (from dpkg-dev) finds the programs linked against,
# and the C library that reads packed relative relocations (see stamp.cmake): dpkg-shlibdeps
# judges by the symbols a program uses, and that need comes with no symbol.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.36)")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(VT_DEBIAN_DIR ${PROJECT_BINARY_DIR}/debian)
file(WRITE ${VT_DEBIAN_DIR}/conffiles "${VT_BUILTIN_ROOT}/etc/filter.conf\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${VT_DEBIAN_DIR}/conffiles)

# Everything the plain installation holds, plus the package's own files, in one package.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_COMPONENTS_ALL Unspecified debian)

# The changelog's date follows SOURCE_DATE_EPOCH when that is set, for reproducible packages.
string(TIMESTAMP VT_DEBIAN_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/changelog.in ${VT_DEBIAN_DIR}/changelog.Debian
               @ONLY)
find_program(VT_GZIP gzip)
if(VT_GZIP)
  execute_process(COMMAND ${VT_GZIP} -9 -n -f -k ${VT_DEBIAN_DIR}/changelog.Debian)
endif()

set(doc /usr/share/doc/${CPACK_PACKAGE_NAME})
install(FILES ${PROJECT_SOURCE_DIR}/cmake/debian/copyright ${VT_DEBIAN_DIR}/changelog.Debian.gz
        DESTINATION ${doc} COMPONENT debian EXCLUDE_FROM_ALL)
install(FILES ${PROJECT_SOURCE_DIR}/cmake/debian/lintian-overrides
        DESTINATION /usr/share/lintian/overrides RENAME ${CPACK_PACKAGE_NAME}
        COMPONENT debian EXCLUDE_FROM_ALL)
install(FILES ${VT_COMPLETION_SCRIPT} DESTINATION /usr/share/bash-completion/completions
        COMPONENT debian EXCLUDE_FROM_ALL)

include(CPack)
