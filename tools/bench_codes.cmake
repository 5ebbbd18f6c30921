# bench_codes: symbols per second of the bare library calls against encoding
# plus conversion into font text, and the Datamatrix encoders side by side
# (libdmtx, ours, Zint when its development files are installed). Not a test;
# run it by hand, Release build.
add_executable(bench_codes ${CMAKE_CURRENT_LIST_DIR}/bench_codes.cpp)
target_link_libraries(bench_codes PRIVATE codiflux_codes PkgConfig::DMTX PkgConfig::QRENCODE)
find_path(ZINT_INCLUDE_DIR zint.h)
find_library(ZINT_LIBRARY zint)
if(ZINT_INCLUDE_DIR AND ZINT_LIBRARY)
  target_include_directories(bench_codes PRIVATE ${ZINT_INCLUDE_DIR})
  target_link_libraries(bench_codes PRIVATE ${ZINT_LIBRARY})
  target_compile_definitions(bench_codes PRIVATE CODIFLUX_BENCH_ZINT=1)
else()
  message(STATUS "Zint not found: bench_codes runs without it")
endif()
