# Package configuration for find_package(marovetin): the pack file system
# library (marovetin::pkfs) and the platform layer it stands on.
include(CMakeFindDependencyMacro)
find_dependency(Threads)
include("${CMAKE_CURRENT_LIST_DIR}/marovetin-targets.cmake")
