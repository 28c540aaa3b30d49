# outoffocus_bench: the out-of-focus effect on a 6000 x 4000 8-bit RGB image at Radius 5 and
# 50, on one thread and on all cores, with fresh and with pooled memory: seconds, peak work
# memory, peak resident size, and each step's share (the transforms' among them).
add_executable(outoffocus_bench ${CMAKE_CURRENT_LIST_DIR}/outoffocus.cpp)
target_link_libraries(outoffocus_bench PRIVATE pel_outoffocus benchmark::benchmark Threads::Threads)
