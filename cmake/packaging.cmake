# Installation layout and the Debian package of a validator.
#
#   /usr/bin/tessivo                      the program
#   /usr/lib/tessivo/                     its start check; plug-ins and QML modules of our own
#                                         (plugins/, qml/), found from the program's folder
#   /usr/lib/systemd/system/tessivo.service
#   /etc/default/tessivo                  display platform and extra options (conffile,
#                                         0640 root:tessivo: it may hold the broker password)
#   /usr/share/tessivo/gui.conf           the first configuration, copied once by postinst
#   /opt/orvo/tessivo/{Valid,Invalid}.wav the tones the inspector service plays
#   /var/lib/tessivo/                     working folder: gui.conf, events.ini, test reports,
#                                         serial number (made by postinst, kept on upgrade)
#
# `cpack` in the build folder makes tessivo_<version>_<arch>.deb. The sound and /etc files
# have absolute destinations: stage a plain install with DESTDIR.

set(TESSIVO_PACKAGING_DIR ${CMAKE_CURRENT_SOURCE_DIR}/packaging)

# The tones are made at build time; the same bytes every time.
find_program(TESSIVO_SOX sox)
if(TESSIVO_SOX)
    set(TESSIVO_SOUNDS ${CMAKE_CURRENT_BINARY_DIR}/sounds/Valid.wav ${CMAKE_CURRENT_BINARY_DIR}/sounds/Invalid.wav)
    add_custom_command(
        OUTPUT ${TESSIVO_SOUNDS}
        COMMAND ${TESSIVO_PACKAGING_DIR}/make-sounds ${CMAKE_CURRENT_BINARY_DIR}/sounds
        DEPENDS ${TESSIVO_PACKAGING_DIR}/make-sounds
        COMMENT "Making the validation tones"
        VERBATIM)
    add_custom_target(tessivo_sounds ALL DEPENDS ${TESSIVO_SOUNDS})
    install(FILES ${TESSIVO_SOUNDS} DESTINATION /opt/orvo/tessivo)
else()
    message(WARNING "sox not found (scripts/install-deps installs it): the package will lack Valid.wav and Invalid.wav")
endif()

install(TARGETS tessivo RUNTIME DESTINATION bin)
install(PROGRAMS ${TESSIVO_PACKAGING_DIR}/tessivo-preflight DESTINATION lib/tessivo)
install(FILES ${TESSIVO_PACKAGING_DIR}/tessivo.service DESTINATION lib/systemd/system)
install(FILES ${TESSIVO_PACKAGING_DIR}/gui.conf DESTINATION share/tessivo)
install(FILES ${TESSIVO_PACKAGING_DIR}/tessivo-timedate.rules DESTINATION share/polkit-1/rules.d
        RENAME 50-tessivo-timedate.rules)
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/README.md DESTINATION share/doc/tessivo)
# Not world-readable: TESSIVO_OPTS and TESSIVO_MQTT_PASSWORD may carry the broker password.
# systemd reads it as root; postinst gives it to group tessivo once the group exists.
install(FILES ${TESSIVO_PACKAGING_DIR}/tessivo.default DESTINATION /etc/default RENAME tessivo
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ)

# The bridge to the depot broker, written once per validator by the operator (README, "Fleet").
install(PROGRAMS ${TESSIVO_PACKAGING_DIR}/tessivo-bridge-setup DESTINATION lib/tessivo)

# The package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tessivo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR orvo)
set(CPACK_PACKAGE_CONTACT "orvo validator software <validators@orvo.local>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "passenger touch screen of the ticket validator")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Tessivo shows passengers the outcome of every card and ticket validation and gives\n"
    "technicians a maintenance area behind a PIN. It reaches the validator's services through\n"
    "the MQTT broker and runs as the tessivo systemd service.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Libraries the program links come from dpkg-shlibdeps; what it loads at run time is named here:
# the QML modules of the scene, the SVG image plug-in, and adduser for the service user.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "adduser, libqt5svg5, qml-module-qtquick2, qml-module-qtquick-window2, qml-module-qtquick-controls2, qml-module-qtquick-templates2, qml-module-qtquick-layouts, qml-module-qtgraphicaleffects, qml-module-qtqml-models2")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "mosquitto, libgl1-mesa-dri")
configure_file(${TESSIVO_PACKAGING_DIR}/debian/conffiles ${CMAKE_CURRENT_BINARY_DIR}/debian/conffiles COPYONLY)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${TESSIVO_PACKAGING_DIR}/debian/postinst
    ${TESSIVO_PACKAGING_DIR}/debian/prerm
    ${TESSIVO_PACKAGING_DIR}/debian/postrm
    ${CMAKE_CURRENT_BINARY_DIR}/debian/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
# A cross build (cmake/toolchain-<arch>.cmake) names the package's architecture, which cpack
# would otherwise take from the build machine, and has dpkg-shlibdeps read the libraries and
# symbol files of that architecture.
if(TESSIVO_DEBIAN_ARCH)
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${TESSIVO_DEBIAN_ARCH})
    file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/CPackCross.cmake
        "set(ENV{DEB_HOST_ARCH} ${TESSIVO_DEBIAN_ARCH})\nset(ENV{OBJDUMP} ${CMAKE_OBJDUMP})\n")
    set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_BINARY_DIR}/CPackCross.cmake)
endif()
# Only the installed tree goes into the package, never the build folder's leftovers.
set(CPACK_STRIP_FILES ON)
include(CPack)
