# The sound libraries, from Debian's packages on Linux (libsndfile1-dev,
# libsoxr-dev, libebur128-dev, libkissfft-dev) and, for the Windows build,
# from a prefix of static libraries built from Debian's own source packages
# (QUORVEL_AUDIO_PREFIX, made by scripts/build-windows-audio-libs.sh). Sets
# QUORVEL_AUDIO_FOUND and the imported target quorvel::audio_libraries.
include_guard(GLOBAL)

set(QUORVEL_AUDIO_FOUND OFF)
option(QUORVEL_AUDIO "Build sound decoding, export, conversion and search when their libraries are found" ON)
if(NOT QUORVEL_AUDIO)
  return()
endif()

find_package(PkgConfig QUIET)
if(NOT PkgConfig_FOUND)
  return()
endif()
if(CMAKE_CROSSCOMPILING)
  # Where scripts/build-windows-audio-libs.sh puts them by default: one prefix
  # for every Windows build of this tree (the windows preset, the package).
  set(quorvel_default_audio_prefix "")
  if(WIN32)
    set(quorvel_default_audio_prefix ${PROJECT_SOURCE_DIR}/build/windows-audio)
  endif()
  set(QUORVEL_AUDIO_PREFIX "${quorvel_default_audio_prefix}" CACHE PATH
      "Static sound libraries built for the target (lib/pkgconfig inside)")
  if(NOT QUORVEL_AUDIO_PREFIX OR NOT EXISTS ${QUORVEL_AUDIO_PREFIX}/lib/pkgconfig)
    return()
  endif()
  # Only the prefix's libraries: the host's are for another system.
  set(ENV{PKG_CONFIG_LIBDIR} ${QUORVEL_AUDIO_PREFIX}/lib/pkgconfig)
  set(ENV{PKG_CONFIG_PATH} "")
  set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
endif()
pkg_check_modules(QUORVEL_AUDIO_LIBS QUIET sndfile soxr libebur128 kissfft-float)
if(NOT QUORVEL_AUDIO_LIBS_FOUND)
  return()
endif()
add_library(quorvel_audio_libraries INTERFACE)
if(CMAKE_CROSSCOMPILING)
  # Linked statically into the .exe: every library the codecs need, in the
  # order pkg-config --static gives them, after the objects that call them
  # (link options would come before the objects, and a static library is
  # only searched for what is missing so far).
  target_include_directories(quorvel_audio_libraries SYSTEM INTERFACE ${QUORVEL_AUDIO_LIBS_STATIC_INCLUDE_DIRS})
  target_compile_options(quorvel_audio_libraries INTERFACE ${QUORVEL_AUDIO_LIBS_STATIC_CFLAGS_OTHER})
  target_link_libraries(quorvel_audio_libraries INTERFACE ${QUORVEL_AUDIO_LIBS_STATIC_LDFLAGS})
else()
  target_compile_options(quorvel_audio_libraries INTERFACE ${QUORVEL_AUDIO_LIBS_CFLAGS})
  target_link_libraries(quorvel_audio_libraries INTERFACE ${QUORVEL_AUDIO_LIBS_LINK_LIBRARIES})
endif()
add_library(quorvel::audio_libraries ALIAS quorvel_audio_libraries)
set(QUORVEL_AUDIO_FOUND ON)
