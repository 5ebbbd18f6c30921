# dmtx_diff: our Datamatrix encoder against libdmtx over generated values
# (run by hand, it takes long; the codes test runs a fixed sample).
add_executable(dmtx_diff ${CMAKE_CURRENT_LIST_DIR}/dmtx_diff.cpp)
target_link_libraries(dmtx_diff PRIVATE codiflux_codes PkgConfig::DMTX)
