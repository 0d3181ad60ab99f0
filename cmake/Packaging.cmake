# Install layout and the Debian package.
#
# The executables live in a folder of their own, because that folder is the
# application directory: the viewer looks for odx.pdf there and writes
# junk.xml there.  bin/ only holds relative symlinks to them; the programs
# resolve /proc/self/exe, which follows the link back to the real folder.
include(GNUInstallDirs)

set(ODX_INSTALL_APPDIR "lib/odx-viewer" CACHE STRING
    "Application directory (relative to the prefix) holding the executables")
if(IS_ABSOLUTE "${ODX_INSTALL_APPDIR}" OR IS_ABSOLUTE "${CMAKE_INSTALL_BINDIR}")
  # The bin/ symlinks are relative so that the tree can be moved or staged.
  message(FATAL_ERROR "ODX_INSTALL_APPDIR and CMAKE_INSTALL_BINDIR must be "
                      "relative to the install prefix")
endif()

set(_odx_programs "")
foreach(_odx_program odx-viewer odx-outline)
  # The window is optional (ODX_BUILD_GUI), so install only what is built.
  if(TARGET ${_odx_program})
    list(APPEND _odx_programs ${_odx_program})
  endif()
endforeach()

if(_odx_programs)
  install(TARGETS ${_odx_programs} RUNTIME DESTINATION ${ODX_INSTALL_APPDIR})
endif()

foreach(_odx_program IN LISTS _odx_programs)
  file(RELATIVE_PATH _odx_link_target "/prefix/${CMAKE_INSTALL_BINDIR}"
       "/prefix/${ODX_INSTALL_APPDIR}/${_odx_program}")
  # Escaped variables are read at install time, so --prefix and DESTDIR
  # (and CPack's staging folder) are honoured.  A regular file already at
  # the link's place (an older install rule put the program in bin/) is
  # replaced: a copy there would take bin/ as its application directory.
  install(CODE "
    set(_bindir \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    file(MAKE_DIRECTORY \"\${_bindir}\")
    file(REMOVE \"\${_bindir}/${_odx_program}\")
    message(STATUS \"Installing: \${_bindir}/${_odx_program} -> ${_odx_link_target}\")
    file(CREATE_LINK \"${_odx_link_target}\" \"\${_bindir}/${_odx_program}\"
         SYMBOLIC)
  ")
endforeach()

if(TARGET odx-viewer)
  # Menu entry, file type and icon only make sense with the window.
  configure_file(${PROJECT_SOURCE_DIR}/packaging/odx-viewer.desktop.in
                 ${PROJECT_BINARY_DIR}/packaging/${ODX_DESKTOP_ID} @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/packaging/${ODX_DESKTOP_ID}
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/odx-viewer.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()
# The file type helps file managers and other tools even without the window.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/odx-viewer.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages)

# --- Debian package (cpack -G DEB; see scripts/package.sh) -----------------
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "odx-viewer")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "Kestrane")
set(CPACK_PACKAGE_CONTACT
    "Kestrane ODX viewer team <odx-viewer@example.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "viewer for ODX automotive diagnostic data files")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# The summary above is the synopsis line; this is the extended text.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "${ODX_PRODUCT_NAME} loads an ODX file (the XML format in which automotive
diagnostic data is exchanged) and shows it as an outline tree with a
filter search. odx-outline prints the same outline on the command line.
.
The ODX standard itself is not included. To use the standard search,
place odx.pdf in /usr/lib/odx-viewer/.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# dpkg-shlibdeps works out the Qt libraries; the PDF viewers that the
# standard search hands over to are optional.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# GIO picks the applications that show a file; it reads file types from
# the shared MIME database.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libglib2.0-0")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "evince | okular, xdg-utils, shared-mime-info")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    "${PROJECT_SOURCE_DIR}/packaging/debian/postinst;${PROJECT_SOURCE_DIR}/packaging/debian/postrm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_SOURCE_GENERATOR "TGZ")
set(CPACK_SOURCE_IGNORE_FILES "/build/;/\\\\.git/;/out/")
include(CPack)
