# SPDX-License-Identifier: MIT
# `cmake --install`: the console with its desktop integration, and the
# provider as libkorvel-netbios with its header and pkg-config file. The
# components match the Debian packages (debian/*.install):
#   console      korvel
#   library      libkorvel-netbios1
#   development  libkorvel-netbios-dev
include(GNUInstallDirs)

set(KORVEL_APPSTREAM_ID org.korvel.Korvel)

if(KORVEL_CONSOLE)
  install(TARGETS korvel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT console)
  install(FILES ${PROJECT_SOURCE_DIR}/res/korvel.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
          COMPONENT console)
  install(FILES ${PROJECT_SOURCE_DIR}/res/${KORVEL_APPSTREAM_ID}.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT console)
  foreach(size 16 22 24 32 48 64 128 256)
    install(FILES ${PROJECT_SOURCE_DIR}/res/icons/${size}x${size}/korvel.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps COMPONENT console)
  endforeach()
  install(FILES ${PROJECT_SOURCE_DIR}/res/icons/korvel.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT console)
  install(FILES ${PROJECT_SOURCE_DIR}/doc/korvel.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT console)
endif()

install(TARGETS korvel_nbt_shared
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library NAMELINK_COMPONENT development)
install(FILES ${PROJECT_SOURCE_DIR}/nb30/nb30.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/korvel
        COMPONENT development)

# pkg-config paths relative to ${prefix} where GNUInstallDirs gave them so.
foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(KORVEL_PC_${dir} "${CMAKE_INSTALL_${dir}}")
  else()
    set(KORVEL_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
configure_file(${CMAKE_CURRENT_LIST_DIR}/korvel-netbios.pc.in ${PROJECT_BINARY_DIR}/korvel-netbios.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/korvel-netbios.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
        COMPONENT development)
