# The stand-in host and its helpers.
#   pelidorn_harness  the host side of the filter protocol (plugin_host) and module loading;
#                     portable, shared with the Windows test host (tools/wintesthost.cmake)
#   pelidorn          (native) the command-line host: loads bin/pelidorn_plugin.so with dlopen
#                     and runs it on PNG, JPEG and TIFF files
#   pelidorn_sample   (native) draws the sample scene
#   pelidorn_resgen   (native) writes the module's resource files from their source of truth
add_library(pelidorn_harness STATIC
  ${CMAKE_CURRENT_LIST_DIR}/pelidorn/plugin_host.cpp
  ${CMAKE_CURRENT_LIST_DIR}/pelidorn/module_loader.cpp)
target_include_directories(pelidorn_harness PUBLIC ${CMAKE_SOURCE_DIR} ${PEL_SRC})
target_link_libraries(pelidorn_harness PUBLIC pel_resources ${CMAKE_DL_LIBS})

if(WIN32)
  return()
endif()

add_executable(pelidorn_resgen ${CMAKE_CURRENT_LIST_DIR}/pelidorn/resgen.cpp)
target_link_libraries(pelidorn_resgen PRIVATE pel_resources)
set_target_properties(pelidorn_resgen PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

if(NOT PNG_FOUND OR NOT TIFF_FOUND OR NOT JPEG_FOUND OR NOT ZLIB_FOUND OR NOT PEL_LIBDEFLATE OR NOT PEL_LIBDEFLATE_INCLUDE)
  message(STATUS "pelidorn: libpng, libtiff, libjpeg, zlib or libdeflate not found; the stand-in host is not built")
  return()
endif()

add_library(pelidorn_host STATIC
  ${CMAKE_CURRENT_LIST_DIR}/pelidorn/image_io.cpp
  ${CMAKE_CURRENT_LIST_DIR}/pelidorn/image_png.cpp
  ${CMAKE_CURRENT_LIST_DIR}/pelidorn/image_jpeg.cpp
  ${CMAKE_CURRENT_LIST_DIR}/pelidorn/image_tiff.cpp
  ${CMAKE_CURRENT_LIST_DIR}/pelidorn/document.cpp)
target_link_libraries(pelidorn_host PUBLIC pelidorn_harness PNG::PNG TIFF::TIFF JPEG::JPEG ZLIB::ZLIB ${PEL_LIBDEFLATE} Threads::Threads)
target_include_directories(pelidorn_host PUBLIC ${PEL_LIBDEFLATE_INCLUDE})

add_executable(pelidorn ${CMAKE_CURRENT_LIST_DIR}/pelidorn/main.cpp)
target_link_libraries(pelidorn PRIVATE pelidorn_host Threads::Threads)
set_target_properties(pelidorn PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
if(TARGET pelidorn_plugin)
  add_dependencies(pelidorn pelidorn_plugin)
endif()

add_executable(pelidorn_sample ${CMAKE_CURRENT_LIST_DIR}/pelidorn/sample_scene.cpp)
target_link_libraries(pelidorn_sample PRIVATE pelidorn_host pelidorn_scene)
set_target_properties(pelidorn_sample PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
