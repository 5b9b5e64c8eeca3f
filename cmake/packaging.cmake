# The packages CPack makes from the installation: on Linux `cpack -G DEB` gives
# orrelune_VERSION_ARCH.deb, on Windows `cpack -G ZIP` gives orrelune-VERSION-win64.zip.
set(CPACK_PACKAGE_NAME orrelune)
set(CPACK_PACKAGE_VENDOR "The Orrelune developers")
set(CPACK_PACKAGE_CONTACT "The Orrelune developers")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "animated planar gravitational many-body system")
# Debian's long description: lines of under 80 columns, paragraphs apart.
set(CPACK_PACKAGE_DESCRIPTION [[
Orrelune animates up to 50000 round particles on a field whose opposite
edges are joined. They attract each other by an inverse-square law and,
when merging is on, coalesce into ever larger bodies, conserving mass,
momentum and disc area. When one body has been left alone for a while, the
run restarts with a fresh random population. A parameter dialog sets the
count, the gravitational constant, the density, the particles' size and
speed, and whether they merge.

The package also holds orrelune-sim, which runs the same model without a
window: batch runs, pictures of the field and reproducible checks.]])
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The dialog's labels are Japanese; without such a font they show as boxes.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-vlgothic | fonts-noto-cjk")

if(WIN32)
  set(CPACK_PACKAGE_FILE_NAME orrelune-${PROJECT_VERSION}-win64)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR DEB)
endif()
include(CPack)
