# The Debian package: `cpack -G DEB` in the build folder makes patch16_<version>_<arch>.deb of
# everything `cmake --install` installs (the program with its icon and desktop entry,
# patch16-sample and patch16-check), under /usr.

set(CPACK_PACKAGE_NAME patch16)
set(CPACK_PACKAGE_CONTACT "patch16 maintainers <patch16@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Database structure upgrade for Vorlan+ 4.0 shops, revision patch15 to patch16")
set(CPACK_PACKAGE_DESCRIPTION
    "Upgrades a shop database from revision patch15 to patch16 in one all-or-nothing run: the \
user-log tables, the price and certificate columns, their indexes and the revision stamp. \
Comes with patch16-sample, which makes sample databases, and patch16-check, which checks them.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
# What the programs link (Qt's widgets, gui and core, SQLite, the C++ run-time), with their
# versions, as dpkg-shlibdeps reads it from the binaries. Qt loads its platform plugins at run
# time, so no binary names them: they are declared by hand.
find_program(PATCH16_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(PATCH16_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS
        "libqt6widgets6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6core6 (>= 6.4), \
libsqlite3-0 (>= 3.37), libstdc++6 (>= 12), libgcc-s1, libc6 (>= 2.34), qt6-qpa-plugins")
endif()
set(CPACK_GENERATOR DEB)
include(CPack)
