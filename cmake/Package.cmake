# The Debian package of the desktop program (scripts/package): CPack's DEB
# generator over the install rules of dist/. Library dependencies come from
# dpkg-shlibdeps; the list below adds what the program loads or calls at run
# time without linking to it.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME veilgate)
set(CPACK_PACKAGE_VENDOR "The Veilgate developers")
set(CPACK_PACKAGE_CONTACT "The Veilgate developers <developers@veilgate.org>")
# Each package has a summary and a description of its own: the first line of
# CPACK_DEBIAN_<COMPONENT>_DESCRIPTION is its summary. No package-wide summary
# is set, since CPack would put it before every package's own.
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

# Three packages from the install rules' components:
# - veilgate (app): the program; /etc/veilgate/veilgate.conf is a conffile.
#   It recommends the page engine: without it, pages open in the user's
#   browser.
# - veilgate-pages (pages): the page engine's module and, through
#   dpkg-shlibdeps, Qt WebEngine.
# - veilgate-service (service): the reference web service with its systemd
#   unit and conffile.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL app pages service)
set(CPACK_DEBIAN_APP_PACKAGE_NAME veilgate)
set(CPACK_DEBIAN_APP_PACKAGE_RECOMMENDS "veilgate-pages (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_APP_PACKAGE_SUGGESTS "veilgate-service")
set(CPACK_DEBIAN_APP_PACKAGE_CONTROL_EXTRA ${CMAKE_SOURCE_DIR}/dist/conffiles)
set(CPACK_DEBIAN_PAGES_PACKAGE_NAME veilgate-pages)
set(CPACK_DEBIAN_PAGES_PACKAGE_DEPENDS "veilgate (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_PAGES_DESCRIPTION "page engine of Veilgate, for pages inside its windows\n\
Shows the pages of Veilgate inside its own windows with Qt WebEngine: the\n\
world map of the country dialog and the banner. Without this package the\n\
program opens those web pages in the user's web browser instead, and the\n\
country dialog names the chosen place in words.")
set(CPACK_DEBIAN_SERVICE_PACKAGE_NAME veilgate-service)
set(CPACK_DEBIAN_SERVICE_PACKAGE_SECTION net)
set(CPACK_DEBIAN_SERVICE_PACKAGE_DEPENDS "geoip-database")
set(CPACK_DEBIAN_SERVICE_PACKAGE_CONTROL_EXTRA
    "${CMAKE_SOURCE_DIR}/dist/service/conffiles;${CMAKE_SOURCE_DIR}/dist/service/postinst;\
${CMAKE_SOURCE_DIR}/dist/service/prerm;${CMAKE_SOURCE_DIR}/dist/service/postrm")
set(CPACK_DEBIAN_SERVICE_DESCRIPTION "reference web service of Veilgate\n\
The web service the Veilgate program takes its proxy lists from: a pool of\n\
proxies kept honest by a checker, the caller's own location, the update\n\
check. Runs as a systemd service on 127.0.0.1:8470, where the program on\n\
the same machine finds it.")
set(CPACK_DEBIAN_APP_DESCRIPTION
    "hide your IP address behind a proxy of another country\n${CPACK_PACKAGE_DESCRIPTION}")
include(CPack)
