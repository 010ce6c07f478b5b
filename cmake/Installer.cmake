# build-windows/VorlenSenderSetup.exe: the NSIS installer of the three Windows programs, built
# with them when all three are. It carries stripped copies; the build keeps their debug data.
if(NOT TARGET vorlen-sender OR NOT TARGET vorlen-send OR NOT TARGET vorlen-archive)
  return()
endif()
find_program(VORLEN_MAKENSIS makensis REQUIRED)
set(vorlen_setup ${CMAKE_BINARY_DIR}/VorlenSenderSetup.exe)
set(vorlen_nsi ${PROJECT_SOURCE_DIR}/packaging/windows/VorlenSender.nsi)
set(vorlen_icon ${PROJECT_SOURCE_DIR}/src/app/win32/vorlen-sender.ico)
set(vorlen_staged ${CMAKE_BINARY_DIR}/installer)
set(vorlen_strip_commands)
foreach(program vorlen-sender vorlen-send vorlen-archive)
  list(APPEND vorlen_strip_commands
    COMMAND ${CMAKE_STRIP} -o ${vorlen_staged}/${program}.exe $<TARGET_FILE:${program}>)
endforeach()
add_custom_command(OUTPUT ${vorlen_setup}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${vorlen_staged}
  ${vorlen_strip_commands}
  COMMAND ${VORLEN_MAKENSIS} -V2 -DVERSION=${PROJECT_VERSION} -DOUTFILE=${vorlen_setup}
          -DICON=${vorlen_icon} -DSENDER_EXE=${vorlen_staged}/vorlen-sender.exe
          -DSEND_EXE=${vorlen_staged}/vorlen-send.exe
          -DARCHIVE_EXE=${vorlen_staged}/vorlen-archive.exe ${vorlen_nsi}
  DEPENDS vorlen-sender vorlen-send vorlen-archive ${vorlen_nsi} ${vorlen_icon}
  COMMENT "Building the installer VorlenSenderSetup.exe"
  VERBATIM)
add_custom_target(installer ALL DEPENDS ${vorlen_setup})
