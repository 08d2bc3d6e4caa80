# make package: a Debian package of both programs, their manual pages and completion, through CPack.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME morvath)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${MORVATH_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "terrain viewer for a large height map, with its map toolkit")
set(CPACK_PACKAGE_DESCRIPTION
"Morvath shows one terrain map of 6144 x 4096 cells as a coloured relief mesh
in an OpenGL window, which you pan, coarsen or refine, turn, tilt and scale
with the keyboard and the mouse.

Its toolkit, mvx, makes the map: a generated world, or elevation data from any
raster GDAL reads (GeoTIFF, SRTM, netCDF, ...), true to the ground; it also
checks maps, exports them as PNG or GeoTIFF, and shows any map in the viewer.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends from the libraries the programs link (GDAL, freeglut, libpng, GL), through dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
