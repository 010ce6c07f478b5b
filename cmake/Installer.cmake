# build-windows/VorlenSenderSetup.exe: the NSIS installer of the three Windows programs, built
# with them when all three are.
if(NOT TARGET vorlen-sender OR NOT TARGET vorlen-send OR NOT TARGET vorlen-archive)
  return()
endif()
find_program(VORLEN_MAKENSIS makensis REQUIRED)
set(vorlen_setup ${CMAKE_BINARY_DIR}/VorlenSenderSetup.exe)
set(vorlen_nsi ${PROJECT_SOURCE_DIR}/packaging/windows/VorlenSender.nsi)
add_custom_command(OUTPUT ${vorlen_setup}
  COMMAND ${VORLEN_MAKENSIS} -V2 -DVERSION=${PROJECT_VERSION} -DOUTFILE=${vorlen_setup}
          -DICON=${PROJECT_SOURCE_DIR}/src/app/win32/vorlen-sender.ico
          -DSENDER_EXE=$<TARGET_FILE:vorlen-sender> -DSEND_EXE=$<TARGET_FILE:vorlen-send>
          -DARCHIVE_EXE=$<TARGET_FILE:vorlen-archive> ${vorlen_nsi}
  DEPENDS vorlen-sender vorlen-send vorlen-archive ${vorlen_nsi}
          ${PROJECT_SOURCE_DIR}/src/app/win32/vorlen-sender.ico
  COMMENT "Building the installer VorlenSenderSetup.exe"
  VERBATIM)
add_custom_target(installer ALL DEPENDS ${vorlen_setup})
