# The Windows download: parvelo.exe, x264vfw.dll, README and LICENSE in
# one zip (target "package_zip", output build/win32/parvelo-<version>-win32.zip).
set(PARVELO_ZIP ${CMAKE_BINARY_DIR}/parvelo-${PROJECT_VERSION}-win32.zip)
set(PARVELO_ZIP_FILES $<TARGET_FILE:parvelo> ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/LICENSE)
if(TARGET x264vfw)
  list(APPEND PARVELO_ZIP_FILES $<TARGET_FILE:x264vfw>)
endif()
add_custom_command(
  OUTPUT ${PARVELO_ZIP}
  COMMAND ${CMAKE_COMMAND} -E rm -f ${PARVELO_ZIP}
  COMMAND zip -j -q ${PARVELO_ZIP} ${PARVELO_ZIP_FILES}
  DEPENDS parvelo $<$<TARGET_EXISTS:x264vfw>:x264vfw> ${CMAKE_SOURCE_DIR}/README.md
          ${CMAKE_SOURCE_DIR}/LICENSE
  VERBATIM)
add_custom_target(package_zip DEPENDS ${PARVELO_ZIP})
