# GoogleTest: Debian's installed package for native builds.
find_package(GTest REQUIRED)
include(GoogleTest)
