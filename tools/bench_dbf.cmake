# Benchmark of the dBase table engine: records read per second over a large table.
add_executable(bench_dbf ${CMAKE_CURRENT_LIST_DIR}/bench_dbf.cpp)
target_link_libraries(bench_dbf PRIVATE codiflux_bases)
