# Speed and peak memory of a generation against a bare loop of the library calls.
add_executable(bench_generation ${CMAKE_CURRENT_LIST_DIR}/bench_generation.cpp)
target_link_libraries(bench_generation PRIVATE codiflux_generation PkgConfig::DMTX PkgConfig::QRENCODE)
codiflux_bench_with_zint(bench_generation)
