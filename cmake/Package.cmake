# The Debian package (CPack's DEB generator), written by scripts/package.sh from the
# release build as sonvera_<version>_<arch>.deb.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME sonvera)
set(CPACK_PACKAGE_VENDOR "The Sonvera developers")
set(SONVERA_PACKAGE_MAINTAINER "The Sonvera developers <dev@sonvera.org>"
    CACHE STRING "Maintainer field of the Debian package")
set(CPACK_PACKAGE_CONTACT "${SONVERA_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "measuring instruments on the sound card")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "Sonvera turns the sound card of a PC into measuring instruments for audio\n"
  "signals: an FFT spectrum analyser with THD+N and weighted level readings,\n"
  "a signal generator with a stepped frequency sweep that measures level and\n"
  "phase response, and a two-channel oscilloscope, with correction curves,\n"
  "calibration and a diagram that prints, exports and copies. Without sound\n"
  "hardware it runs on a virtual loopback card. The command sonvera-cli runs\n"
  "the same measurements without a window.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_STRIP_FILES ON)
# The libraries the programs link come from dpkg-shlibdeps (with their versions); what
# is loaded without being linked is named here: the xcb platform plugin (in libqt6gui6
# on Debian 12) and the fonts the diagram and the printout are drawn with.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libqt6widgets6, libqt6printsupport6, libqt6gui6, libportaudio2, libasound2, libsndfile1, fonts-dejavu-core")
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/PackageStaging.cmake)

include(CPack)
