# pelidorn_scene: the deterministic noise that the drawn test scenes share (pelidorn_sample's
# sample scene and the Windows test host's small documents); built in both builds.
add_library(pelidorn_scene STATIC ${CMAKE_CURRENT_LIST_DIR}/scene/scene_random.cpp)
target_include_directories(pelidorn_scene PUBLIC ${CMAKE_SOURCE_DIR})
