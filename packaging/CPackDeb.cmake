# The Debian package: build/talvino_<version>_<arch>.deb through scripts/package.sh.
# Runtime dependencies: the shared libraries' packages (dpkg-shlibdeps, which reads the media
# module's links as well as the program's) plus what the program loads by name at run time: GStreamer plugins for the media player and the Chinese font.
# SQLite is named as well: the searchable history (history/) needs 3.40 for FTS5's trigram
# tokenizer, a version dpkg-shlibdeps would not ask for.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME talvino)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${TALVINO_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "serverless instant messenger for a local network")
set(CPACK_PACKAGE_DESCRIPTION "Every running copy is a peer known by its IPv4 address: there is no\nserver and no account. Short messages travel over UDP port 2928, files\nover TCP port 2921; a ufw application profile (Talvino) opens both.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, gstreamer1.0-libav, gstreamer1.0-alsa | gstreamer1.0-pulseaudio, fonts-wqy-microhei, libsqlite3-0 (>= 3.40)")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS ufw)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
