# Installing on Linux: the program, the wallpaper it falls back to, the menu entry with its icons, an
# autostart entry users can copy into their own autostart folder, and the manual page.
# `cmake --install build/release` puts them under CMAKE_INSTALL_PREFIX (/usr/local by default);
# scripts/package-linux packs the same files into a .deb with CPack.
include(GNUInstallDirs)

install(TARGETS desktop-snow RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The program looks for it from its own place, as <bin>/../share/desktop-snow/ (app/Headless.cpp).
install(FILES assets/wallpaper.jpg DESTINATION ${CMAKE_INSTALL_DATADIR}/desktop-snow)
install(FILES assets/linux/desktop-snow-autostart.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/desktop-snow/autostart RENAME desktop-snow.desktop)
install(FILES assets/linux/desktop-snow.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
foreach(size 16 24 32 48 64 128 256)
  install(FILES assets/icons/desktop-snow-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME desktop-snow.png)
endforeach()

# The manual page names the installed paths, so it is filled in when installing, for the prefix installed
# to (`cmake --install --prefix` may differ from the configured one); the package stages with DESTDIR, so the
# prefix stays the package's /usr.
if(IS_ABSOLUTE "${CMAKE_INSTALL_DATADIR}")
  set(ds_datadir "${CMAKE_INSTALL_DATADIR}")
else()
  set(ds_datadir "\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}")
endif()
install(CODE "
  set(PROJECT_VERSION \"${PROJECT_VERSION}\")
  set(CMAKE_INSTALL_FULL_DATADIR \"${ds_datadir}\")
  configure_file(\"${CMAKE_SOURCE_DIR}/docs/desktop-snow.1\" \"${CMAKE_BINARY_DIR}/man/desktop-snow.1\" @ONLY)
  execute_process(COMMAND gzip -9nf \"${CMAKE_BINARY_DIR}/man/desktop-snow.1\" RESULT_VARIABLE ds_gzip)
  if(NOT ds_gzip EQUAL 0)
    message(FATAL_ERROR \"gzip could not compress the manual page\")
  endif()")
install(FILES ${CMAKE_BINARY_DIR}/man/desktop-snow.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The .deb (scripts/package-linux). Its library dependencies are read from the program by dpkg-shlibdeps.
set(CPACK_GENERATOR DEB)
set(CPACK_SET_DESTDIR ON)  # installs for /usr into a staging folder: the manual page names /usr
set(CPACK_PACKAGE_NAME desktop-snow)
set(CPACK_PACKAGE_VENDOR "Kirno snow crew")
set(CPACK_PACKAGE_CONTACT "Kirno snow crew <snow@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "snow falling over the desktop wallpaper")
set(CPACK_PACKAGE_DESCRIPTION
    "Kirno Desktop Snow lets soft white flakes drift over the desktop wallpaper under a wandering wind.\n\
A window just above the wallpaper and below every application window paints the picture and up\n\
to 1000 flakes; a right-click on the snow sets the density, switches the wind and ends the program.")
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://snow.example.org/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
include(CPack)
