# The Debian package of the desktop program (scripts/package): CPack's DEB
# generator over the install rules of dist/. Library dependencies come from
# dpkg-shlibdeps; the list below adds what the program loads or calls at run
# time without linking to it.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME veilgate)
set(CPACK_PACKAGE_VENDOR "The Veilgate developers")
set(CPACK_PACKAGE_CONTACT "The Veilgate developers <developers@veilgate.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "hide your IP address behind a proxy of another country")
set(CPACK_PACKAGE_DESCRIPTION
    "Veilgate takes proxy lists from its web service, picks an idle proxy of\n\
the country the user chose and points the user's browsers at it: the\n\
desktop's proxy settings, Firefox and Opera. It keeps running in the system\n\
tray, whose icon shows whether the address is hidden.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://veilgate.org/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Directories of the package are made by the install rules; the control files
# get the modes Debian expects.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# - qt6-qpa-plugins: the X11 and Wayland platform plugins (no window without);
# - gsettings-desktop-schemas: the desktop proxy settings the program writes.
# (The page engine's helper process, libqt6webenginecore6-bin, comes with the
# page engine's library through dpkg-shlibdeps.)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, gsettings-desktop-schemas")
include(CPack)
