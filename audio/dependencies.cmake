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
  set(QUORVEL_AUDIO_PREFIX "" CACHE PATH "Static sound libraries built for the target (lib/pkgconfig inside)")
  if(NOT QUORVEL_AUDIO_PREFIX OR NOT EXISTS ${QUORVEL_AUDIO_PREFIX}/lib/pkgconfig)
    return()
  endif()
  set(ENV{PKG_CONFIG_LIBDIR} ${QUORVEL_AUDIO_PREFIX}/lib/pkgconfig)
  set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
endif()
pkg_check_modules(QUORVEL_AUDIO_LIBS QUIET sndfile soxr libebur128 kissfft-float)
if(NOT QUORVEL_AUDIO_LIBS_FOUND)
  return()
endif()
add_library(quorvel_audio_libraries INTERFACE)
if(CMAKE_CROSSCOMPILING)
  # Linked statically into the .exe: every library the codecs need, in order.
  target_compile_options(quorvel_audio_libraries INTERFACE ${QUORVEL_AUDIO_LIBS_STATIC_CFLAGS})
  target_link_options(quorvel_audio_libraries INTERFACE ${QUORVEL_AUDIO_LIBS_STATIC_LDFLAGS})
else()
  target_compile_options(quorvel_audio_libraries INTERFACE ${QUORVEL_AUDIO_LIBS_CFLAGS})
  target_link_libraries(quorvel_audio_libraries INTERFACE ${QUORVEL_AUDIO_LIBS_LINK_LIBRARIES})
endif()
add_library(quorvel::audio_libraries ALIAS quorvel_audio_libraries)
set(QUORVEL_AUDIO_FOUND ON)
