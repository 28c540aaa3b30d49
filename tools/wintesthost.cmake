# wintesthost: the Windows test host (tools/wintesthost/main.cpp), built in both builds. In the
# Windows build it loads bin/pelidorn.8bf with LoadLibrary, reads its resources and runs it
# under Wine; natively it loads bin/pelidorn_plugin.so and writes or checks the golden outputs
# that the Windows run is compared with (tests/tools registers both runs with ctest).
if(NOT TARGET pelidorn_plugin)
  return()
endif()
add_executable(wintesthost ${CMAKE_CURRENT_LIST_DIR}/wintesthost/main.cpp
  ${CMAKE_CURRENT_LIST_DIR}/wintesthost/published_layout_host.cpp)
target_link_libraries(wintesthost PRIVATE pelidorn_harness pelidorn_scene)
set_target_properties(wintesthost PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
add_dependencies(wintesthost pelidorn_plugin)
