# The stand-in host `pelidorn` (native only): a command-line program that loads the plug-in
# module (pelidorn_plugin.so, built by src/lens beside it in bin/) with dlopen and runs it on
# PNG and TIFF files; `pelidorn_sample`, which draws the sample scene; `pelidorn_resgen`,
# which writes the module's resource files from their one source of truth.
if(WIN32)
  return()
endif()

add_executable(pelidorn_resgen ${CMAKE_CURRENT_LIST_DIR}/pelidorn/resgen.cpp)
target_link_libraries(pelidorn_resgen PRIVATE pel_resources)

if(NOT PNG_FOUND OR NOT TIFF_FOUND)
  message(STATUS "pelidorn: libpng or libtiff not found; the stand-in host is not built")
  return()
endif()

add_library(pelidorn_host STATIC
  ${CMAKE_CURRENT_LIST_DIR}/pelidorn/plugin_host.cpp
  ${CMAKE_CURRENT_LIST_DIR}/pelidorn/module_loader.cpp
  ${CMAKE_CURRENT_LIST_DIR}/pelidorn/image_io.cpp
  ${CMAKE_CURRENT_LIST_DIR}/pelidorn/document.cpp)
target_include_directories(pelidorn_host PUBLIC ${CMAKE_SOURCE_DIR} ${PEL_SRC})
target_link_libraries(pelidorn_host PUBLIC PNG::PNG TIFF::TIFF ${CMAKE_DL_LIBS} pel_resources)

add_executable(pelidorn ${CMAKE_CURRENT_LIST_DIR}/pelidorn/main.cpp)
target_link_libraries(pelidorn PRIVATE pelidorn_host Threads::Threads)
set_target_properties(pelidorn PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
if(TARGET pelidorn_plugin)
  add_dependencies(pelidorn pelidorn_plugin)
endif()

add_executable(pelidorn_sample ${CMAKE_CURRENT_LIST_DIR}/pelidorn/sample_scene.cpp)
target_link_libraries(pelidorn_sample PRIVATE pelidorn_host)
set_target_properties(pelidorn_sample PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
