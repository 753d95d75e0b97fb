# The Debian package (cpack -G DEB, or the package preset): the programs, manual pages, sample
# configuration and bash completion under the built-in root, as `cmake --install` puts them there,
# with etc/filter.conf a conffile so that upgrades keep local edits. Besides, only in the package:
# links in /usr/bin to the two programs, the manual pages compressed in /usr/share/man, the
# completion where bash-completion looks for it, the copyright file and changelog that Debian
# requires, and the lintian overrides for the fixed root. What cpack does beyond this file is in
# cmake/debian/cpack_config.cmake.in (the date, the dependencies, the package's own files) and
# cmake/debian/cpack_finish.cmake (the package owns no /usr/local).

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
# raised to the C library that reads packed relative relocations (see stamp.cmake): dpkg-shlibdeps
# judges by the symbols a program uses, and that need comes with no symbol. cpack_config.cmake
# merges the two into one entry per package, which CPack's own shlibdeps step cannot.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
set(VT_DEPENDS_FLOOR "libc6 (>= 2.36)")
find_program(VT_DPKG_SHLIBDEPS dpkg-shlibdeps)
find_program(VT_DPKG dpkg)
find_program(VT_GIT git)
find_program(VT_GZIP gzip)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(VT_DEBIAN_DIR ${PROJECT_BINARY_DIR}/debian)
file(WRITE ${VT_DEBIAN_DIR}/conffiles "${VT_BUILTIN_ROOT}/etc/filter.conf\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${VT_DEBIAN_DIR}/conffiles)

# Everything the plain installation holds, plus the package's own files, in one package.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_COMPONENTS_ALL Unspecified debian)

# Read by cpack before it installs: it dates the package, states its dependencies and makes the
# package's own files below (the changelog, the compressed pages, the /usr/bin links).
set(VT_PACKAGE_FILES ${VT_DEBIAN_DIR}/files)
set(VT_LINK_TARGET_DIR ${VT_BUILTIN_ROOT}/bin)
cmake_path(RELATIVE_PATH VT_LINK_TARGET_DIR BASE_DIRECTORY /usr/bin)
configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/cpack_config.cmake.in
               ${VT_DEBIAN_DIR}/cpack_config.cmake.in @ONLY)
file(GENERATE OUTPUT ${VT_DEBIAN_DIR}/cpack_config.cmake
     INPUT ${VT_DEBIAN_DIR}/cpack_config.cmake.in)
set(CPACK_PROJECT_CONFIG_FILE ${VT_DEBIAN_DIR}/cpack_config.cmake)
# Run by cpack on the finished package.
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/debian/cpack_finish.cmake)

set(doc /usr/share/doc/${CPACK_PACKAGE_NAME})
install(FILES ${PROJECT_SOURCE_DIR}/cmake/debian/copyright ${VT_PACKAGE_FILES}/changelog.Debian.gz
        DESTINATION ${doc} COMPONENT debian EXCLUDE_FROM_ALL)
install(FILES ${PROJECT_SOURCE_DIR}/cmake/debian/lintian-overrides
        DESTINATION /usr/share/lintian/overrides RENAME ${CPACK_PACKAGE_NAME}
        COMPONENT debian EXCLUDE_FROM_ALL)
install(FILES ${VT_COMPLETION_SCRIPT} ${VT_SUMWELL_COMPLETION_SCRIPT}
        DESTINATION /usr/share/bash-completion/completions
        COMPONENT debian EXCLUDE_FROM_ALL)
# The programs on the standard PATH: the links lead to the programs under the fixed root. The
# self-check reads /proc/self/exe, which names the file under the fixed root, and pathwise answers
# from its own layout, so a call through a link is a call of the program itself.
install(FILES ${VT_PACKAGE_FILES}/pathwise ${VT_PACKAGE_FILES}/sumwell DESTINATION /usr/bin
        COMPONENT debian EXCLUDE_FROM_ALL)
# The manual pages also where man looks for them, compressed as Debian expects.
install(FILES ${VT_PACKAGE_FILES}/pathwise.1.gz ${VT_PACKAGE_FILES}/sumwell.1.gz
        DESTINATION /usr/share/man/man1 COMPONENT debian EXCLUDE_FROM_ALL)
install(FILES ${VT_PACKAGE_FILES}/filter.conf.5.gz DESTINATION /usr/share/man/man5
        COMPONENT debian EXCLUDE_FROM_ALL)

include(CPack)
