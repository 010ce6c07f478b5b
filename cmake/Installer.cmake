# build-windows/VorlenSenderSetup.exe (NSIS, per user) and build-windows/VorlenSender.msi (wixl,
# per machine), made with the three Windows programs when all three are built. They carry
# stripped copies (build-windows/installer/); the build keeps the programs' debug data.
# packaging/windows/make-packages signs them when VORLEN_SIGN_CERT and VORLEN_SIGN_KEY are set.
if(NOT TARGET vorlen-sender OR NOT TARGET vorlen-send OR NOT TARGET vorlen-archive)
  return()
endif()
find_program(VORLEN_MAKENSIS makensis REQUIRED)
find_program(VORLEN_WIXL wixl REQUIRED)
set(vorlen_packaging ${PROJECT_SOURCE_DIR}/packaging/windows)
set(vorlen_icon ${PROJECT_SOURCE_DIR}/src/app/win32/vorlen-sender.ico)
set(vorlen_packages ${CMAKE_BINARY_DIR}/VorlenSenderSetup.exe ${CMAKE_BINARY_DIR}/VorlenSender.msi)
add_custom_command(OUTPUT ${vorlen_packages}
  COMMAND ${CMAKE_COMMAND} -E env STRIP=${CMAKE_STRIP} MAKENSIS=${VORLEN_MAKENSIS}
          WIXL=${VORLEN_WIXL}
          ${vorlen_packaging}/make-packages ${CMAKE_BINARY_DIR} ${PROJECT_VERSION} ${vorlen_icon}
          $<TARGET_FILE:vorlen-sender> $<TARGET_FILE:vorlen-send> $<TARGET_FILE:vorlen-archive>
  DEPENDS vorlen-sender vorlen-send vorlen-archive ${vorlen_packaging}/make-packages
          ${vorlen_packaging}/authenticode-sign ${vorlen_packaging}/VorlenSender.nsi
          ${vorlen_packaging}/VorlenSender.wxs ${vorlen_icon}
  COMMENT "Making VorlenSenderSetup.exe and VorlenSender.msi"
  VERBATIM)
add_custom_target(installer ALL DEPENDS ${vorlen_packages})
