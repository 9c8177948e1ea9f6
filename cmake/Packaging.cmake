# Installation and the Debian package: the bundle under /opt/vaultine, a desktop entry and icon in
# the system's folders, a `vaultine` command in PATH, the GNOME Shell extension, and the system
# guard with its systemd unit.
set(VAULTINE_INSTALL_ROOT /opt/vaultine)

install(DIRECTORY ${VAULTINE_BUNDLE} DESTINATION ${VAULTINE_INSTALL_ROOT} USE_SOURCE_PERMISSIONS)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/org.vaultine.Vaultine.desktop
    DESTINATION /usr/share/applications)
install(FILES ${CMAKE_SOURCE_DIR}/resources/images/VaultineIcon.svg
    DESTINATION /usr/share/icons/hicolor/scalable/apps RENAME org.vaultine.Vaultine.svg)
install(PROGRAMS ${CMAKE_SOURCE_DIR}/packaging/vaultine DESTINATION /usr/bin)
# The GNOME Shell extension that draws the lock in GNOME on Wayland; without a vaultine-program
# file beside it, it serves the bundle installed above.
install(DIRECTORY ${VAULTINE_SHELL_EXTENSION} DESTINATION /usr/share/gnome-shell/extensions)
# The guard in root's PATH, so that an administrator's `sudo vaultine-guard --forget USER` finds it.
install(TARGETS vaultine-guard RUNTIME DESTINATION /usr/sbin)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/vaultine-guard.service DESTINATION /lib/systemd/system)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vaultine)
set(CPACK_PACKAGE_VENDOR "Vaultine")
set(CPACK_PACKAGE_CONTACT "Vaultine maintainers <support@vaultine.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Protects chosen applications with a password")
set(CPACK_PACKAGE_DESCRIPTION
    "Vaultine intercepts every launch of the applications you lock and covers the screen until the\n right password is typed. Its watchdog, Corvane, keeps it running.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# The shared libraries' packages come from dpkg-shlibdeps; Qt's SVG plugins are loaded at run time
# (the icons and images are SVG), so nothing links them and they are named here; so is Qt's Wayland
# platform, which Vaultine's windows use in a Wayland session.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# deb-systemd-helper and deb-systemd-invoke enable and start the guard from the maintainer scripts.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6 (>= 6.4), qt6-wayland (>= 6.4), init-system-helpers")
# postinst enables and starts the guard, prerm stops it at removal, postrm deletes its state at
# purge.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_SOURCE_DIR}/packaging/debian/postinst
    ${CMAKE_SOURCE_DIR}/packaging/debian/prerm ${CMAKE_SOURCE_DIR}/packaging/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# A Secret Service keeps the password; without one Vaultine says so and does not start protection.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "gnome-keyring")
set(CPACK_PACKAGING_INSTALL_PREFIX /)
include(CPack)
