# pixel_copy_bench: copy-convert of a 24-megapixel 8-bit RGBA host image to the float work
# format and back, against a plain memcpy of the same bytes in the same run; prints ratios.
add_executable(pixel_copy_bench ${CMAKE_CURRENT_LIST_DIR}/pixel_copy.cpp)
target_link_libraries(pixel_copy_bench PRIVATE pel_pixel pel_core benchmark::benchmark Threads::Threads)
