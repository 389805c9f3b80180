# The Debian package of the Linux build:
#   cmake --build build/linux --target package
# makes build/linux/vantrel_<version>_amd64.deb with the program as
# /usr/sbin/vantrel, its manual page vantrel(8), the README, its pages
# under docs/ and the copyright under /usr/share/doc/vantrel, and the
# settings folder /var/lib/vantrel (mode 0700: the settings file holds the
# webhook's token).
# The library dependencies come from dpkg-shlibdeps, and libcurl4, which the
# program loads when it posts, with ca-certificates, which libcurl only
# recommends and without which no https post can be made. The package enables nothing: `vantrel
# /install` writes and enables the systemd unit, as without the package.
# Its maintainer scripts (packaging/) restart a running service after an
# upgrade, remove the service /install made when the package is removed,
# and delete the settings when it is purged.

install(TARGETS vantrel RUNTIME DESTINATION sbin)

set(doc_dir share/doc/vantrel)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/packaging/copyright DESTINATION ${doc_dir})
# The pages the README links to, so that its links hold where it is installed.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${doc_dir}/docs FILES_MATCHING PATTERN "*.md")

# A native package's changelog, compressed as Debian wants it: gzip -9,
# without a name or a time stamp in it.
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog ${PROJECT_BINARY_DIR}/package/changelog @ONLY)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/package/changelog.gz
                   COMMAND gzip -9 -n -f -k ${PROJECT_BINARY_DIR}/package/changelog
                   DEPENDS ${PROJECT_BINARY_DIR}/package/changelog
                   COMMENT "Compressing the package changelog")
add_custom_target(package_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/package/changelog.gz)
install(FILES ${PROJECT_BINARY_DIR}/package/changelog.gz DESTINATION ${doc_dir})

# The manual page, compressed the same way.
configure_file(${PROJECT_SOURCE_DIR}/packaging/vantrel.8 ${PROJECT_BINARY_DIR}/package/vantrel.8 @ONLY)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/package/vantrel.8.gz
                   COMMAND gzip -9 -n -f -k ${PROJECT_BINARY_DIR}/package/vantrel.8
                   DEPENDS ${PROJECT_BINARY_DIR}/package/vantrel.8
                   COMMENT "Compressing the manual page")
add_custom_target(package_manual ALL DEPENDS ${PROJECT_BINARY_DIR}/package/vantrel.8.gz)
install(FILES ${PROJECT_BINARY_DIR}/package/vantrel.8.gz DESTINATION share/man/man8)

# The private settings folder is meant: lintian is told so.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/lintian-overrides DESTINATION share/lintian/overrides RENAME vantrel)

# An empty folder of the build tree, installed as /var/lib/vantrel.
file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/package/var-lib/vantrel)
install(DIRECTORY ${PROJECT_BINARY_DIR}/package/var-lib/vantrel DESTINATION /var/lib
        DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vantrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_CONTACT "tresk <vantrel@tresk.fi>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Pervasive SQL event watch that tells the team chat")
# The long description; the synopsis line above comes first.
string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Vantrel is a systemd service that reads the journal for errors and\n"
    "warnings written by the Pervasive SQL database engine and posts a notice\n"
    "about them to a chat server's incoming webhook, once per entry.\n"
    "It is installed with `vantrel /install NAME`, checked with `vantrel /test`.")
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# libcurl is loaded when a notice is posted, not linked, so dpkg-shlibdeps
# cannot see it: the package names it itself. libcurl4 only recommends the
# certificate authorities, and an installation without recommends
# (apt-get --no-install-recommends) would fail every https post with "(77)
# Problem with the SSL CA cert": the package depends on them.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libcurl4 (>= 7.88), ca-certificates")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/postinst ${PROJECT_SOURCE_DIR}/packaging/prerm
                                       ${PROJECT_SOURCE_DIR}/packaging/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_GENERATOR "")
include(CPack)
