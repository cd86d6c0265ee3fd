# SPDX-License-Identifier: MIT
# What `cmake --install` puts beside the binary and the window module: the man page, and for
# the window the launcher entry, the AppStream metainfo, the application icon in the usual
# sizes and the brand mark in the data folder, where the window looks for it first. Every
# destination is relative to the install prefix (GNUInstallDirs), so DESTDIR staging works.

# The man page, from its scdoc source. Without scdoc the build goes on without it.
find_program(SCDOC scdoc)
if(SCDOC)
  set(_man ${CMAKE_BINARY_DIR}/pelorix.1)
  add_custom_command(OUTPUT ${_man}
    COMMAND ${SCDOC} < ${CMAKE_SOURCE_DIR}/docs/pelorix.1.scd > ${_man}
    DEPENDS ${CMAKE_SOURCE_DIR}/docs/pelorix.1.scd
    COMMENT "Building the man page pelorix.1" VERBATIM)
  add_custom_target(pelorix_man ALL DEPENDS ${_man})
  install(FILES ${_man} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(STATUS "scdoc not found: the man page is not built")
endif()

if(PELORIX_BUILD_UI)
  set(PELORIX_APP_ID io.github.pelorix.Pelorix)
  install(FILES ${CMAKE_SOURCE_DIR}/resources/${PELORIX_APP_ID}.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${CMAKE_SOURCE_DIR}/resources/${PELORIX_APP_ID}.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  foreach(size 48 128 256)
    install(FILES ${CMAKE_SOURCE_DIR}/resources/icons/${size}x${size}/pelorix.png
      DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
  # The window finds this folder from the binary (PELORIX_DATADIR_FROM_BINARY).
  install(FILES ${CMAKE_SOURCE_DIR}/resources/PELORIX-mark.png
    ${CMAKE_SOURCE_DIR}/resources/PELORIX-mark@2x.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/pelorix)
endif()
