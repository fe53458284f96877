# What the studio needs, all header-only Debian packages: Boost.Beast and
# Boost.Asio (libboost-dev), nlohmann-json (nlohmann-json3-dev) and xxhash
# (libxxhash-dev, used with XXH_INLINE_ALL). Sets QUORVEL_STUDIO_FOUND and
# QUORVEL_STUDIO_INCLUDES (the include folder to add, if any).
#
# A cross build must not see the host's /usr/include, whose C library
# headers are Linux's: it gets a folder of its own in the build tree that
# holds only links to these three.
include_guard(GLOBAL)

set(QUORVEL_STUDIO_FOUND OFF)
set(QUORVEL_STUDIO_INCLUDES "")
option(QUORVEL_STUDIO "Build the sound studio (--studio) when its libraries are found" ON)
if(NOT QUORVEL_STUDIO)
  return()
endif()

if(CMAKE_CROSSCOMPILING)
  set(QUORVEL_HOST_INCLUDE /usr/include CACHE PATH "Where the host's header-only libraries are, for cross builds")
  if(EXISTS ${QUORVEL_HOST_INCLUDE}/boost/beast.hpp AND EXISTS ${QUORVEL_HOST_INCLUDE}/nlohmann/json.hpp
     AND EXISTS ${QUORVEL_HOST_INCLUDE}/xxhash.h)
    set(links ${PROJECT_BINARY_DIR}/studio-include)
    file(MAKE_DIRECTORY ${links})
    foreach(name boost nlohmann xxhash.h)
      if(NOT EXISTS ${links}/${name})
        file(CREATE_LINK ${QUORVEL_HOST_INCLUDE}/${name} ${links}/${name} SYMBOLIC)
      endif()
    endforeach()
    set(QUORVEL_STUDIO_INCLUDES ${links})
    set(QUORVEL_STUDIO_FOUND ON)
  endif()
else()
  find_path(QUORVEL_BEAST_INCLUDE boost/beast.hpp)
  find_path(QUORVEL_JSON_INCLUDE nlohmann/json.hpp)
  find_path(QUORVEL_XXHASH_INCLUDE xxhash.h)
  if(QUORVEL_BEAST_INCLUDE AND QUORVEL_JSON_INCLUDE AND QUORVEL_XXHASH_INCLUDE)
    set(QUORVEL_STUDIO_INCLUDES ${QUORVEL_BEAST_INCLUDE} ${QUORVEL_JSON_INCLUDE} ${QUORVEL_XXHASH_INCLUDE})
    list(REMOVE_DUPLICATES QUORVEL_STUDIO_INCLUDES)
    set(QUORVEL_STUDIO_FOUND ON)
  endif()
endif()
