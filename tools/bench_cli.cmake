# Speed, parallel speed-up against the machine's capacity, cost of --verify and
# peak memory of codiflux-cli on a base of 100 000 records.
find_package(Threads REQUIRED)
add_executable(bench_cli ${CMAKE_CURRENT_LIST_DIR}/bench_cli.cpp)
target_link_libraries(bench_cli PRIVATE Qt6::Core Threads::Threads)
target_compile_definitions(bench_cli PRIVATE CODIFLUX_CLI_EXE="$<TARGET_FILE:codiflux-cli>")
add_dependencies(bench_cli codiflux-cli)
target_include_directories(bench_cli PRIVATE ${CMAKE_SOURCE_DIR})
