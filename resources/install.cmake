# SPDX-License-Identifier: MIT
# Desktop integration: the launcher entry, the application icon in the usual sizes, and the
# brand mark in the data folder where the window looks for it first.
if(PELORIX_BUILD_UI)
  install(FILES ${CMAKE_SOURCE_DIR}/resources/pelorix.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  foreach(size 48 128 256)
    install(FILES ${CMAKE_SOURCE_DIR}/resources/icons/${size}x${size}/pelorix.png
      DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
  # Must match PELORIX_DATADIR, which the window is compiled with.
  install(FILES ${CMAKE_SOURCE_DIR}/resources/PELORIX-mark.png
    ${CMAKE_SOURCE_DIR}/resources/PELORIX-mark@2x.png
    DESTINATION share/pelorix)
endif()
