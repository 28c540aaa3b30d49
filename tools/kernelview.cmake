# `pelidorn_kernelview` (native only): draws the iris kernel image for given iris settings and
# writes it as a gray PNG, so the aperture's shape can be looked at.
if(WIN32 OR NOT TARGET pel_kernel)
  return()
endif()
if(NOT PNG_FOUND)
  message(STATUS "kernelview: libpng not found; the kernel viewer is not built")
  return()
endif()
add_executable(pelidorn_kernelview ${CMAKE_CURRENT_LIST_DIR}/kernelview/main.cpp)
target_link_libraries(pelidorn_kernelview PRIVATE pel_kernel PNG::PNG Threads::Threads)
set_target_properties(pelidorn_kernelview PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
