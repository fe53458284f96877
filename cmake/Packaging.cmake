# Installing and packaging. `cmake --install` puts the program, its manual
# page and its documentation under any prefix; scripts/package.sh turns the
# same install into a Debian package and a .tar.gz (Linux) or a zip (Windows).
include(GNUInstallDirs)

set(QUORVEL_CONTACT "The Quorvel Extractor developers <developers@quorvel-extractor.invalid>")
option(QUORVEL_DEBIAN_LAYOUT "Install the manual page and changelog compressed, with a Debian copyright file" OFF)

if(WIN32)
  # Beside the exe, with Windows line ends so that Notepad shows them right.
  configure_file(packaging/windows/README.txt ${PROJECT_BINARY_DIR}/README.txt @ONLY NEWLINE_STYLE CRLF)
  configure_file(LICENSE ${PROJECT_BINARY_DIR}/LICENSE.txt COPYONLY)
  file(READ ${PROJECT_BINARY_DIR}/LICENSE.txt license_text)
  file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/LICENSE.txt CONTENT "${license_text}" NEWLINE_STYLE CRLF)
  install(FILES ${PROJECT_BINARY_DIR}/README.txt ${PROJECT_BINARY_DIR}/LICENSE.txt DESTINATION .)
  # The sound libraries are linked into the exes: their copyright and
  # licences go with them (kept by scripts/build-windows-audio-libs.sh).
  if(QUORVEL_AUDIO_FOUND)
    if(NOT EXISTS ${QUORVEL_AUDIO_PREFIX}/share/licenses)
      message(FATAL_ERROR "${QUORVEL_AUDIO_PREFIX} holds no licences of the sound libraries: "
                          "run scripts/build-windows-audio-libs.sh again")
    endif()
    install(DIRECTORY ${QUORVEL_AUDIO_PREFIX}/share/licenses/ DESTINATION licenses)
  endif()
else()
  install(FILES README.md LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
  # The pages and pictures the README links to, where its links find them.
  file(GLOB quorvel_docs ${PROJECT_SOURCE_DIR}/docs/*.md ${PROJECT_SOURCE_DIR}/docs/*.png)
  install(FILES ${quorvel_docs} DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs)
  # Shell completion, where bash-completion and zsh look for it.
  install(FILES packaging/completion/quorvel-extractor.bash DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
          RENAME quorvel-extractor)
  install(FILES packaging/completion/_quorvel-extractor DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions)
  if(QUORVEL_DEBIAN_LAYOUT)
    configure_file(packaging/debian/changelog.in ${PROJECT_BINARY_DIR}/changelog @ONLY)
    add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/changelog.gz
      COMMAND gzip -9nfk ${PROJECT_BINARY_DIR}/changelog
      DEPENDS ${PROJECT_BINARY_DIR}/changelog)
    add_custom_target(quorvel_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/changelog.gz)
    install(FILES packaging/debian/copyright ${PROJECT_BINARY_DIR}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
  endif()
endif()

set(CPACK_PACKAGE_NAME quorvel-extractor)
set(CPACK_PACKAGE_VENDOR "The Quorvel Extractor developers")
set(CPACK_PACKAGE_CONTACT ${QUORVEL_CONTACT})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "unpack the sound archives of the game Quorvel")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_SOURCE_DIR}/dist)
set(CPACK_STRIP_FILES ON)
set(CPACK_ARCHIVE_THREADS 0)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME quorvel-extractor-${PROJECT_VERSION}-windows-x86_64)
else()
  set(CPACK_GENERATOR DEB TGZ)
  set(CPACK_PACKAGE_FILE_NAME quorvel-extractor-${PROJECT_VERSION}-linux-x86_64)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${QUORVEL_CONTACT})
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The summary above is the first line; this is the long description.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Run in the game's folder, quorvel-extractor writes every entry of sfx.pak
(and, if asked, speech.pak) into the folders sfx and speech as numbered
files, carving the WAV sounds out of RIFF blocks. It reads each archive once,
in bounded memory, never writes through links, and removes a half-written
file when it fails or is stopped.")
endif()
include(CPack)
