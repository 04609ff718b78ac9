# The Debian packages, made by CPack from the install rules: whatever the build installs is
# packaged, so a file added to an install rule needs no second list here.
#   pellamark          the program, its module and helpers, help, terms, launcher, metainfo,
#                      icons, manual page (every install rule without a component)
#   pellamark-service  the favourites service as a system service (component service)
# Build them with: cpack --config <build>/CPackConfig.cmake
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pellamark)
set(CPACK_PACKAGE_VENDOR Quellworks)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "Pellamark maintainers <${PELLAMARK_SUPPORT_ADDRESS}>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL pellamark service)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://pellamark.example/")
# Depends from the shared libraries the programs and modules link (dpkg-shlibdeps).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_PELLAMARK_PACKAGE_NAME pellamark)
# What the program loads at run time without linking it, so no library scan can find it: the
# window system plugins (the page view's helper process comes with its library). Wayland and
# the SVG icon are optional.
set(CPACK_DEBIAN_PELLAMARK_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PELLAMARK_PACKAGE_RECOMMENDS "qt6-wayland, qt6-svg-plugins, xdg-utils")
set(CPACK_DEBIAN_PELLAMARK_PACKAGE_SUGGESTS "pellamark-service")
set(CPACK_DEBIAN_PELLAMARK_DESCRIPTION
    "favourite web sites from the notification area
Pellamark lives in the notification area (tray) and shows the page of
your favourite web sites, kept by a favourites service, in a window of
its own. It checks at every start that the service answers, keeps a
small per-user profile and can start at logon.")

set(CPACK_DEBIAN_SERVICE_PACKAGE_NAME pellamark-service)
set(CPACK_DEBIAN_SERVICE_PACKAGE_SECTION web)
set(CPACK_DEBIAN_SERVICE_PACKAGE_DEPENDS "adduser")
set(CPACK_DEBIAN_SERVICE_PACKAGE_CONTROL_EXTRA
    "${PROJECT_SOURCE_DIR}/packaging/service/postinst"
    "${PROJECT_SOURCE_DIR}/packaging/service/prerm"
    "${PROJECT_SOURCE_DIR}/packaging/service/postrm")
set(CPACK_DEBIAN_SERVICE_DESCRIPTION
    "favourites service for Pellamark
The service that keeps the favourites the Pellamark program shows,
started as a system service of its own user on 127.0.0.1:8480, with
its data in /var/lib/pellamark-service. Put a reverse proxy with TLS
in front of it to serve other machines.")

include(CPack)
