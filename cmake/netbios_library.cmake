# SPDX-License-Identifier: MIT
# libkorvel-netbios: the provider as a shared library for other programs.
# Its own sources are the entry points nb30.h declares; everything behind
# them comes from the static korvel_nbt the console and the tests link (its
# objects are position independent and hidden by default, see the top-level
# CMakeLists.txt). The version script keeps the exported names to exactly
# what nb30.h declares.
set(KORVEL_NETBIOS_MAP ${CMAKE_CURRENT_LIST_DIR}/korvel-netbios.map)

add_library(korvel_nbt_shared SHARED ${PROJECT_SOURCE_DIR}/nbt/netbios.cpp ${PROJECT_SOURCE_DIR}/nbt/event_api.cpp)
target_link_libraries(korvel_nbt_shared PUBLIC korvel_nb30 PRIVATE korvel_nbt korvel_nbt_internals)
target_link_options(korvel_nbt_shared PRIVATE "LINKER:--version-script=${KORVEL_NETBIOS_MAP}")
if(NOT KORVEL_SANITIZE AND NOT KORVEL_TSAN)
  target_link_options(korvel_nbt_shared PRIVATE "LINKER:--no-undefined")
endif()
set_target_properties(korvel_nbt_shared PROPERTIES
  OUTPUT_NAME korvel-netbios
  VERSION ${PROJECT_VERSION}
  SOVERSION ${PROJECT_VERSION_MAJOR}
  LINK_DEPENDS ${KORVEL_NETBIOS_MAP})
