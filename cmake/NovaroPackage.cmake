# The Debian package of the player (scripts/package.sh builds it with CMAKE_INSTALL_PREFIX=/usr):
# what "cmake --install" puts in place, with the dependencies dpkg-shlibdeps computes from the
# binaries, the copyright file and the changelog Debian asks for.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME novaro)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION}.0)
set(CPACK_PACKAGE_CONTACT "Novaro <support@novaro.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "augmented-reality scene player")
# The summary is the synopsis line; CPack indents these lines and marks the empty one.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Novaro plays scenes exported from 3D authoring tools as XML settings
files plus models, images, movies and sounds. It opens a camera, finds
the scene's square printed markers in every frame and draws the scene's
objects on them over the live video, with lights, shadows, clipping,
animations, movies and sound.

The package holds the player, its marker, tracking, synthetic-camera
and calibration tools, a Blender exporter add-on and a sample scene
(novaro --demo).")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://novaro.example/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The tracking library is ours and private: dpkg-shlibdeps finds it there instead of asking
# which package provides it.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/run/lib)
# The font is a link to the system's copy; the plugins are loaded at run time, so their
# libraries are found by dpkg-shlibdeps as well (they are installed binaries too).
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation2")
# The exporter add-on under share/novaro/blender runs inside Blender.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "blender")
# The binaries' debug information goes into a novaro-dbgsym package (CPack strips the main package's
# copies itself, so they must reach it unstripped).
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
set(CPACK_STRIP_FILES OFF)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)

set(NOVARO_PACKAGE_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/novaro)
set(NOVARO_CHANGELOG ${CMAKE_BINARY_DIR}/package/changelog.gz)
string(TIMESTAMP NOVARO_PACKAGE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE ${CMAKE_BINARY_DIR}/package/changelog
     "novaro (${PROJECT_VERSION}.0) stable; urgency=medium\n\n"
     "  * Installable player with its tools, data and sample scene.\n\n"
     " -- ${CPACK_PACKAGE_CONTACT}  ${NOVARO_PACKAGE_DATE}\n")
add_custom_command(OUTPUT ${NOVARO_CHANGELOG}
  COMMAND gzip -9n -c ${CMAKE_BINARY_DIR}/package/changelog > ${NOVARO_CHANGELOG}
  DEPENDS ${CMAKE_BINARY_DIR}/package/changelog)
add_custom_target(novaro_changelog ALL DEPENDS ${NOVARO_CHANGELOG})
# The README goes with the scene format: the manual pages, --help and scene-format.md send readers
# to its sections by this installed path.
install(FILES ${CMAKE_SOURCE_DIR}/data/package/copyright ${NOVARO_CHANGELOG}
        ${CMAKE_SOURCE_DIR}/docs/scene-format.md ${CMAKE_SOURCE_DIR}/README.md
        DESTINATION ${NOVARO_PACKAGE_DOC_DIR})

include(CPack)
