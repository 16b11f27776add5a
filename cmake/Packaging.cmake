# `cpack -G DEB` in the build folder makes tolvane_<version>_<arch>.deb: the
# program folder in /usr/lib/tolvane, the /usr/bin link, launcher, icons,
# metainfo and manual pages. Depends come from the binaries, plus what they
# load at run time and cannot show: Qt's X11/Wayland platform plugins, the
# fonts the languages need and iso-codes, whose tables name the languages of
# audio tracks. The package passes lintian (ctest -R package_passes_lintian).
set(CPACK_PACKAGE_NAME tolvane)
set(CPACK_PACKAGE_VENDOR "Tolvane")
set(CPACK_PACKAGE_CONTACT "Tolvane <support@tolvane.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "extract the sound track of video files into WAV or MP3")
set(CPACK_PACKAGE_DESCRIPTION "Tolvane converts the sound track of video files into WAV or MP3 files.
Queue videos from the file dialog, whole folders or by drag and drop, pick
the format, bit rate, sample rate, mono or stereo and an output folder, and
convert the queue in one run with progress for every file. The conversion is
done by libm9s, Tolvane's own encoder on FFmpeg's libraries.")
set(CPACK_PACKAGE_INSTALL_DIRECTORY tolvane)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://tolvane.example/en/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-noto-cjk, fonts-dejavu-core, iso-codes")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils, qt6-translations-l10n")

include(CPack)
