# A Debian package of everything installed. The libraries the programs link come from
# dpkg-shlibdeps where it is available; the tools and plugins found only at run time are named here.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velumen)
set(CPACK_PACKAGE_VENDOR "Velumen")
set(CPACK_PACKAGE_CONTACT "Velumen maintainers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "stacks series of photographs into star trails and averaged exposures")
set(CPACK_PACKAGE_DESCRIPTION
    "Velumen stacks series of photographs taken from a fixed camera into new images: star trails,\nlight trails, averaged long exposures and the growing timelapse of the stack.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The build keeps debug information; the package does not need it.
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://github.com/velumen/velumen")
find_program(VELUMEN_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(VELUMEN_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    set(VELUMEN_LIBRARY_DEPENDS "")
else()
    set(VELUMEN_LIBRARY_DEPENDS "libqt5widgets5 (>= 5.15), libqt5gui5 (>= 5.15), libqt5core5a (>= 5.15), ")
    # Exiv2 writes the sources' colour profile and camera data into the destinations; libjpeg decodes
    # plain JPEG sources in-process.
    string(APPEND VELUMEN_LIBRARY_DEPENDS "libexiv2-27, libjpeg62-turbo, ")
endif()
# ImageMagick reads every source that is not a plain JPEG; the TIFF writer of the image toolkit is a plugin.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${VELUMEN_LIBRARY_DEPENDS}imagemagick, qt5-image-formats-plugins")
# Qt's own texts of the file choosers in Polish; ffmpeg makes the optional film.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qttranslations5-l10n, ffmpeg")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
include(CPack)
