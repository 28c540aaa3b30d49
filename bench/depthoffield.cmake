# depthoffield_bench: the depth-of-field blur of a 6000 x 4000 8-bit RGB image with a depth
# ramp at Radius 5 and 20, on one thread and on all cores: seconds, peak work memory, peak
# resident size.
add_executable(depthoffield_bench ${CMAKE_CURRENT_LIST_DIR}/depthoffield.cpp)
target_link_libraries(depthoffield_bench PRIVATE pel_depthoffield benchmark::benchmark Threads::Threads)
