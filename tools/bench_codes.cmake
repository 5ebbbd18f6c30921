# bench_codes: symbols per second of the bare library calls against encoding
# plus conversion into font text (not a test; run it by hand, Release build).
add_executable(bench_codes ${CMAKE_CURRENT_LIST_DIR}/bench_codes.cpp)
target_link_libraries(bench_codes PRIVATE codiflux_codes PkgConfig::DMTX PkgConfig::QRENCODE)
