# parvelo.exe: the Win32 glue (every module's win32/ folder) around the
# platform-free modules.
add_executable(parvelo WIN32
  app/win32/crec_app.cpp
  app/win32/crec_dlg.cpp
  app/win32/region_frame.cpp
  app/win32/startup_thread.cpp
  app/win32/tray_icon.cpp
  audio/win32/audio_capture.cpp
  audio/win32/loopback_capture.cpp
  audio/win32/mixed_capture.cpp
  audio/win32/sound_output.cpp
  audio/win32/mp3_stream.cpp
  session/win32/recorder_globals.cpp
  session/win32/recording_thread.cpp
  video/win32/capture_video.cpp
  video/win32/codec_installation.cpp
  video/win32/compressed_stream.cpp
  video/win32/d3d_capture.cpp
  video/win32/ddraw_capture.cpp
  video/win32/pointer_overlay.cpp
  ${PARVELO_RESOURCES})
target_compile_options(parvelo PRIVATE ${PARVELO_WARNINGS})
target_include_directories(parvelo PRIVATE ${CMAKE_SOURCE_DIR}/src ${PARVELO_DEPS}/include)
target_link_libraries(parvelo PRIVATE
  parvelo_framework parvelo_app_logic parvelo_session parvelo_video_logic parvelo_audio_logic parvelo_text parvelo_avi
  ${PARVELO_DEPS}/lib/libmp3lame.a
  vfw32 comctl32 winmm shell32 gdi32 user32 ole32 uuid)
target_link_options(parvelo PRIVATE ${PARVELO_STATIC_RUNTIME} -mwindows)
# windres finds the drawn pictures and the manifest through the include path.
add_dependencies(parvelo parvelo_art)
target_include_directories(parvelo PRIVATE ${PARVELO_ART_DIR} ${PARVELO_MANIFEST_DIR}
                                           ${CMAKE_CURRENT_SOURCE_DIR}/res)
set_source_files_properties(${PARVELO_RESOURCES} PROPERTIES OBJECT_DEPENDS
  "${PARVELO_ART};${PARVELO_MANIFEST_DIR}/parvelo.manifest;${CMAKE_CURRENT_SOURCE_DIR}/res/resource.h")
