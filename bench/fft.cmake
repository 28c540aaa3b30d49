# fft_bench: the forward plus inverse real 2-D transform of ov::RealFFFFilter against FFTW
# (single precision, FFTW_ESTIMATE, its threads library when present). FFTW serves only this
# comparison; the plug-in never links it.
add_executable(fft_bench ${CMAKE_CURRENT_LIST_DIR}/fft_bench.cpp)
target_link_libraries(fft_bench PRIVATE pel_fft benchmark::benchmark Threads::Threads)
if(TARGET PkgConfig::FFTW3F)
  target_link_libraries(fft_bench PRIVATE PkgConfig::FFTW3F)
  target_compile_definitions(fft_bench PRIVATE PEL_HAVE_FFTW=1)
  find_library(PEL_FFTW3F_THREADS fftw3f_threads HINTS ${FFTW3F_LIBRARY_DIRS})
  if(PEL_FFTW3F_THREADS)
    target_link_libraries(fft_bench PRIVATE ${PEL_FFTW3F_THREADS})
    target_compile_definitions(fft_bench PRIVATE PEL_HAVE_FFTW_THREADS=1)
  endif()
endif()
