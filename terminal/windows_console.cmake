# quorvel-extractor-cli.exe: the terminal program as a Windows console
# program, beside the desktop program quorvel-extractor.exe (windows/), with
# the same version resource, icon and manifest.
enable_language(RC)
set(QUORVEL_EXE_NAME quorvel-extractor-cli)
set(QUORVEL_EXE_DESCRIPTION "Quorvel Extractor for the console: unpacks the sound archives of the game Quorvel")
configure_file(${PROJECT_SOURCE_DIR}/windows/quorvel-extractor.rc.in quorvel-extractor-cli.rc @ONLY)
set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/quorvel-extractor-cli.rc PROPERTIES OBJECT_DEPENDS
  "${PROJECT_SOURCE_DIR}/windows/quorvel-extractor.ico;${PROJECT_SOURCE_DIR}/windows/quorvel-extractor.manifest")

add_executable(quorvel-extractor-cli main.cpp console_win32.cpp ${CMAKE_CURRENT_BINARY_DIR}/quorvel-extractor-cli.rc)
# shell32: CommandLineToArgvW.
target_link_libraries(quorvel-extractor-cli PRIVATE quorvel_terminal_ui quorvel_win32 shell32)
if(TARGET quorvel_studio)
  # --studio: ws2_32, mswsock and bcrypt come with it.
  target_sources(quorvel-extractor-cli PRIVATE studio_command.cpp)
  target_link_libraries(quorvel-extractor-cli PRIVATE quorvel_studio)
endif()
if(TARGET quorvel_terminal_export)
  # --export: libsndfile with its codecs and libsoxr, linked statically.
  target_link_libraries(quorvel-extractor-cli PRIVATE quorvel_terminal_export)
endif()
target_compile_definitions(quorvel-extractor-cli PRIVATE QUORVEL_VERSION="${PROJECT_VERSION}")
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang" AND NOT MSVC)
  # One self-contained exe, and a console program: no -mwindows.
  target_link_options(quorvel-extractor-cli PRIVATE -static)
endif()
install(TARGETS quorvel-extractor-cli RUNTIME DESTINATION .)
