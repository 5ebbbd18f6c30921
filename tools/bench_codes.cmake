# bench_codes: symbols per second of the bare library calls against encoding
# plus conversion into font text, and the Datamatrix encoders side by side
# (libdmtx, ours, Zint when its development files are installed). Not a test;
# run it by hand, Release build.
add_executable(bench_codes ${CMAKE_CURRENT_LIST_DIR}/bench_codes.cpp)
target_link_libraries(bench_codes PRIVATE codiflux_codes PkgConfig::DMTX PkgConfig::QRENCODE)
codiflux_bench_with_zint(bench_codes)
